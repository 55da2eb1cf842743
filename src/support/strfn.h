#pragma once
// String, word, number, pattern and path functions over 8-bit byte strings.
// Positions are 1-based; 0 means "not found". Only 'a'..'z' / 'A'..'Z' are
// ever case-mapped. "Short strings" are cut to their first 255 bytes on entry
// (ShortStr); the functions documented as taking short strings do that. Paths
// are not short strings: the path functions keep them whole.
// Path functions use the platform's delimiters: '\' and ':' on Windows, '/'
// on Linux ("backslash" in a name means the platform's delimiter).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"

inline constexpr std::size_t kShortStrMax = 255;

// The first 255 bytes of s: the one place where short strings are cut.
std::string ShortStr(std::string_view s);

inline constexpr char kPathDelim = os::kConventions.pathDelimiter;
inline constexpr std::string_view kPathDelims = os::kConventions.pathDelimiters;
bool IsPathDelim(char c);

std::string UpStr(std::string_view s);
std::string LowStr(std::string_view s);

// 64-bit FNV-1a of text as 16 lowercase hex digits: stable across runs and
// builds, for names derived from longer texts.
std::string HashHex(std::string_view text);
// Each byte as two lower-case hexadecimal digits.
std::string HexOfBytes(std::string_view bytes);
// Whether text is exactly `digits` lower-case hexadecimal digits, as
// HexOfBytes writes them.
bool IsLowerHex(std::string_view text, std::size_t digits);

// Whether two file names name the same file: case is ignored where the
// system ignores it.
bool SameFileName(std::string_view a, std::string_view b);
bool HasExt(std::string_view name, int& dotPos);
bool HasExt(std::string_view name);
std::string AddDefaultExt(std::string_view name, std::string_view ext);
std::string ForceExt(std::string_view name, std::string_view ext);
std::string ExtOf(std::string_view name);
std::string StripExt(std::string_view name);
std::string FileNameOf(std::string_view path);
std::string DirOf(std::string_view path);
// The path with the platform's delimiter at its end (added when missing).
std::string WithTrailingDelimiter(std::string_view path);

std::string WordNr(int n, std::string_view s, std::string_view delim);
std::string FirstWord(std::string_view s, std::string_view delim);
int WordCount(std::string_view s, std::string_view delim, bool emptyIsNone);
int WordNrPos(int n, std::string_view s, std::string_view delim);
std::string WordsFrom(std::string_view s, std::string_view delim, int n);
std::string LastWords(std::string_view s, std::string_view delim, int n);

// The process-wide plain search: position of the first occurrence of needle in
// text at or after position from (1-based), 0 when absent; an empty needle is
// never found.
int Pos(std::string_view needle, std::string_view text, int from = 1);
bool Contains(std::string_view text, std::string_view needle);
int PosText(std::string_view sub, std::string_view s, int from);
int PosNth(int n, std::string_view sub, std::string_view s);
int LastPos(std::string_view sub, std::string_view s);
std::string ReplaceAll(std::string_view s, std::string_view oldText, std::string_view newText);

char FirstCharOr(std::string_view s, char dflt);
char CharAt(std::string_view s, int pos, char dflt);
bool PopChar(std::string& s, char& ch, char dflt);
std::string FirstChars(std::string_view s, int n);
std::string LastChars(std::string_view s, int n);
std::string DropLast(std::string_view s, int n);
std::string RestFrom(std::string_view s, int from);
std::string CopyFromTo(std::string_view s, int from, int to);
bool StartsWith(std::string_view s, std::string_view prefix);
bool EndsWith(std::string_view s, std::string_view suffix);

std::string TrimCharLeft(std::string_view s, char ch);
std::string TrimCharRight(std::string_view s, char ch);
std::string TrimChar(std::string_view s, char ch);
std::string TrimBlanks(std::string_view s);

// Text from outside (an update site) as it may be shown: every control
// character (codes 0-31 and 127) replaced by '?', so that it cannot move the
// cursor, retitle or clear a terminal.
std::string ControlsReplaced(std::string_view s);

bool HasDigit(std::string_view s);
// The first number in s as text; startPos receives where it begins (0: none).
std::string NumberAt(std::string_view s, int& startPos);
std::string NumberAt(std::string_view s);
std::string NthNumber(std::string_view s, int n);
std::int64_t IntOfDef(std::string_view s, std::int64_t dflt);
std::int64_t IntValDef(std::string_view s, std::int64_t dflt);
bool StrToBool(std::string_view s, bool& value);
std::string IntStr(std::int64_t i);
std::string IfStr(bool flag, std::string_view a, std::string_view b);

bool WildMatch(std::string_view text, std::string_view pattern);
const char* TempPChar(std::string_view s);
bool SameBytes(std::string_view a, std::string_view b, std::size_t n);
// A date-time value (days since 30 December 1899, time as the fraction) as a
// packed DOS file date (high word) and time (low word); 0 outside 1980..2107.
std::uint32_t FileDateOf(double dateTime);
