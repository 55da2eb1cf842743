#include "app/list/file_entries.h"

#include <gtest/gtest.h>

namespace {

TEST(FileEntries, ListPiecesKeepsEmptyPieces) {
  EXPECT_TRUE(ListPieces("").empty());
  EXPECT_EQ(ListPieces("a\\\\b\\"), (std::vector<std::string_view>{"a", "", "b", ""}));
  EXPECT_EQ(ListPieces("\\"), (std::vector<std::string_view>{"", ""}));
}

TEST(FileEntries, ParseFileEntry) {
  struct Case {
    std::string piece;
    bool ok;
    std::string name;
    std::int64_t size;
    std::int64_t checksum;
  } cases[] = {
      {"a.txt:100:12345", true, "a.txt", 100, 12345},
      {"a.txt:size 100 bytes:sum=-7", true, "a.txt", 100, -7},
      {"a.txt", true, "a.txt", -1, kNoChecksum},
      {"a.txt::", true, "a.txt", -1, kNoChecksum},
      {"a.txt:abc:xyz", true, "a.txt", -1, kNoChecksum},
      {"a.txt:12.5:1", true, "a.txt", -1, 1},
      {"big:4294967296:1", true, "big", 4294967296LL, 1},
      {"huge:99999999999999999999999:1", true, "huge", -1, 1},
      {"wide:1:4294967295", true, "wide", 1, kNoChecksum},
      {"low:1:-2147483648", true, "low", 1, -2147483648LL},
      {"tvq.ex_~:7:8", true, "tvq.ex_~", 7, 8},
      {":100:1", false, "", 0, 0},
      {"", false, "", 0, 0},
  };
  for (const auto& c : cases) {
    FileEntry e;
    ASSERT_EQ(ParseFileEntry(c.piece, e), c.ok) << c.piece;
    if (!c.ok) continue;
    EXPECT_EQ(e.name, c.name) << c.piece;
    EXPECT_EQ(e.size, c.size) << c.piece;
    EXPECT_EQ(e.checksum, c.checksum) << c.piece;
  }
}

TEST(FileEntries, LongPiecesAreCutTo255) {
  FileEntry e;
  ASSERT_TRUE(ParseFileEntry(std::string(300, 'n') + ":1:1", e));
  EXPECT_EQ(e.name, std::string(255, 'n'));
  EXPECT_EQ(e.size, -1);
}

TEST(FileEntries, FilesSectionOfRemovesLineBreaks) {
  EXPECT_EQ(FilesSectionOf("<update id=\"1\">\r\n<files>\r\na:1:2\\\r\nb:3\n:4\\\r</files>\r\n<files>c</files>"),
            "a:1:2\\b:3:4\\");
  EXPECT_EQ(FilesSectionOf("<update><files>a:1:1\\</update>"), "");
  EXPECT_EQ(FilesSectionOf("</files><files>x</files>"), "x");
}

TEST(FileEntries, PlainFileNames) {
  struct Case {
    std::string name;
    bool plain;
  } cases[] = {
      {"tvq.exe", true},      {"tvq.ex_~", true},    {"!update-me.bat", true}, {"read me.txt", true},
      {"..x", false},         {"x~~", true},         {"", false},              {"~", false},
      {".", false},           {"..", false},         {"..~", false},           {"a/b", false},
      {"../x", false},        {"/x", false},         {"a\\b", false},          {"c:x", false},
      {"a\nb", false},        {"a\x7f", false},      {std::string("a\0b", 3), false},
      {".hidden", false},     {".cfg~", false},      {"a.b.", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsPlainFileName(c.name), c.plain) << c.name;
}

TEST(FileEntries, NamesWindowsTakesForDevicesOrRenamesAreRefusedWithTheirReason) {
  struct Case {
    std::string name;
    const char* problem;  // part of the reason; empty: plain
  } cases[] = {
      {"CON", "device"},          {"con", "device"},           {"Nul.txt", "device"},
      {"AUX.tar.gz", "device"},   {"prn~", "device"},          {"COM1", "device"},
      {"com9.log", "device"},     {"LPT1", "device"},          {"lpt5.bin~", "device"},
      {"NUL .txt", "device"},     {"COM0", "device"},          {"lpt0.txt", "device"},
      {"COM\xC2\xB9", "device"},   {"lpt\xC2\xB3.log", "device"}, {"CONIN$", "device"},
      {"conout$.txt", "device"},  {"COM\xC2\xB4", ""},           {"COM10", ""},
      {"LPT", ""},                {"CONSOLE.txt", ""},         {"nul-report.txt", ""},
      {"xCON", ""},               {"readme.txt.", "ends in a dot"}, {"readme.txt.~", "ends in a dot"},
      {"readme.txt ", "blank"},   {"a<b", "'<'"},              {"a>b", "'>'"},
      {"say\"hi\"", "'\"'"},      {"a|b", "'|'"},              {"what?", "'?'"},
      {"*.txt", "'*'"},           {"a\tb", "control"},         {"x/y", "delimiter"},
  };
  for (const auto& c : cases) {
    const std::string problem = FileNameProblem(c.name);
    EXPECT_EQ(problem.empty(), std::string(c.problem).empty()) << c.name << ": " << problem;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << c.name << ": " << problem;
  }
  EXPECT_TRUE(IsDeviceName("aux.minisig"));
  EXPECT_FALSE(IsDeviceName(".aux.minisig"));
}

TEST(FileEntries, UrlPathOfName) {
  EXPECT_EQ(UrlPathOfName("!update-info.txt"), "!update-info.txt");
  EXPECT_EQ(UrlPathOfName("tvq.ex_~"), "tvq.ex_~");
  EXPECT_EQ(UrlPathOfName("read me#1?.txt"), "read%20me%231%3F.txt");
  EXPECT_EQ(UrlPathOfName("100%"), "100%25");
  EXPECT_EQ(UrlPathOfName("\xc3\xa4"), "%C3%A4");
}

TEST(FileEntries, AddSizesHoldsAtTheLargestValue) {
  EXPECT_EQ(AddSizes(1, 2), 3);
  EXPECT_EQ(AddSizes(INT64_MAX - 1, 5), INT64_MAX);
}

}  // namespace
