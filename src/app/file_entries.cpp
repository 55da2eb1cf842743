#include "app/file_entries.h"

#include <limits>

#include "support/fileutil.h"
#include "support/strfn.h"

std::vector<std::string_view> ListPieces(std::string_view text) {
  std::vector<std::string_view> pieces;
  if (text.empty()) return pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\\', start);
    if (end == std::string_view::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

std::int64_t FirstNumberOf(std::string_view field, std::int64_t dflt) {
  return IntValDef(NumberAt(field), dflt);
}

std::int64_t AddSizes(std::int64_t a, std::int64_t b) {
  if (b > 0 && a > std::numeric_limits<std::int64_t>::max() - b)
    return std::numeric_limits<std::int64_t>::max();
  return a + b;
}

bool ParseFileEntry(std::string_view piece, FileEntry& entry) {
  const std::string shortPiece = ShortStr(piece);
  entry.whole = shortPiece.size() == piece.size();
  entry.name = WordNr(1, shortPiece, ":");
  if (entry.name.empty()) return false;
  entry.size = FirstNumberOf(WordNr(2, shortPiece, ":"), -1);
  entry.checksum = FirstNumberOf(WordNr(3, shortPiece, ":"), kNoChecksum);
  // A checksum is a 32-bit value; one that does not fit is no checksum, as a
  // number that does not convert (it could never match).
  if (entry.checksum < std::numeric_limits<std::int32_t>::min() ||
      entry.checksum > std::numeric_limits<std::int32_t>::max())
    entry.checksum = kNoChecksum;
  return true;
}

std::string FilesSectionOf(std::string_view updateInfo) {
  const std::size_t open = updateInfo.find("<files>");
  if (open == std::string_view::npos) return {};
  const std::size_t from = open + 7;
  const std::size_t close = updateInfo.find("</files>", from);
  if (close == std::string_view::npos) return {};
  std::string files;
  files.reserve(close - from);
  for (char c : updateInfo.substr(from, close - from)) {
    if (c != '\r' && c != '\n') files += c;
  }
  return files;
}

std::string RestoredName(std::string_view listedName) {
  if (!listedName.empty() && listedName.back() == '~') listedName.remove_suffix(1);
  return std::string(listedName);
}

bool IsPlainFileName(std::string_view listedName) {
  const std::string name = RestoredName(listedName);
  // A leading dot also rules out hidden names, which the installation's bulk
  // copy passes over: such a file would be verified but never installed.
  if (name.empty() || name.front() == '.') return false;
  for (unsigned char c : listedName) {
    if (c == '/' || c == '\\' || c == ':' || c < 32 || c == 127) return false;
  }
  return true;
}

std::string UrlPathOfName(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    const bool literal = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                         (c >= '0' && c <= '9') || std::string_view("-._~!$&'()*+,;=@").find(
                                                       static_cast<char>(c)) != std::string_view::npos;
    if (literal) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}
