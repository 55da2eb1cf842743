// The buffered text file against real files.
#include "support/textfile.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/fs_faults.h"
#include "support/temp_dir.h"

namespace {

constexpr std::size_t kBuffer = 32768;  // the text file's read buffer

std::vector<std::string> LinesOf(const std::string& path) {
  std::vector<std::string> lines;
  TextFile f;
  if (!f.OpenRead(path).ok()) return {"<cannot open>"};
  std::string line;
  while (f.ReadLine(line)) lines.push_back(line);
  if (f.IoError()) lines.push_back("<io error>");
  return lines;
}

std::string Shown(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += "[" + (l.size() > 40 ? l.substr(0, 5) + "...(" + std::to_string(l.size()) + ")" : l) + "]";
  return s;
}

}  // namespace

TEST(TextFile, ReadLineSplitsAtEveryKindOfLineEnd) {
  ScratchDir dir;
  const std::string big(kBuffer - 1, 'x');  // puts the next byte last in the buffer
  struct Row {
    std::string content;
    std::vector<std::string> want;
  } rows[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\n\rb", {"a", "", "b"}},
      {"\n", {""}},
      {"\r\r", {"", ""}},
      {"\n\nz", {"", "", "z"}},
      {std::string("a\0b\nc\0", 6), {std::string("a\0b", 3), std::string("c\0", 2)}},
      {big + "\r\nnext", {big, "next"}},    // CR last in one fill, LF first in the next
      {big + "\rnext", {big, "next"}},      // a lone CR at the end of a fill
      {big + "\r", {big}},                  // a CR that ends the file
      {big + "\r\r\n", {big, ""}},
      {big + "ab\ncd", {big + "ab", "cd"}},  // a line spanning two fills
  };
  for (const auto& r : rows) {
    WriteFile(dir / "t.txt", r.content);
    EXPECT_EQ(Shown(LinesOf(dir / "t.txt")), Shown(r.want)) << Shown({r.content});
  }
}

TEST(TextFile, ReadsAOneMebibyteLine) {
  ScratchDir dir;
  const std::string line(1 << 20, 'q');
  WriteFile(dir / "big.txt", "first\n" + line + "\r\nlast");
  const auto lines = LinesOf(dir / "big.txt");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], line);
  EXPECT_EQ(lines[2], "last");
}

TEST(TextFile, EofTellsWhetherALineRemains) {
  ScratchDir dir;
  WriteFile(dir / "t.txt", "a\n");
  TextFile f;
  ASSERT_TRUE(f.OpenRead(dir / "t.txt").ok());
  EXPECT_FALSE(f.Eof());
  std::string line;
  EXPECT_TRUE(f.ReadLine(line));
  EXPECT_TRUE(f.Eof());
  EXPECT_FALSE(f.ReadLine(line));
  EXPECT_FALSE(f.IoError());
  EXPECT_TRUE(f.Close());
}

TEST(TextFile, OpenReadRefusesMissingFileAndDirectory) {
  ScratchDir dir;
  TextFile f;
  EXPECT_FALSE(f.OpenRead(dir / "missing").ok());
  EXPECT_FALSE(f.OpenRead(dir.path()).ok());
  EXPECT_EQ(f.CurrentMode(), TextFile::Mode::Closed);
  std::string line;
  EXPECT_FALSE(f.ReadLine(line));
}

TEST(TextFile, OpenReadRefusesAnUnreadableFile) {
  ScratchDir dir;
  ::chmod(dir.path().c_str(), 0755);
  WriteFile(dir / "secret", "x\n");
  ::chmod((dir / "secret").c_str(), 0);
  AsUnprivileged nobody;
  if (!nobody.Effective()) GTEST_SKIP() << "permission bits do not apply";
  TextFile f;
  EXPECT_FALSE(f.OpenRead(dir / "secret").ok());
}

TEST(TextFile, KeepsReadingAFileDeletedWhileOpen) {
  ScratchDir dir;
  std::string content;
  for (int i = 0; i < 10000; ++i) content += "line " + std::to_string(i) + "\n";
  WriteFile(dir / "t.txt", content);
  TextFile f;
  ASSERT_TRUE(f.OpenRead(dir / "t.txt").ok());
  std::string line;
  ASSERT_TRUE(f.ReadLine(line));
  std::filesystem::remove(dir / "t.txt");
  int count = 1;
  std::string last;
  while (f.ReadLine(line)) ++count, last = line;
  EXPECT_EQ(count, 10000);
  EXPECT_EQ(last, "line 9999");
  EXPECT_FALSE(f.IoError());
}

TEST(TextFile, WriteLineAndAppendEndLinesWithCrLf) {
  ScratchDir dir;
  const std::string path = dir / "w.txt";
  {
    TextFile f;
    ASSERT_TRUE(f.OpenWrite(path).ok());
    EXPECT_TRUE(f.WriteLine("a=1"));
    EXPECT_TRUE(f.Write("b"));
    EXPECT_TRUE(f.Close());
  }
  {
    TextFile f;
    ASSERT_TRUE(f.OpenAppend(path).ok());
    EXPECT_EQ(f.Pos(), 6);
    EXPECT_TRUE(f.WriteLine("=2"));
    EXPECT_EQ(f.Pos(), 10);
    EXPECT_TRUE(f.Sync());
    EXPECT_EQ(ReadFile(path), "a=1\r\nb=2\r\n");
    EXPECT_TRUE(f.WriteLine("unflushed"));
  }  // destruction writes the rest
  EXPECT_EQ(ReadFile(path), "a=1\r\nb=2\r\nunflushed\r\n");
  TextFile f;
  ASSERT_TRUE(f.OpenWrite(path).ok());
  EXPECT_TRUE(f.Close());
  EXPECT_EQ(ReadFile(path), "");
}

TEST(TextFile, WritesLargeTextsWhole) {
  ScratchDir dir;
  const std::string chunk(kBuffer * 2 + 7, 'z');
  TextFile f;
  ASSERT_TRUE(f.OpenWrite(dir / "w").ok());
  EXPECT_TRUE(f.Write("head"));
  EXPECT_TRUE(f.Write(chunk));
  EXPECT_TRUE(f.Write("tail"));
  EXPECT_EQ(f.Pos(), static_cast<std::int64_t>(chunk.size() + 8));
  EXPECT_TRUE(f.Close());
  EXPECT_EQ(ReadFile(dir / "w"), "head" + chunk + "tail");
}

TEST(TextFile, ModesRefuseTheOtherDirection) {
  ScratchDir dir;
  WriteFile(dir / "r", "x\n");
  TextFile f;
  ASSERT_TRUE(f.OpenRead(dir / "r").ok());
  EXPECT_FALSE(f.Write("y"));
  ASSERT_TRUE(f.OpenWrite(dir / "w").ok());  // reopening closes the first
  std::string line;
  EXPECT_FALSE(f.ReadLine(line));
  EXPECT_FALSE(f.Seek(0));
  EXPECT_TRUE(f.Close());
  EXPECT_EQ(ReadFile(dir / "r"), "x\n");
}

TEST(TextFile, PosCountsConsumedBytesAndSeekRereads) {
  ScratchDir dir;
  const std::string big(kBuffer + 100, 'b');
  WriteFile(dir / "t.txt", "ab\r\ncd\n" + big + "\nend");
  TextFile f;
  EXPECT_EQ(TextFilePos(f), -1);
  ASSERT_TRUE(f.OpenRead(dir / "t.txt").ok());
  EXPECT_EQ(TextFilePos(f), 0);
  std::string line;
  ASSERT_TRUE(f.ReadLine(line));
  EXPECT_EQ(TextFilePos(f), 4);
  ASSERT_TRUE(f.ReadLine(line));
  EXPECT_EQ(TextFilePos(f), 7);

  EXPECT_TRUE(TextFileSeek(f, 4));  // inside the current buffer
  ASSERT_TRUE(f.ReadLine(line));
  EXPECT_EQ(line, "cd");

  ASSERT_TRUE(f.ReadLine(line));  // the long line: the buffer moves on
  EXPECT_EQ(line.size(), big.size());
  EXPECT_TRUE(TextFileSeek(f, 1));  // outside: the OS position moves
  EXPECT_EQ(TextFilePos(f), 1);
  ASSERT_TRUE(f.ReadLine(line));
  EXPECT_EQ(line, "b");

  const std::int64_t endPos = 7 + big.size() + 1;
  EXPECT_TRUE(TextFileSeek(f, endPos));
  ASSERT_TRUE(f.ReadLine(line));
  EXPECT_EQ(line, "end");
  EXPECT_FALSE(TextFileSeek(f, -1));
  EXPECT_TRUE(f.Close());
  EXPECT_FALSE(TextFileSeek(f, 0));
  EXPECT_EQ(TextFilePos(f), -1);
}

TEST(TextFile, FullDiskIsAnError) {
  ScratchDir dir;
  ScratchMount disk(dir.path(), "size=64k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  TextFile f;
  ASSERT_TRUE(f.OpenWrite(dir / "w").ok());
  const std::string chunk(10000, 'x');
  bool allWritten = true;
  for (int i = 0; i < 20; ++i) allWritten = f.Write(chunk) && allWritten;
  const bool closed = f.Close();
  EXPECT_FALSE(allWritten && closed);
  EXPECT_TRUE(f.IoError());
}
