#include "support/strfn.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsWild(char c) {
  return c == '*' || c == '?';
}

std::string_view Sub(std::string_view s, std::size_t from0, std::size_t count = std::string_view::npos) {
  if (from0 >= s.size()) return {};
  return s.substr(from0, count);
}

// Counts the non-overlapping occurrences of needle in s from the left.
int CountOf(std::string_view needle, std::string_view s) {
  if (needle.empty()) return 0;
  if (needle.size() == 1) return static_cast<int>(std::count(s.begin(), s.end(), needle[0]));
  int count = 0;
  for (std::size_t at = s.find(needle); at != std::string_view::npos; at = s.find(needle, at + needle.size()))
    ++count;
  return count;
}

// 0-based start of the n-th (n >= 1) non-overlapping occurrence, npos if fewer.
std::size_t NthOccurrence(int n, std::string_view needle, std::string_view s) {
  if (n < 1 || needle.empty()) return std::string_view::npos;
  std::size_t at = s.find(needle);
  while (at != std::string_view::npos && --n > 0) at = s.find(needle, at + needle.size());
  return at;
}

// One left-to-right pass replacing every non-overlapping occurrence; the
// result length is measured first so the pass allocates once.
std::string ReplacePass(std::string_view s, std::string_view oldText, std::string_view newText) {
  const int hits = CountOf(oldText, s);
  std::string out;
  out.reserve(s.size() + hits * newText.size() - hits * oldText.size());
  std::size_t from = 0;
  for (std::size_t at = s.find(oldText); at != std::string_view::npos; at = s.find(oldText, from)) {
    out.append(s.substr(from, at - from));
    out.append(newText);
    from = at + oldText.size();
  }
  out.append(s.substr(from));
  return out;
}

bool InWordList(std::string_view list, std::string_view s) {
  return Contains(list, "." + UpStr(s) + ".");
}

}  // namespace

std::string ShortStr(std::string_view s) {
  return std::string(s.substr(0, std::min(s.size(), kShortStrMax)));
}

bool IsPathDelim(char c) {
  return kPathDelims.find(c) != std::string_view::npos;
}

std::string UpStr(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string LowStr(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Paths are never cut: a cut path names another file or directory (it once
// installed into, and emptied, the wrong directory).

bool HasExt(std::string_view name, int& dotPos) {
  const std::string n(name);
  const std::size_t dot = n.rfind('.');
  dotPos = dot == std::string::npos ? 0 : static_cast<int>(dot) + 1;
  if (dotPos == 0) return false;
  // The whole rest is examined, not only 64 characters: guards against a
  // dotted directory (common on Linux: ~/.config/...) passing for an extension.
  return std::none_of(n.begin() + dotPos, n.end(), [](char c) { return c == kPathDelim; });
}

bool HasExt(std::string_view name) {
  int dotPos = 0;
  return HasExt(name, dotPos);
}

std::string AddDefaultExt(std::string_view name, std::string_view ext) {
  const std::string n(name);
  if (n.empty() || HasExt(n)) return n;
  return n + "." + std::string(ext);
}

std::string ForceExt(std::string_view name, std::string_view ext) {
  const std::string n(name);
  if (n.empty()) return n;
  int dotPos = 0;
  if (HasExt(n, dotPos)) return n.substr(0, dotPos) + std::string(ext);
  return n + "." + std::string(ext);
}

std::string ExtOf(std::string_view name) {
  const std::string n(name);
  int dotPos = 0;
  return HasExt(n, dotPos) ? n.substr(dotPos) : std::string();
}

std::string StripExt(std::string_view name) {
  const std::string n(name);
  int dotPos = 0;
  return HasExt(n, dotPos) ? n.substr(0, dotPos - 1) : n;
}

namespace {
// 1-based position of the last path delimiter, 0 when there is none.
std::size_t LastDelimPos(std::string_view p) {
  const std::size_t at = p.find_last_of(kPathDelims);
  return at == std::string_view::npos ? 0 : at + 1;
}
}  // namespace

std::string FileNameOf(std::string_view path) {
  const std::string p(path);
  return p.substr(LastDelimPos(p));
}

bool SameFileName(std::string_view a, std::string_view b) {
  return os::kConventions.namesIgnoreCase ? UpStr(a) == UpStr(b) : a == b;
}

std::string DirOf(std::string_view path) {
  const std::string p(path);
  const std::size_t k = LastDelimPos(p);
  if (k == 0) return {};
  if (k == 1) return p.substr(0, 1);
  if (os::kConventions.driveLetters) {
    if (p[k - 1] == ':') return p.substr(0, k);                  // "C:" from "C:file"
    if (p[k - 2] == ':') return p.substr(0, k);                  // "C:\" from "C:\file"
  }
  return p.substr(0, k - 1);
}

std::string WithTrailingDelimiter(std::string_view path) {
  std::string p(path);
  if (p.empty() || IsPathDelim(p.back())) return p;
  return p + kPathDelim;
}

int WordCount(std::string_view s, std::string_view delim, bool emptyIsNone) {
  if (s.empty()) return emptyIsNone ? 0 : 1;
  return 1 + CountOf(delim, s);
}

int WordNrPos(int n, std::string_view s, std::string_view delim) {
  if (n == 1) return 1;
  const std::size_t at = NthOccurrence(n - 1, delim, s);
  return at == std::string_view::npos ? 0 : static_cast<int>(at + delim.size()) + 1;
}

std::string WordNr(int n, std::string_view s, std::string_view delim) {
  if (s.empty() || n < 1) return {};
  const std::size_t first = delim.empty() ? std::string_view::npos : s.find(delim);
  if (first == std::string_view::npos) return n == 1 ? std::string(s) : std::string();
  if (n == 1) return std::string(s.substr(0, first));
  if (delim.size() > 1 && s.ends_with(delim)) s.remove_suffix(delim.size());
  const std::size_t prev = NthOccurrence(n - 1, delim, s);
  if (prev == std::string_view::npos) return {};
  const std::size_t start = prev + delim.size();
  const std::size_t end = s.find(delim, start);
  return std::string(Sub(s, start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

std::string FirstWord(std::string_view s, std::string_view delim) {
  return WordNr(1, s, delim);
}

std::string WordsFrom(std::string_view s, std::string_view delim, int n) {
  if (s.empty() || WordCount(s, delim, false) < n) return {};
  if (n <= 1) return std::string(s);
  return std::string(Sub(s, WordNrPos(n, s, delim) - 1));
}

std::string LastWords(std::string_view s, std::string_view delim, int n) {
  if (n <= 0) return {};
  const int count = WordCount(s, delim, false);
  return WordsFrom(s, delim, std::max(1, count - n + 1));
}

int Pos(std::string_view needle, std::string_view text, int from) {
  if (needle.empty()) return 0;
  const std::size_t at = text.find(needle, static_cast<std::size_t>(std::max(from, 1) - 1));
  return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

bool Contains(std::string_view text, std::string_view needle) {
  return Pos(needle, text) != 0;
}

int PosText(std::string_view sub, std::string_view s, int from) {
  if (sub.empty() || s.empty() || from < 1) return 0;
  if (s.size() < static_cast<std::size_t>(from) - 1 + sub.size()) return 0;
  return Pos(UpStr(sub), UpStr(s), from);
}

int PosNth(int n, std::string_view sub, std::string_view s) {
  const std::size_t at = NthOccurrence(n, sub, s);
  return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

int LastPos(std::string_view sub, std::string_view s) {
  return PosNth(CountOf(sub, s), sub, s);
}

std::string ReplaceAll(std::string_view s, std::string_view oldText, std::string_view newText) {
  if (s.empty() || oldText.empty() || oldText == newText) return std::string(s);
  // old inside new: every occurrence is replaced once, left to right -- what
  // parking each occurrence under a unique marker achieves. Done by position
  // instead of by a marker text, which guards against a marker that neighbouring
  // text completes or breaks (an endless loop or garbled output).
  if (Contains(newText, oldText)) return ReplacePass(s, oldText, newText);
  std::string text(s);
  const std::size_t first = text.find(oldText);
  if (first == std::string::npos) return text;
  text.replace(first, oldText.size(), newText);
  // Repeat while replacements form new occurrences ("aaab", "ab" -> "b" gives
  // "b"). A budget of bytes processed (far above the |s|^2 that shrinking rules
  // need) guards against rules whose repetition grows or runs without end.
  const std::size_t budget = 4 * s.size() * s.size() + (std::size_t{1} << 22);
  for (std::size_t work = 0; work <= budget && Contains(text, oldText); work += text.size())
    text = ReplacePass(text, oldText, newText);
  return text;
}

char FirstCharOr(std::string_view s, char dflt) {
  return s.empty() ? dflt : s.front();
}

char CharAt(std::string_view s, int pos, char dflt) {
  return pos >= 1 && static_cast<std::size_t>(pos) <= s.size() ? s[pos - 1] : dflt;
}

bool PopChar(std::string& s, char& ch, char dflt) {
  if (s.empty()) {
    ch = dflt;
    return false;
  }
  ch = s.front();
  s.erase(0, 1);
  return true;
}

std::string FirstChars(std::string_view s, int n) {
  return n <= 0 ? std::string() : std::string(s.substr(0, static_cast<std::size_t>(n)));
}

std::string LastChars(std::string_view s, int n) {
  if (n <= 0) return {};
  const std::size_t count = std::min(s.size(), static_cast<std::size_t>(n));
  return std::string(s.substr(s.size() - count));
}

std::string DropLast(std::string_view s, int n) {
  if (n <= 0) return std::string(s);
  if (static_cast<std::size_t>(n) >= s.size()) return {};
  return std::string(s.substr(0, s.size() - n));
}

std::string RestFrom(std::string_view s, int from) {
  return std::string(Sub(s, static_cast<std::size_t>(std::max(from, 1) - 1)));
}

std::string CopyFromTo(std::string_view s, int from, int to) {
  from = std::max(from, 1);
  if (to < from) return {};
  return std::string(Sub(s, from - 1, static_cast<std::size_t>(to - from) + 1));
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.starts_with(prefix);
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.ends_with(suffix);
}

std::string TrimCharLeft(std::string_view s, char ch) {
  const std::size_t at = s.find_first_not_of(ch);
  return at == std::string_view::npos ? std::string() : std::string(s.substr(at));
}

std::string TrimCharRight(std::string_view s, char ch) {
  const std::size_t at = s.find_last_not_of(ch);
  return at == std::string_view::npos ? std::string() : std::string(s.substr(0, at + 1));
}

std::string TrimChar(std::string_view s, char ch) {
  return TrimCharLeft(TrimCharRight(s, ch), ch);
}

std::string TrimBlanks(std::string_view s) {
  return TrimChar(s, ' ');
}

std::string ControlsReplaced(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127) c = '?';
  }
  return out;
}

bool HasDigit(std::string_view s) {
  return std::any_of(s.begin(), s.end(), IsDigit);
}

std::string NumberAt(std::string_view s, int& startPos) {
  startPos = 0;
  const std::string t = ShortStr(s);
  if (!HasDigit(t)) return {};
  const auto numeric = [](char c) { return IsDigit(c) || c == '.'; };
  std::size_t start = 0;
  while (start < t.size()) {
    const char c = t[start];
    if (numeric(c)) break;
    if ((c == '+' || c == '-') && start + 1 < t.size() && numeric(t[start + 1])) break;
    ++start;
  }
  if (start == t.size()) return {};
  std::size_t end = start + 1;
  while (end < t.size() && numeric(t[end])) ++end;
  startPos = static_cast<int>(start) + 1;
  return t.substr(start, end - start);
}

std::string NumberAt(std::string_view s) {
  int startPos = 0;
  return NumberAt(s, startPos);
}

std::string NthNumber(std::string_view s, int n) {
  std::string rest(s);
  std::string number;
  for (int i = 0; i < n; ++i) {
    int startPos = 0;
    number = NumberAt(rest, startPos);
    if (startPos == 0) return {};
    rest.erase(0, startPos - 1 + number.size());
  }
  return number;
}

std::int64_t IntOfDef(std::string_view s, std::int64_t dflt) {
  return IntValDef(NthNumber(ReplaceAll(ShortStr(s), ".", " "), 1), dflt);
}

std::int64_t IntValDef(std::string_view s, std::int64_t dflt) {
  const std::string t = TrimBlanks(ShortStr(s));
  std::size_t i = 0;
  const bool negative = !t.empty() && t[0] == '-';
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) i = 1;
  if (i == t.size()) return dflt;
  // Accumulated as a negative number so that the smallest value fits too.
  std::int64_t value = 0;
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  for (; i < t.size(); ++i) {
    if (!IsDigit(t[i])) return dflt;
    const int digit = t[i] - '0';
    if (value < (kMin + digit) / 10) return dflt;
    value = value * 10 - digit;
  }
  if (negative) return value;
  return value == kMin ? dflt : -value;
}

bool StrToBool(std::string_view s, bool& value) {
  static constexpr std::string_view kTrueWords = ".T.YES.TRUE.ON.EIN.+.1.JA.OUI.SI.";
  static constexpr std::string_view kFalseWords = ".F.NO.FALSE.OFF.AUS.-.0.NEIN.NON.";
  const std::string t = ShortStr(s);
  if (t.empty()) return false;
  if (InWordList(kTrueWords, t)) {
    value = true;
    return true;
  }
  if (InWordList(kFalseWords, t)) {
    value = false;
    return true;
  }
  return false;
}

std::string IntStr(std::int64_t i) {
  return std::to_string(i);
}

std::string IfStr(bool flag, std::string_view a, std::string_view b) {
  return std::string(flag ? a : b);
}

bool WildMatch(std::string_view text, std::string_view pattern) {
  const std::string t = ShortStr(text);
  std::string p = ShortStr(pattern);
  if (p.empty() || p == "*") return true;
  if (p.find_first_of("*?") == std::string::npos) return t == p;
  if (t == p) return true;
  if (!IsWild(p[0]) && (t.empty() || t[0] != p[0])) return false;
  for (char c : p)
    if (!IsWild(c) && t.find(c) == std::string::npos) return false;

  // Anchors at both ends pin a pattern without an outer '*' to the text's ends.
  // They are never cut off (a full-length text would otherwise lose its end).
  const std::string anchoredText = std::string(1, '\0') + t + '\0';
  p = std::string(1, '\0') + p + '\0';
  p = ReplaceAll(p, "?*", "*");
  p = ReplaceAll(p, "*?", "*");
  p = ReplaceAll(p, "**", "*");

  // Literal segments; gap = how many '?' precede the segment (0: a '*').
  // A run of '?' stands for exactly that many characters.
  struct Segment {
    std::string text;
    std::size_t patternPos;
    std::size_t questionMarks;
  };
  std::vector<Segment> segments;
  std::size_t i = 0;
  std::size_t questionMarks = 0;
  while (i < p.size()) {
    if (p[i] == '*') {
      questionMarks = 0;
      ++i;
      continue;
    }
    if (p[i] == '?') {
      ++questionMarks;
      ++i;
      continue;
    }
    const std::size_t end = std::min(p.find_first_of("*?", i), p.size());
    segments.push_back({p.substr(i, end - i), i, questionMarks});
    questionMarks = 0;
    i = end;
  }

  // Each segment leftmost behind the previous one, without backtracking.
  std::size_t searchFrom = 0;
  std::size_t prevTextPos = 0;
  for (std::size_t k = 0; k < segments.size(); ++k) {
    const Segment& seg = segments[k];
    const std::size_t at = anchoredText.find(seg.text, searchFrom);
    if (at == std::string::npos) return false;
    if (k > 0 && seg.questionMarks > 0 &&
        at - prevTextPos != seg.patternPos - segments[k - 1].patternPos)
      return false;
    prevTextPos = at;
    searchFrom = at + seg.text.size();
  }
  return true;
}

const char* TempPChar(std::string_view s) {
  static std::array<std::string, 21> slots;
  static std::size_t index = 0;
  index = (index + 1) % slots.size();
  slots[index].assign(s);
  return slots[index].c_str();
}

bool SameBytes(std::string_view a, std::string_view b, std::size_t n) {
  return a.substr(0, std::min(n, a.size())) == b.substr(0, std::min(n, b.size()));
}

std::uint32_t FileDateOf(double dateTime) {
  constexpr double kFirstDosDay = 29221;  // 1 January 1980
  if (!(dateTime >= kFirstDosDay)) return 0;
  const auto days = static_cast<std::int64_t>(dateTime);
  auto secs = std::llround((dateTime - static_cast<double>(days)) * 86400000.0) / 1000;
  secs = std::min<std::int64_t>(secs, 86399);
  // Days since 30 December 1899 to a civil date (proleptic Gregorian).
  const std::int64_t z = days - 25569 + 719468;  // 25569: 1 January 1970
  const std::int64_t era = z / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  if (year > 2107) return 0;
  const auto date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const auto time = static_cast<std::uint32_t>(((secs / 3600) << 11) | ((secs / 60 % 60) << 5) | (secs % 60 / 2));
  return (date << 16) | time;
}

std::string HexOfBytes(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * bytes.size());
  for (const unsigned char c : bytes) {
    hex += kHex[c >> 4];
    hex += kHex[c & 0xf];
  }
  return hex;
}

bool IsLowerHex(std::string_view text, std::size_t digits) {
  if (text.size() != digits) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::string HashHex(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (const unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4) hex[static_cast<std::size_t>(i)] = kHex[hash & 0xf];
  return hex;
}
