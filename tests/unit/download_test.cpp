// The download against a file:// site in a temporary directory, with the
// virtual clock (no real waits) and the recording display.
#include "app/fetch/download.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/context/names.h"
#include "app/context/run_context.h"
#include "platform/os.h"
#include "support/fileutil.h"
#include "support/recording_display.h"
#include "support/scoped_env.h"
#include "support/std_text_capture.h"
#include "support/temp_dir.h"
#include "support/virtual_clock.h"

namespace {

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetCancelForTests();
    SetProgramName("tvqlupd");
    work = WorkDirectory();
    ASSERT_TRUE(os::MakeDirectories(work).ok());
    site = temp / "site";
    ASSERT_TRUE(os::MakeDirectories(site).ok());
    ctx.site = "file://" + site + "/";
  }
  void TearDown() override { ResetCancelForTests(); }

  // Puts a file on the site and returns its list entry.
  std::string Put(const std::string& name, const std::string& content) {
    WriteFile(site + "/" + name, content);
    return name + ":" + std::to_string(content.size()) + ":" +
           std::to_string(FileChecksum(site + "/" + name));
  }
  static std::string Block(const std::vector<std::string>& entries) {
    std::string b = "<update id=\"TVQ 2024-03-01\">\r\n<files>\r\n";
    for (const auto& e : entries) b += e + "\\\r\n";
    return b + "</files>\r\n</update>";
  }
  // The pauses between attempts (the copy's own 50 ms second tries left out).
  std::vector<std::int64_t> Pauses() const {
    std::vector<std::int64_t> p;
    for (auto ms : clock.Sleeps())
      if (ms != 50) p.push_back(ms);
    return p;
  }

  ScratchDir temp;  // "class": fileutil.h has a function of that name
  ScopedEnv tempVar{"TEMP", temp.path()};
  VirtualClock clock;
  RecordingDisplay display;
  StdTextCapture log;
  std::string work;
  std::string site;
  RunContext ctx;
};

TEST_F(DownloadTest, FilesArriveVerifiedWithTheBarAt96) {
  ctx.updateInfo = Block({Put("a.txt", std::string(1000, 'a')), Put("b.txt", std::string(3000, 'b'))});
  EXPECT_TRUE(DownloadUpdateFiles(ctx).ok());
  EXPECT_EQ(ReadFile(work + "/b.txt"), std::string(3000, 'b'));
  EXPECT_EQ(ctx.progress.total, 4000);
  EXPECT_EQ(ctx.progress.downloaded, 4000);
  EXPECT_EQ(display.percents, (std::vector<int>{24, 96}));
  EXPECT_EQ(display.updateIds, (std::vector<std::string>{"update ID: 2024-03-01"}));
  EXPECT_EQ(log.Count(" OK!\n"), 2);
  EXPECT_TRUE(log.HasLine("total bytes to be downloaded (cur set): 4000"));
  EXPECT_TRUE(log.HasLine("will download:"));
  EXPECT_EQ(log.Count(std::string(70, '-') + "\n"), 2);
  EXPECT_TRUE(Pauses().empty());
}

TEST_F(DownloadTest, LogLinesOfOneFile) {
  ctx.updateInfo = Block({Put("a.txt", "hello")});
  EXPECT_TRUE(DownloadUpdateFiles(ctx).ok());
  const std::string files = Put("a.txt", "hello") + "\\";
  EXPECT_TRUE(log.HasLine(" {" + files + "}"));
  EXPECT_NE(log.Text().find("downloading file \"a.txt\": 5 bytes...\nplease wait (this should take a few "
                            "seconds)...\r" + std::string(69, ' ') + "\r OK!\n"),
            std::string::npos);
}

TEST_F(DownloadTest, FailingFirstEntryPausesFourTimes500) {
  ctx.updateInfo = Block({"missing.bin:10:1"});
  EXPECT_FALSE(DownloadUpdateFiles(ctx).ok());
  EXPECT_EQ(Pauses(), (std::vector<std::int64_t>{500, 500, 500, 500}));
  EXPECT_EQ(log.Count(" ERROR!\n"), 5);
  // Returned at once: no closing line.
  EXPECT_EQ(log.Count(std::string(70, '-') + "\n"), 1);
}

TEST_F(DownloadTest, FailingThirdEntryPausesFourTimes3500) {
  ctx.updateInfo = Block({Put("a.txt", "1"), Put("b.txt", "2"), "missing.bin:10:1"});
  EXPECT_FALSE(DownloadUpdateFiles(ctx).ok());
  EXPECT_EQ(Pauses(), (std::vector<std::int64_t>{500, 3000, 500, 3000, 500, 3000, 500, 3000}));
}

TEST_F(DownloadTest, RetriedFileStartsItsProgressAnew) {
  ctx.updateInfo = Block({Put("a.txt", std::string(100, 'a')), "b.txt:100:1"});
  WriteFile(site + "/b.txt", std::string(100, 'b'));  // right size, wrong checksum
  EXPECT_FALSE(DownloadUpdateFiles(ctx).ok());
  EXPECT_EQ(ctx.progress.downloaded, 200);
}

TEST_F(DownloadTest, TildeNameIsFetchedWithTheTildeAndKeptWithout) {
  ctx.updateInfo = Block({Put("tvq.ex_~", "packed bytes here")});
  EXPECT_TRUE(DownloadUpdateFiles(ctx).ok());
  EXPECT_EQ(ReadFile(work + "/tvq.ex_"), "packed bytes here");
  EXPECT_FALSE(PathExists(work + "/tvq.ex_~"));
}

TEST_F(DownloadTest, RetriedTildeFileReplacesTheEarlierAttempt) {
  // The first attempt leaves a bad "a.txt"; the second copy must replace it.
  const std::string entry = Put("a.txt~", "good content");
  WriteFile(work + "/a.txt", "stale");
  ctx.updateInfo = Block({entry});
  EXPECT_TRUE(DownloadUpdateFiles(ctx).ok());
  EXPECT_EQ(ReadFile(work + "/a.txt"), "good content");
}

TEST_F(DownloadTest, WaitingMessageBySize) {
  struct Case {
    const char* sizeField;
    const char* text;
  } cases[] = {
      {"307199", "please wait (this should take a few seconds)..."},
      {"307200", "please wait (1 min. approximately)..."},
      {"614399", "please wait (1 min. approximately)..."},
      {"3000000000", "please wait (9765 min. approximately)..."},
      {"", "please wait (this should take a few seconds)..."},
  };
  for (const auto& c : cases) {
    StdTextCapture one;
    ctx.updateInfo = Block({std::string("missing.bin:") + c.sizeField + ":1"});
    EXPECT_FALSE(DownloadUpdateFiles(ctx).ok());
    EXPECT_NE(one.Text().find(c.text), std::string::npos) << c.sizeField;
  }
}

TEST_F(DownloadTest, MissingOrNonNumericFieldsAreNotCompared) {
  WriteFile(site + "/a.txt", "aaa");
  WriteFile(site + "/b.txt", "bbb");
  WriteFile(site + "/c.txt", "ccc");
  ctx.updateInfo = Block({"a.txt:3:", "b.txt:3:none", "c.txt::" + std::to_string(FileChecksum(site + "/c.txt"))});
  EXPECT_TRUE(DownloadUpdateFiles(ctx).ok());
  EXPECT_TRUE(log.HasLine("downloading file \"c.txt\": -1 bytes..."));
}

TEST_F(DownloadTest, ListedSizeZeroIsCompared) {
  // Size 0 is a size like any other: an empty file verifies, any other fails
  // every attempt (no checksum is given, so only the size can tell).
  WriteFile(site + "/empty.txt", "");
  ctx.updateInfo = Block({"empty.txt:0:"});
  EXPECT_TRUE(DownloadUpdateFiles(ctx).ok());
  EXPECT_EQ(log.Count(" OK!\n"), 1);
  WriteFile(site + "/full.txt", "not empty");
  ctx.updateInfo = Block({"full.txt:0:"});
  EXPECT_FALSE(DownloadUpdateFiles(ctx).ok());
  EXPECT_EQ(log.Count(" ERROR!\n"), 5);
  EXPECT_EQ(log.Count(" OK!\n"), 1);
}

TEST_F(DownloadTest, LaterUpdateMethodFileWins) {
  ctx.updateInfo = Block({Put("!update-1.sh", "#!/bin/sh\n"), Put("x!update.txt", "x"),
                          Put("!update-2.sh", "#!/bin/sh\necho\n"), Put("a.txt", "a")});
  EXPECT_TRUE(DownloadUpdateFiles(ctx).ok());
  EXPECT_EQ(ctx.methodFile, "!update-2.sh");
  EXPECT_EQ(log.Count(" (this is the update method)\n"), 2);
}

TEST_F(DownloadTest, BlockWithoutEntriesFetchesNothing) {
  ctx.updateInfo = "<update id=\"1\"><files>\\\\</files></update>";
  EXPECT_TRUE(DownloadUpdateFiles(ctx).ok());
  EXPECT_TRUE(os::ListDirectory(work).empty());
  ctx.updateInfo = "<update id=\"1\"></update>";
  EXPECT_TRUE(DownloadUpdateFiles(ctx).ok());
}

TEST_F(DownloadTest, NamesThatAreNotPlainFileNamesAreNeverWritten) {
  WriteFile(temp / "outside.txt", "keep");
  WriteFile(site + "/x", "x");
  const char* names[] = {"../outside.txt", "..", ".", "~", "sub/x", "/etc/hosts", "a\x01" "b", "tab\tname"};
  for (const char* name : names) {
    ctx.updateInfo = Block({std::string(name) + ":4:1"});
    clock.Clear();
    EXPECT_FALSE(DownloadUpdateFiles(ctx).ok()) << name;
    EXPECT_EQ(Pauses().size(), 4u) << name;
  }
  EXPECT_EQ(ReadFile(temp / "outside.txt"), "keep");
  EXPECT_TRUE(os::ListDirectory(work).empty());
}

TEST_F(DownloadTest, CancelIsNoticedAfterTheFirstPause) {
  ctx.updateInfo = Block({"missing.bin:1:1"});
  RequestCancel();
  EXPECT_FALSE(DownloadUpdateFiles(ctx).ok());
  EXPECT_EQ(Pauses(), (std::vector<std::int64_t>{500}));
}

}  // namespace
