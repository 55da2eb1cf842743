#include "support/strfn.h"

#include <algorithm>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace {

TEST(StrFn, CaseMapsOnlyAsciiLetters) {
  EXPECT_EQ(UpStr("abz-\xe4\xfc" "AZ"), "ABZ-\xe4\xfc" "AZ");
  EXPECT_EQ(LowStr("ABZ-\xc4\xdc" "az"), "abz-\xc4\xdc" "az");
}

TEST(StrFn, WordCountCountsEmptyWords) {
  struct Case {
    std::string s, delim;
    bool emptyIsNone;
    int want;
  } cases[] = {
      {"", ";", true, 0},      {"", ";", false, 1},       {"a;b;", ";", false, 3},
      {"a;;b", ";", false, 3}, {";", ";", false, 2},      {"a;", ";", false, 2},
      {"abc", ";", true, 1},   {"a::b::c", "::", false, 3}, {"a:::b", "::", false, 2},
  };
  for (const auto& c : cases)
    EXPECT_EQ(WordCount(c.s, c.delim, c.emptyIsNone), c.want) << c.s << " / " << c.delim;
}

TEST(StrFn, WordNrPicksWordsIncludingEmptyOnes) {
  struct Case {
    int n;
    std::string s, delim, want;
  } cases[] = {
      {2, "a;b;c", ";", "b"},
      {3, "a;b;", ";", ""},
      {4, "a;b;c", ";", ""},
      {2, "a;;c", ";", ""},
      {1, ";a", ";", ""},
      {2, ";a", ";", "a"},
      {1, "no delimiter", "=", "no delimiter"},
      {2, "no delimiter", "=", ""},
      {0, "a;b", ";", ""},
      {-1, "a;b", ";", ""},
      {1, "", ";", ""},
      {3, "a::b::c", "::", "c"},
      {2, "a::b::", "::", "b"},
      {3, "a::b::", "::", ""},
      {2, "k=v=w", "=", "v"},
      {2, std::string("tmpl\0arg", 8), std::string(1, '\0'), "arg"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(WordNr(c.n, c.s, c.delim), c.want) << c.n << " of '" << c.s << "' at '" << c.delim << "'";
  EXPECT_EQ(FirstWord("key=value", "="), "key");
}

TEST(StrFn, WordNrPosAndWordsFrom) {
  EXPECT_EQ(WordNrPos(1, "a;b", ";"), 1);
  EXPECT_EQ(WordNrPos(2, "ab;cd;e", ";"), 4);
  EXPECT_EQ(WordNrPos(3, "ab;cd;e", ";"), 7);
  EXPECT_EQ(WordNrPos(3, "a==b==c", "=="), 7);
  EXPECT_EQ(WordNrPos(4, "a;b", ";"), 0);
  struct Case {
    std::string s, delim;
    int n;
    std::string want;
  } cases[] = {
      {"key=a=b", "=", 2, "a=b"}, {"a=b=c", "=", 2, "b=c"}, {"a;b;c", ";", 0, "a;b;c"},
      {"a;b;c", ";", 1, "a;b;c"}, {"a;b;c", ";", 3, "c"},    {"a;b;c", ";", 4, ""},
      {"", ";", 1, ""},           {"a;b;", ";", 3, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(WordsFrom(c.s, c.delim, c.n), c.want) << c.s << " from " << c.n;
}

TEST(StrFn, LastWordsKeepsDelimitersBetween) {
  EXPECT_EQ(LastWords("a;b;c", ";", 2), "b;c");
  EXPECT_EQ(LastWords("a;b;c", ";", 3), "a;b;c");
  EXPECT_EQ(LastWords("a;b;c", ";", 9), "a;b;c");
  EXPECT_EQ(LastWords("a;b;c", ";", 0), "");
}

TEST(StrFn, PathFunctionsUsePlatformDelimiter) {
  struct Case {
    std::string path, dir, name;
  } cases[] = {
      {"/", "/", ""},
      {"/x", "/", "x"},
      {"x", "", "x"},
      {"/usr/lib/f.txt", "/usr/lib", "f.txt"},
      {"/usr/lib/", "/usr/lib", ""},
      {"a/b", "a", "b"},
      {"C:\\dir\\f.txt", "", "C:\\dir\\f.txt"},  // neither '\' nor ':' divides on Linux
      {"", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DirOf(c.path), c.dir) << c.path;
    EXPECT_EQ(FileNameOf(c.path), c.name) << c.path;
  }
  EXPECT_EQ(WithTrailingDelimiter(""), "");
  EXPECT_EQ(WithTrailingDelimiter("/tmp"), "/tmp/");
  EXPECT_EQ(WithTrailingDelimiter("/tmp/"), "/tmp/");
  EXPECT_EQ(WithTrailingDelimiter("C:"), "C:/");
}

TEST(StrFn, ExtensionFunctionsDecideThroughHasExt) {
  int dotPos = -1;
  EXPECT_TRUE(HasExt("readme.", dotPos));
  EXPECT_EQ(dotPos, 7);
  EXPECT_FALSE(HasExt("noext", dotPos));
  EXPECT_EQ(dotPos, 0);
  EXPECT_FALSE(HasExt("dir.old/a", dotPos));
  EXPECT_EQ(dotPos, 4);
  // A dotted directory stays a directory however long the name behind it.
  EXPECT_FALSE(HasExt("/home/u/.cache/" + std::string(80, 'n')));

  struct Case {
    std::string name, force, addDefault, ext, strip;
  } cases[] = {
      {"a.txt", "a.bak", "a.txt", "txt", "a"},
      {"dir.old/a", "dir.old/a.bak", "dir.old/a.bak", "", "dir.old/a"},
      {"readme.", "readme.bak", "readme.", "", "readme"},
      {"a.b.c", "a.b.bak", "a.b.c", "c", "a.b"},
      {"", "", "", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ForceExt(c.name, "bak"), c.force) << c.name;
    EXPECT_EQ(AddDefaultExt(c.name, "bak"), c.addDefault) << c.name;
    EXPECT_EQ(ExtOf(c.name), c.ext) << c.name;
    EXPECT_EQ(StripExt(c.name), c.strip) << c.name;
  }
}

TEST(StrFn, ShortStrCutsAt255) {
  EXPECT_EQ(ShortStr(std::string(300, 'x')).size(), kShortStrMax);
  EXPECT_EQ(ShortStr("abc"), "abc");
}

TEST(StrFn, PathFunctionsKeepWholePaths) {
  // A directory path deeper than 255 bytes, with the cut falling inside it.
  std::string dir;
  while (dir.size() < 300) dir += std::string(1, kPathDelim) + "level" + std::to_string(dir.size());
  const std::string path = dir + kPathDelim + "tvqlupd.exe";
  EXPECT_EQ(DirOf(path), dir);
  EXPECT_EQ(FileNameOf(path), "tvqlupd.exe");
  EXPECT_EQ(WithTrailingDelimiter(dir), dir + kPathDelim);
  EXPECT_EQ(ForceExt(path, "INI"), dir + kPathDelim + "tvqlupd.INI");
  EXPECT_EQ(StripExt(path), dir + kPathDelim + "tvqlupd");
  EXPECT_EQ(AddDefaultExt(dir + kPathDelim + "tvqlupd", "INI"), dir + kPathDelim + "tvqlupd.INI");
  EXPECT_EQ(ExtOf(path), "exe");
  EXPECT_FALSE(HasExt(dir + kPathDelim + "noext"));
}

TEST(StrFn, SearchFunctions) {
  EXPECT_EQ(Pos("b", "abcb"), 2);
  EXPECT_EQ(Pos("b", "abcb", 3), 4);
  EXPECT_EQ(Pos("", "abc"), 0);
  EXPECT_FALSE(Contains("abc", ""));
  EXPECT_EQ(PosText("bC", "aBcBc", 1), 2);
  EXPECT_EQ(PosText("bC", "aBcBc", 3), 4);
  EXPECT_EQ(PosText("bc", "abc", 0), 0);
  EXPECT_EQ(PosText("bc", "abc", 3), 0);  // fewer characters left than the needle
  EXPECT_EQ(PosText("", "abc", 1), 0);
  EXPECT_EQ(PosNth(2, "aa", "aaaaa"), 3);  // non-overlapping
  EXPECT_EQ(PosNth(3, "aa", "aaaaa"), 0);
  EXPECT_EQ(PosNth(0, "a", "aaa"), 0);
  EXPECT_EQ(LastPos("aa", "aaaaa"), 3);
  EXPECT_EQ(LastPos("x", "aaa"), 0);
}

TEST(StrFn, ReplaceAllRepeatsAndTakesMarkerPath) {
  struct Case {
    std::string s, oldText, newText, want;
  } cases[] = {
      {"a.b.c", ".", " ", "a b c"},
      {"aaab", "ab", "b", "b"},        // occurrences formed by a replacement
      {"x", "x", "xx", "xx"},          // old inside new: replaced once
      {"axbx", "x", "xyx", "axyxbxyx"},
      {"", "a", "b", ""},
      {"abc", "", "x", "abc"},
      {"abc", "b", "b", "abc"},
      {"abc", "z", "y", "abc"},
      {"A??*", "?*", "*", "A*"},
      {"**a***", "**", "*", "*a*"},
      // Texts that a marker of control character and digits would join.
      {"1bb", "1b", "1b1b", "1b1bb"},
      {std::string("x1"), "x", std::string("x\x01", 2), std::string("x\x01" "1", 3)},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ReplaceAll(c.s, c.oldText, c.newText), c.want) << c.s << ": " << c.oldText << " -> " << c.newText;
}

TEST(StrFn, ReplaceAllStopsRunawayGrowth) {
  // "ab" -> "bba" doubles the b's for every a in front: bounded, not endless.
  const std::string input = std::string(40, 'a') + "b";
  const std::string result = ReplaceAll(input, "ab", "bba");
  EXPECT_LT(result.size(), std::size_t{1} << 22);
  // The rule was applied, not given up on: every replacement keeps its 'a'
  // and adds a 'b', and nothing else appears.
  EXPECT_GT(result.size(), input.size() + 40);
  EXPECT_EQ(std::count(result.begin(), result.end(), 'a'), 40);
  EXPECT_EQ(result.find_first_not_of("ab"), std::string::npos);
}

TEST(StrFn, CharactersAndSubstrings) {
  EXPECT_EQ(FirstCharOr("", '?'), '?');
  EXPECT_EQ(FirstCharOr("xy", '?'), 'x');
  EXPECT_EQ(CharAt("abc", 3, '?'), 'c');
  EXPECT_EQ(CharAt("abc", 4, '?'), '?');
  EXPECT_EQ(CharAt("abc", 0, '?'), '?');
  std::string s = "ab";
  char ch = 0;
  EXPECT_TRUE(PopChar(s, ch, '-'));
  EXPECT_EQ(ch, 'a');
  EXPECT_EQ(s, "b");
  s.clear();
  EXPECT_FALSE(PopChar(s, ch, '-'));
  EXPECT_EQ(ch, '-');
  EXPECT_EQ(FirstChars("abc", 5), "abc");
  EXPECT_EQ(FirstChars("abc", 2), "ab");
  EXPECT_EQ(LastChars("abc", 5), "abc");
  EXPECT_EQ(LastChars("abc", 2), "bc");
  EXPECT_EQ(LastChars("", 2), "");
  EXPECT_EQ(DropLast("abc", 3), "");
  EXPECT_EQ(DropLast("abc", 1), "ab");
  EXPECT_EQ(RestFrom("abc", 4), "");
  EXPECT_EQ(RestFrom("abc", 2), "bc");
  EXPECT_EQ(CopyFromTo("abcde", 2, 4), "bcd");
  EXPECT_EQ(CopyFromTo("abcde", 4, 9), "de");
  EXPECT_EQ(CopyFromTo("abcde", 4, 3), "");
  EXPECT_TRUE(StartsWith("abc", "ab"));
  EXPECT_TRUE(EndsWith("abc", "bc"));
  EXPECT_TRUE(SameBytes("abcX", "abcY", 3));
  EXPECT_FALSE(SameBytes("abcX", "abcY", 4));
  EXPECT_FALSE(SameBytes("ab", "abc", 3));
}

TEST(StrFn, Trimming) {
  EXPECT_EQ(TrimBlanks("  a b  "), "a b");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(TrimCharLeft("xxaxx", 'x'), "axx");
  EXPECT_EQ(TrimCharRight("xxaxx", 'x'), "xxa");
  EXPECT_EQ(TrimChar("xxaxx", 'x'), "a");
  EXPECT_EQ(TrimBlanks("\ta "), "\ta");  // only blanks
}

TEST(StrFn, NumberAtFindsFirstNumber) {
  struct Case {
    std::string s, want;
    int pos;
  } cases[] = {
      {"abc-12.5x", "-12.5", 4}, {"1-2", "1", 1},  {"v.1", ".1", 2},  {"abc", "", 0},
      {"x+3y", "+3", 2},         {"-x5", "5", 3},  {"", "", 0},       {"a- 7", "7", 4},
      {"1.2.3", "1.2.3", 1},     {"9", "9", 1},
  };
  for (const auto& c : cases) {
    int pos = -1;
    EXPECT_EQ(NumberAt(c.s, pos), c.want) << c.s;
    EXPECT_EQ(pos, c.pos) << c.s;
  }
}

TEST(StrFn, NthNumberWalksThroughText) {
  EXPECT_EQ(NthNumber("a1b22c333", 1), "1");
  EXPECT_EQ(NthNumber("a1b22c333", 2), "22");
  EXPECT_EQ(NthNumber("a1b22c333", 3), "333");
  EXPECT_EQ(NthNumber("a1b22c333", 4), "");
  EXPECT_EQ(NthNumber("1-2", 2), "-2");
  EXPECT_EQ(NthNumber("abc", 1), "");
}

TEST(StrFn, IntConversions) {
  struct Case {
    std::string s;
    std::int64_t dflt, want;
  } ofDef[] = {
      {"", 7, 7},     {"-5", 0, -5}, {"12.9", 0, 12}, {"3.7", 0, 3},
      {"v12a", 0, 12}, {"x", 9, 9},  {"  42 ", 0, 42},
  };
  for (const auto& c : ofDef) EXPECT_EQ(IntOfDef(c.s, c.dflt), c.want) << c.s;
  struct ValCase {
    std::string s;
    std::int64_t want;
  } valDef[] = {
      {" 12 ", 12}, {"+7", 7},   {"-7", -7}, {"1x", -1}, {"", -1}, {"+", -1}, {"1 2", -1},
      {"9223372036854775807", INT64_MAX}, {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", -1},
  };
  for (const auto& c : valDef) EXPECT_EQ(IntValDef(c.s, -1), c.want) << c.s;
  EXPECT_EQ(IntStr(-12), "-12");
  EXPECT_EQ(IfStr(true, "a", "b"), "a");
  EXPECT_EQ(IfStr(false, "a", "b"), "b");
  EXPECT_TRUE(HasDigit("ab3"));
  EXPECT_FALSE(HasDigit("abc"));
}

TEST(StrFn, StrToBoolRecognisesWholeWords) {
  struct Case {
    std::string s;
    bool recognised, value;
  } cases[] = {
      {"TRUE", true, true}, {"on", true, true},   {"yes", true, true},   {"Ein", true, true},
      {"+", true, true},    {"1", true, true},    {"oui", true, true},   {"si", true, true},
      {"no", true, false},  {"aus", true, false}, {"-", true, false},    {"0", true, false},
      {"nein", true, false}, {"non", true, false}, {"f", true, false},
      {"2", false, false},  {" yes", false, false}, {"y", false, false}, {"", false, false},
  };
  for (const auto& c : cases) {
    bool value = !c.value;  // untouched when not recognised
    const bool sentinel = value;
    EXPECT_EQ(StrToBool(c.s, value), c.recognised) << c.s;
    EXPECT_EQ(value, c.recognised ? c.value : sentinel) << c.s;
  }
}

TEST(StrFn, WildMatch) {
  struct Case {
    std::string text, pattern;
    bool want;
  } cases[] = {
      {"ABC", "A*", true},     {"ABC", "?BC", true},   {"ABC", "*C", true},    {"", "*", true},
      {"", "", true},          {"ABC", "", true},      {"ABC", "A?", false},   {"ABC", "B*", false},
      {"AABC", "*A?C", false},  // leftmost placement, no backtracking
      {"A", "A?*", true},      {"AB", "A*?", true},    {"ABC", "ABC", true},   {"ABC", "ABD", false},
      {"ABC", "A?C", true},    {"ABBC", "A?C", false}, {"ABC", "*B*", true},   {"ABC", "*D*", false},
      {"ABC", "AB", false},    {"XABC", "ABC*", false}, {"ABCX", "*ABC", false}, {"", "A*", false},
      {"AXYB", "A??B", true},  {"AXB", "A??B", false}, {"INIFILE", "INI*", true},
      {"abc", "ABC", false},   {"A.TXT", "*.TXT", true}, {"A.TXT", "?.TXT", true},
  };
  for (const auto& c : cases) EXPECT_EQ(WildMatch(c.text, c.pattern), c.want) << c.text << " ~ " << c.pattern;
}

TEST(StrFn, WildMatchKeepsEndAnchorOfFullLengthText) {
  const std::string text = std::string(254, 'A') + "B";
  EXPECT_TRUE(WildMatch(text, "A*B"));
  EXPECT_FALSE(WildMatch(text, "A*A"));
}

TEST(StrFn, TempPCharRingHoldsTwentyOneSlots) {
  const char* first = TempPChar("first");
  std::set<const char*> seen{first};
  for (int i = 0; i < 19; ++i) seen.insert(TempPChar("x" + std::to_string(i)));
  EXPECT_STREQ(first, "first");  // 20 calls later still intact
  EXPECT_EQ(seen.size(), 20u);
  EXPECT_STREQ(TempPChar("next"), "next");
  EXPECT_STREQ(TempPChar("again"), "again");  // the 21st call after "first" reuses its slot
  EXPECT_STREQ(first, "again");
}

TEST(StrFn, FileDateOfPacksDosDateAndTime) {
  // 25569 = 1 January 1970; 2024-02-29 = day 45351.
  const double t = 45351 + (13 * 3600 + 45 * 60 + 31) / 86400.0;
  const std::uint32_t want = ((2024u - 1980) << 25) | (2u << 21) | (29u << 16) | (13u << 11) | (45u << 5) | 15u;
  EXPECT_EQ(FileDateOf(t), want);
  EXPECT_EQ(FileDateOf(29221), (1u << 21) | (1u << 16));  // 1 January 1980, midnight
  EXPECT_EQ(FileDateOf(29220.5), 0u);
}

}  // namespace
