#include "app/list/file_entries.h"

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

bool IsDeviceName(std::string_view fileName) {
  // Windows also ignores blanks before the extension ("NUL .txt").
  std::string stem = UpStr(fileName.substr(0, fileName.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (stem == device) return true;
  if (!StartsWith(stem, "COM") && !StartsWith(stem, "LPT")) return false;
  // COM0-9 and LPT0-9, and with the superscript digits 1-3 (UTF-8).
  const std::string_view number = std::string_view(stem).substr(3);
  if (number.size() == 1) return number[0] >= '0' && number[0] <= '9';
  return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

std::string FileNameProblem(std::string_view listedName) {
  const std::string name = RestoredName(listedName);
  if (name.empty()) return "the name is empty";
  // A leading dot also rules out hidden names, which the installation's bulk
  // copy passes over: such a file would be verified but never installed.
  if (name.front() == '.') return "the name starts with a dot";
  for (unsigned char c : listedName) {
    if (c == '/' || c == '\\' || c == ':') return "the name holds a path delimiter";
    if (c < 32 || c == 127) return "the name holds a control character";
    if (std::string_view("<>\"|?*").find(static_cast<char>(c)) != std::string_view::npos)
      return std::string("the name holds '") + static_cast<char>(c) + "', which Windows refuses";
  }
  // Windows drops a trailing dot or blank: the file would land under another name.
  if (name.back() == '.' || name.back() == ' ') return "the name ends in a dot or a blank";
  if (IsDeviceName(name)) return "the name is a device on Windows";
  return {};
}

bool IsPlainFileName(std::string_view listedName) {
  return FileNameProblem(listedName).empty();
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
