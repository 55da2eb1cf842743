#include "app/fetch/patch_format.h"

namespace patch {

namespace {

void AppendFixed(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

std::uint64_t ReadFixed(std::string_view bytes, std::size_t& at, int width) {
  std::uint64_t value = 0;
  for (int i = 0; i < width; ++i)
    value |= std::uint64_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
  at += width;
  return value;
}

}  // namespace

std::string EncodeHeader(const Header& header) {
  std::string out(kMagic);
  AppendFixed(out, kVersion, 4);
  AppendFixed(out, header.baseSize, 8);
  AppendFixed(out, header.resultSize, 8);
  out += header.baseDigest;
  out += header.resultDigest;
  for (std::uint64_t size : header.streamSizes) AppendFixed(out, size, 8);
  return out;
}

Status DecodeHeader(std::string_view bytes, Header& header) {
  if (bytes.size() < kHeaderSize) return Status::Error("the patch is damaged: it is shorter than its header");
  if (bytes.substr(0, kMagic.size()) != kMagic) return Status::Error("the patch is damaged: it is not a patch");
  std::size_t at = kMagic.size();
  const std::uint64_t version = ReadFixed(bytes, at, 4);
  if (version != kVersion)
    return Status::Error("the patch is of version " + std::to_string(version) + ", this program reads version " +
                         std::to_string(kVersion));
  header.baseSize = ReadFixed(bytes, at, 8);
  header.resultSize = ReadFixed(bytes, at, 8);
  header.baseDigest = std::string(bytes.substr(at, kDigestSize));
  header.resultDigest = std::string(bytes.substr(at + kDigestSize, kDigestSize));
  at += 2 * kDigestSize;
  for (std::uint64_t& size : header.streamSizes) size = ReadFixed(bytes, at, 8);
  return Status();
}

void AppendVarint(std::string& out, std::uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>((value & 0x7f) | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

}  // namespace patch
