#pragma once
// The pieces of the minisign format that reading and signing share: the
// algorithm tags and sizes, and the text and number helpers of its files.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace minisign_format {

inline constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
inline constexpr std::string_view kUntrusted = "untrusted comment:";
inline constexpr std::string_view kTrusted = "trusted comment: ";
inline constexpr std::string_view kEd25519 = "Ed";  // key and legacy signature algorithm
inline constexpr std::string_view kPrehashed = "ED";
inline constexpr std::string_view kScrypt = "Sc";
inline constexpr std::string_view kNoKdf = std::string_view("\0\0", 2);
inline constexpr std::string_view kBlake2bCheck = "B2";
inline constexpr std::size_t kKeyIdSize = 8;
inline constexpr std::size_t kPublicKeyBytes = 2 + kKeyIdSize + 32;         // 42
inline constexpr std::size_t kSignatureBytes = 2 + kKeyIdSize + 64;         // 74
inline constexpr std::size_t kSaltSize = 32;
inline constexpr std::size_t kSecretPartBytes = kKeyIdSize + 64 + 32;       // key ID, key, check
inline constexpr std::size_t kSecretKeyBytes = 2 + 2 + 2 + kSaltSize + 8 + 8 + kSecretPartBytes;  // 158
// The lines of a text, without their line ends (LF or CR LF).
inline std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (lf == std::string_view::npos) break;
    text.remove_prefix(lf + 1);
  }
  return lines;
}

inline std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

inline void Say(std::string* why, std::string text) {
  if (why) *why = std::move(text);
}

inline std::uint64_t LoadLe64(std::string_view bytes) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[i]);
  return v;
}

inline std::string StoreLe64(std::uint64_t v) {
  std::string bytes(8, '\0');
  for (auto& b : bytes) {
    b = static_cast<char>(v & 0xff);
    v >>= 8;
  }
  return bytes;
}

}  // namespace minisign_format
