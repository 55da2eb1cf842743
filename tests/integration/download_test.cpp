// DownloadUpdateFiles from an HTTP site (the in-process server) and from a
// file:// site.
#include "app/fetch/download.h"

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/http_test_server.h"
#include "support/site_builder.h"
#include "support/transfer_fixture.h"
#include "support/virtual_clock.h"

namespace {

class DownloadTest : public HttpSiteFixture {
 protected:
  VirtualClock clock;  // pauses between attempts cost no time
};

TEST_F(DownloadTest, FilesFromAnHttpSiteArriveVerified) {
  const auto a = site.AddFile("tvq.ex_~", Pattern(70000, 1));
  const auto b = site.AddFile("!update-run.sh", "#!/bin/sh\necho updating\n");
  const auto c = site.AddFile("read me #1.txt", "blank and hash in the name");
  RunContext ctx = HttpContext({a, b, c});
  EXPECT_TRUE(DownloadUpdateFiles(ctx).ok());
  EXPECT_EQ(ReadFile(W("tvq.ex_")), Pattern(70000, 1));
  EXPECT_FALSE(PathExists(W("tvq.ex_~")));
  EXPECT_EQ(ReadFile(W("read me #1.txt")), "blank and hash in the name");
  EXPECT_EQ(ctx.methodFile, "!update-run.sh");
  // A fetched script can be started; data stays plain.
  const auto exec = std::filesystem::perms::owner_exec;
  EXPECT_NE(std::filesystem::status(W("!update-run.sh")).permissions() & exec,
            std::filesystem::perms::none);
  EXPECT_EQ(std::filesystem::status(W("read me #1.txt")).permissions() & exec,
            std::filesystem::perms::none);
  EXPECT_EQ(display.percents.back(), 96);
  EXPECT_EQ(display.updateIds.back(), "update ID: 2024-04-01");
  EXPECT_EQ(server.RequestCount("tvq.ex_~"), 1);
  EXPECT_EQ(server.RequestCount("read me #1.txt"), 1);
}

TEST_F(DownloadTest, DroppedFileIsFetchedWholeByTheNextMethod) {
  const auto a = site.AddFile("big.bin", Pattern(100000, 2));
  server.DropAfter("big.bin", 30000);
  RunContext ctx = HttpContext({a});
  EXPECT_TRUE(DownloadUpdateFiles(ctx).ok());
  EXPECT_EQ(ReadFile(W("big.bin")), Pattern(100000, 2));
  EXPECT_EQ(ctx.progress.downloaded, 100000);
  EXPECT_EQ(server.RequestCount("big.bin"), 2);
  EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(DownloadTest, ErrorAnswerFailsEveryMethodAndIsRetriedFiveTimes) {
  const auto a = site.AddFile("a.bin", Pattern(1000, 3));
  server.ServeErrorPage("a.bin");
  RunContext ctx = HttpContext({a});
  EXPECT_FALSE(DownloadUpdateFiles(ctx).ok());
  EXPECT_EQ(server.RequestCount("a.bin"), 5 * 3);
  EXPECT_EQ(clock.Sleeps(), (std::vector<std::int64_t>{500, 500, 500, 500}));
}

TEST_F(DownloadTest, CorruptFileOnTheSiteFails) {
  auto a = site.AddFile("a.bin", Pattern(1000, 4));
  WriteFile(site.Path("a.bin"), Pattern(1000, 5));  // same size, other bytes
  RunContext ctx = HttpContext({a});
  EXPECT_FALSE(DownloadUpdateFiles(ctx).ok());
  EXPECT_EQ(log.Count(" ERROR!\n"), 5);
}

TEST_F(DownloadTest, ChecksumHoldsWhicheverMethodWroteTheFile) {
  // The bytes are checked as the first two methods write them (the second
  // continues what the first kept) and read back after the last resort,
  // which writes the file itself.
  for (int drops : {0, 1, 2}) {
    for (bool corrupt : {false, true}) {
      SCOPED_TRACE(std::to_string(drops) + (corrupt ? " corrupt" : " intact"));
      const std::string name = "c" + std::to_string(drops) + (corrupt ? "x" : "") + ".bin";
      auto a = site.AddFile(name, Pattern(40000, 6));
      if (corrupt) WriteFile(site.Path(name), Pattern(40000, 7));  // same size, other bytes
      if (drops > 0) server.DropAfter(name, 10000, drops);
      RunContext ctx = HttpContext({a});
      const Status outcome = DownloadUpdateFiles(ctx);
      EXPECT_EQ(outcome.ok(), !corrupt);
      EXPECT_EQ(PathExists(W(name)), !corrupt);
      if (corrupt) {
        EXPECT_EQ(outcome.message(), name + ": the file's checksum differs from the listed one");
      } else {
        EXPECT_EQ(server.RequestCount(name), drops + 1);  // passed at the first attempt
      }
    }
  }
}

TEST_F(DownloadTest, BadNamesAreNeverRequested) {
  const auto good = site.AddFile("good.txt", "fine");
  RunContext ctx;
  ctx.site = server.BaseUrl();
  for (const char* name : {"../escape.txt", "sub/x.txt", "..", "~"}) {
    ctx.updateInfo = "<update id=\"1\"><files>" + EntryText(good) + "\\" + name + ":4:1\\</files></update>";
    EXPECT_FALSE(DownloadUpdateFiles(ctx).ok()) << name;
  }
  for (const auto& r : server.Requests()) EXPECT_EQ(r.name, "good.txt");
  EXPECT_FALSE(PathExists(root / "temp/escape.txt"));
}

TEST_F(DownloadTest, CancelDuringATransfer) {
  const auto a = site.AddFile("big.bin", Pattern(400000, 6));
  class Canceller : public RecordingDisplay {
   public:
    void Pump() override {
      if (++pumps == 5) RequestCancel();
    }
  } canceller;
  RunContext ctx = HttpContext({a});
  EXPECT_FALSE(DownloadUpdateFiles(ctx).ok());
  EXPECT_EQ(server.RequestCount("big.bin"), 1);
  EXPECT_EQ(clock.Sleeps(), (std::vector<std::int64_t>{500}));
}

TEST_F(DownloadTest, DirectorySiteIsCopied) {
  const auto a = site.AddFile("tvq.exe~", Pattern(5000, 7));
  const auto b = site.AddFile("tvq.ini", "[x]\r\n");
  RunContext ctx;
  ctx.site = site.FileUrl();
  ctx.updateInfo = MakeBlock("2024-04-01", {a, b});
  EXPECT_TRUE(DownloadUpdateFiles(ctx).ok());
  EXPECT_EQ(ReadFile(W("tvq.exe")), Pattern(5000, 7));
  EXPECT_EQ(ReadFile(W("tvq.ini")), "[x]\r\n");
  EXPECT_EQ(ctx.progress.downloaded, 5000 + 5);
  EXPECT_EQ(server.Requests().size(), 0u);
}

TEST_F(DownloadTest, FileSiteCopyStopsOneBytePastTheListedSize) {
  // The file grows by 4 MiB once its size was checked and its copy began.
  const auto grows = site.AddFile("grows.bin", Pattern(200000, 8));
  class Grower : public RecordingDisplay {
   public:
    std::string path;
    void Pump() override {
      if (path.empty()) return;
      std::ofstream(path, std::ios::app | std::ios::binary) << Pattern(4 << 20, 9);
      path.clear();
    }
  } grower;
  grower.path = site.Path("grows.bin");
  RunContext ctx;
  ctx.site = site.FileUrl();
  ctx.updateInfo = MakeBlock("2024-04-01", {grows});
  EXPECT_FALSE(DownloadUpdateFiles(ctx).ok());
  EXPECT_LE(ctx.progress.downloaded, 200001);
  EXPECT_FALSE(PathExists(W("grows.bin")));
  EXPECT_TRUE(ctx.verifiedFiles.empty());
}

TEST_F(DownloadTest, SizeBeyond2GiBIsComparedIn64Bits) {
  // The listed size differs from the file's only above 32 bits.
  auto a = site.AddFile("a.bin", "abc");
  a.size += 1LL << 32;
  RunContext ctx = HttpContext({a});
  EXPECT_FALSE(DownloadUpdateFiles(ctx).ok());
  EXPECT_TRUE(log.HasLine("downloading file \"a.bin\": 4294967299 bytes..."));
}

}  // namespace
