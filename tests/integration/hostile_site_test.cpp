// The list, transfer and download phases against a site that sends too
// much, too slowly, through other protocols or with hostile names, and
// against links planted in the work directory.
#include <chrono>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "app/fetch/download.h"
#include "app/fetch/transfer.h"
#include "app/list/update_list.h"
#include "app/run/run.h"
#ifndef _WIN32
#include <sys/stat.h>

#include "support/fs_faults.h"
#endif
#include "support/silent_port.h"
#include "support/transfer_fixture.h"
#include "support/virtual_clock.h"

namespace fs = std::filesystem;

namespace {

using HostileSite = HttpSiteFixture;

// ------------------------------------------------------------- the update list

TEST_F(HostileSite, EndlessListIsNoListAndTheWorkFileStaysSmall) {
  server.Endless(kUpdateListName);
  RunContext ctx;
  ctx.site = server.BaseUrl();
  Status outcome = GetUpdateList(ctx);
  EXPECT_FALSE(outcome.ok());
  EXPECT_EQ(ctx.updateInfo, "");
  EXPECT_EQ(outcome.message(), "the list is larger than 16 MiB");
  EXPECT_TRUE(log.Text().find("is unusable: the list is larger than 16 MiB") != std::string::npos)
      << log.Text();
  // Stopped at the cap by the first method; the other methods are not tried.
  EXPECT_EQ(server.RequestCount(kUpdateListName), 1);
  EXPECT_LT(server.EndlessBytesSent(), std::size_t{64} << 20);
  EXPECT_FALSE(PathExists(W(kUpdateListName)));
}

TEST_F(HostileSite, ListJustUnderTheCapIsRead) {
  const auto a = site.AddFile("a.txt", "a");
  site.AddUpdate("TVQ2024-01-01", {a});
  // Padding after the last block keeps the list valid at 16 MiB exactly.
  std::string list = site.ListText();
  list += std::string(kMaxUpdateListBytes - list.size(), ' ');
  site.SetList(list);
  RunContext ctx;
  ctx.site = server.BaseUrl();
  EXPECT_TRUE(GetUpdateList(ctx).ok());
  site.SetList(list + " ");
  Status outcome = GetUpdateList(ctx);
  EXPECT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.message(), "the list is larger than 16 MiB");
}

TEST_F(HostileSite, OversizedOrEndlessListFromADirectoryIsNoList) {
  const auto a = site.AddFile("a.txt", "a");
  site.AddUpdate("TVQ2024-01-01", {a});
  site.SetList(site.ListText() + std::string(kMaxUpdateListBytes, ' '));
  RunContext ctx;
  ctx.site = site.FileUrl();
  Status outcome = GetUpdateList(ctx);
  EXPECT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.message(), "the list is larger than 16 MiB");
#ifndef _WIN32
  // A device that never ends is not an ordinary file: never read.
  fs::remove(site.Path(kUpdateListName));
  fs::create_symlink("/dev/zero", site.Path(kUpdateListName));
  outcome = GetUpdateList(ctx);
  EXPECT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.message().rfind("cannot read ", 0), 0u) << outcome.message();
#endif
}

TEST_F(HostileSite, UnusableListsSayWhy) {
  RunContext ctx;
  ctx.site = server.BaseUrl();
  Status outcome = GetUpdateList(ctx);
  EXPECT_FALSE(outcome.ok());  // a 404 page
  EXPECT_NE(outcome.message().find(" answered 404 Not Found"), std::string::npos) << outcome.message();
  // UTF-16: the tags are there, but never as bytes in a row.
  std::string utf16;
  for (char c : std::string("<update id=\"x\"><files>a:1:1</files></update>")) {
    utf16 += c;
    utf16 += '\0';
  }
  server.SetBody(kUpdateListName, utf16);
  outcome = GetUpdateList(ctx);
  EXPECT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.message(), "the list is not a valid update list");
  ctx.site = "http://127.0.0.1:" + std::to_string(HttpTestServer::DeadPort()) + "/";
  outcome = GetUpdateList(ctx);
  EXPECT_FALSE(outcome.ok());
  EXPECT_NE(outcome.message().find("onnect"), std::string::npos) << outcome.message();
}

// --------------------------------------------------------------- the transfers

TEST_F(HostileSite, RedirectToAnotherProtocolIsNeverFollowed) {
  WriteFile(siteDir / "f.bin", "served over http");
  for (const std::string scheme : {"ftp", "file", "dict", "gopher"}) {
    SilentPort silent;
    server.RedirectTo("f.bin", scheme + "://127.0.0.1:" + std::to_string(silent.Port()) + "/f.bin");
    EXPECT_FALSE(FetchFile(server.Url("f.bin"), W("f.bin"), nullptr).ok()) << scheme << log.Text();
    EXPECT_FALSE(silent.WasReached()) << scheme;
  }
  // Redirects within http still work.
  server.ClearFaults();
  server.Redirect("g.bin", "f.bin");
  EXPECT_TRUE(FetchFile(server.Url("g.bin"), W("g.bin"), nullptr).ok());
  EXPECT_EQ(ReadFile(W("g.bin")), "served over http");
}

TEST_F(HostileSite, DripBelowTheFloorFailsEveryMethodWithinItsWindow) {
  server.Drip("f.bin", 50);
  TransferSettings floor;
  floor.stallSeconds = 1;
  floor.lowSpeedBytesPerSecond = 1024;
  SetTransferSettings(floor);
  Status outcome = FetchFile(server.Url("f.bin"), W("f.bin"), &progress);
  EXPECT_FALSE(outcome.ok());
  // Each method fails on the floor, never at the drip's pace (the file
  // would take hours): a broken floor holds the test until its time-out.
  EXPECT_EQ(server.RequestCount("f.bin"), 3);
#ifdef _WIN32
  // URLMON reports a download's progress per buffer it fills: at the drip's
  // pace the last resort sees no byte at all.
  EXPECT_EQ(log.Count("  failed: the site sends too slowly"), 2) << log.Text();
  EXPECT_EQ(outcome.message(), "the site sent nothing for too long");
#else
  EXPECT_NE(outcome.message().find("too slow"), std::string::npos) << outcome.message();
#endif
}

TEST_F(HostileSite, SpentRunBudgetEndsTheTransferAndStartsNoOther) {
  server.Drip("f.bin", 1000);  // above the floor, for ever
  TransferSettings budget;
  budget.lowSpeedBytesPerSecond = 100;
  budget.runBudgetSeconds = 2;
  SetTransferSettings(budget);
  Status outcome = FetchFile(server.Url("f.bin"), W("f.bin"), nullptr);
  EXPECT_FALSE(outcome.ok());
  EXPECT_EQ(server.RequestCount("f.bin"), 1);
  EXPECT_EQ(outcome.message(), "the update site took more than 2 s in all");
  EXPECT_TRUE(TransferBudgetSpent());
  EXPECT_FALSE(FetchFile(server.Url("f.bin"), W("f.bin"), nullptr).ok());
  EXPECT_EQ(server.RequestCount("f.bin"), 1);
}

TEST_F(HostileSite, CapStopsOneBytePastIt) {
  WriteFile(siteDir / "f.bin", std::string(100000, 'b'));
  Status outcome = InternetFetch(kInternetOpenTypeDirect, server.Url("f.bin"), W("f.bin"), nullptr, 21);
  EXPECT_FALSE(outcome.ok());
  EXPECT_EQ(fs::file_size(W("f.bin")), 22u);
  EXPECT_EQ(outcome.message(), "the site sent more than expected");
  EXPECT_TRUE(InternetFetch(kInternetOpenTypeDirect, server.Url("f.bin"), W("f.bin"), nullptr, 100000).ok());
  EXPECT_EQ(fs::file_size(W("f.bin")), 100000u);
}

// ---------------------------------------------------------------- the download

class HostileDownload : public HostileSite {
 protected:
  VirtualClock clock;  // pauses between attempts cost no time
};

TEST_F(HostileDownload, EndlessFileStopsAtItsListedSizeAndIsDeleted) {
  const auto a = site.AddFile("small.txt", "twenty-one bytes long");
  server.Endless("small.txt");
  RunContext ctx = HttpContext({a});
  Status outcome = DownloadUpdateFiles(ctx);
  EXPECT_FALSE(outcome.ok());
  // Five attempts, one method each: a site that sent too much is not asked again.
  EXPECT_EQ(server.RequestCount("small.txt"), 5);
  // What the server counts as sent includes what the kernel's socket buffers
  // on both ends took before the client closed: a few MiB a connection, more
  // when the machine is busy. An unbounded read would take gigabytes.
  EXPECT_LT(server.EndlessBytesSent(), std::size_t{64} << 20);
  EXPECT_FALSE(PathExists(W("small.txt")));
  EXPECT_EQ(outcome.message(), "small.txt: the site sent more than expected");
  EXPECT_TRUE(log.HasLine("  (small.txt: the site sent more than expected)")) << log.Text();
}

TEST_F(HostileDownload, FileThatFailsItsCheckIsDeletedAtOnce) {
  const auto a = site.AddFile("tool.bin~", std::string(3000, 'g'));
  WriteFile(site.Path("tool.bin~"), std::string(3000, 'B'));  // same size, other bytes
  RunContext ctx = HttpContext({a});
  Status outcome = DownloadUpdateFiles(ctx);
  EXPECT_FALSE(outcome.ok());
  EXPECT_FALSE(PathExists(W("tool.bin")));
  EXPECT_FALSE(PathExists(W("tool.bin~")));
  EXPECT_EQ(outcome.message(), "tool.bin~: the file's checksum differs from the listed one");
}

TEST_F(HostileDownload, EntryLongerThanAShortStringIsNeverFetched) {
  // Cut at 255 characters the entry would be a bare name without size and
  // checksum: a 404 page would pass under it.
  const std::string name(250, 'n');
  const auto a = site.AddFile(name, "content");
  RunContext ctx = HttpContext({a});
  Status outcome = DownloadUpdateFiles(ctx);
  EXPECT_FALSE(outcome.ok());
  EXPECT_EQ(server.Requests().size(), 0u);
  EXPECT_EQ(outcome.message(), name + ": the entry is longer than 255 characters");
  // The same name with its size and checksum within 255 characters is fine.
  const auto b = site.AddFile("short.txt", "content");
  ctx = HttpContext({b});
  EXPECT_TRUE(DownloadUpdateFiles(ctx).ok());
}

// A full disk is a tmpfs mount, which only Linux offers a test.
#ifndef _WIN32
TEST_F(HostileDownload, FullDiskNamesItsCauseAndLeavesNothingBehind) {
  ScratchMount disk(work, "size=64k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  const auto a = site.AddFile("big.bin", std::string(200000, 'b'));
  RunContext ctx = HttpContext({a});
  Status outcome = DownloadUpdateFiles(ctx);
  EXPECT_FALSE(outcome.ok());
  EXPECT_NE(outcome.message().find("big.bin: cannot write "), std::string::npos)
      << outcome.message();
  EXPECT_NE(outcome.message().find(": No space left on device"), std::string::npos)
      << outcome.message();
  EXPECT_FALSE(PathExists(W("big.bin")));
}

TEST_F(HostileDownload, FullWorkDirectoryOnADirectorySiteNamesItsCause) {
  ScratchMount disk(work, "size=64k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  const auto a = site.AddFile("big.bin", std::string(200000, 'b'));
  RunContext ctx = HttpContext({a});
  ctx.site = site.FileUrl();
  Status outcome = DownloadUpdateFiles(ctx);
  EXPECT_FALSE(outcome.ok());
  EXPECT_NE(outcome.message().find("No space left on device"), std::string::npos) << outcome.message();
  EXPECT_TRUE(log.Text().find("(big.bin: ") != std::string::npos) << log.Text();
  EXPECT_FALSE(PathExists(W("big.bin")));
}

#endif

TEST_F(HostileDownload, NamesWindowsTakesForDevicesOrAltersAreNeverFetchedOrWritten) {
  const struct {
    std::string name;
    const char* cause;
  } rows[] = {
      {"COM1", "the name is a device on Windows"},
      {"aux.txt", "the name is a device on Windows"},
      {"Lpt9.log~", "the name is a device on Windows"},
      {"readme.txt.", "the name ends in a dot or a blank"},
      {"readme.txt ", "the name ends in a dot or a blank"},
      {"a|b.txt", "the name holds '|', which Windows refuses"},
  };
  for (const auto& row : rows) {
    const auto a = site.AddFile(row.name, "device content");
    for (const std::string& url : {server.BaseUrl(), site.FileUrl()}) {
      RunContext ctx = HttpContext({a});
      ctx.site = url;
      Status outcome = DownloadUpdateFiles(ctx);
      EXPECT_FALSE(outcome.ok()) << row.name;
      EXPECT_EQ(outcome.message(), row.name + ": not a plain file name: " + row.cause);
      EXPECT_TRUE(fs::is_empty(work)) << row.name << " from " << url;
    }
  }
  EXPECT_EQ(server.Requests().size(), 0u);
  // Whatever asks, no transfer method is handed a device name.
  Status outcome = FetchFile(server.Url("COM1"), W("com1.txt"), nullptr);
  EXPECT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.message(), "the target " + W("com1.txt") + " is a device name on Windows");
  EXPECT_EQ(server.Requests().size(), 0u);
}

// Symbolic links and named pipes in the work directory are Linux cases:
// making links on Windows needs a right that ordinary users lack.
#ifndef _WIN32
TEST_F(HostileDownload, PlantedLinkIsReplacedNeverWrittenThrough) {
  const std::string elsewhere = root / "elsewhere.txt";
  WriteFile(elsewhere, "precious");
  const auto a = site.AddFile("a.txt", "from the site");
  fs::create_symlink(elsewhere, W("a.txt"));
  RunContext ctx = HttpContext({a});
  EXPECT_TRUE(DownloadUpdateFiles(ctx).ok());
  EXPECT_EQ(ReadFile(elsewhere), "precious");
  EXPECT_FALSE(fs::is_symlink(W("a.txt")));
  EXPECT_EQ(ReadFile(W("a.txt")), "from the site");
}

#endif

TEST_F(HostileDownload, UpdateIdAndNamesAreShownWithoutControlCharacters) {
  const auto a = site.AddFile("a.txt", "a");
  RunContext ctx;
  ctx.site = server.BaseUrl();
  ctx.updateInfo = MakeBlock("TVQ\x1b]0;owned\x07\x1b[2J", {a});
  ctx.updateInfo.replace(ctx.updateInfo.find("a.txt"), 5, "a\x1b[2J.txt");
  EXPECT_FALSE(DownloadUpdateFiles(ctx).ok());
  ASSERT_FALSE(display.updateIds.empty());
  EXPECT_EQ(display.updateIds.back(), "update ID: ?]0;owned??[2J");
  EXPECT_EQ(log.Text().find('\x1b'), std::string::npos) << log.Text();
  EXPECT_NE(log.Text().find("downloading file \"a?[2J.txt\""), std::string::npos) << log.Text();
}

// ---------------------------------------------------------- the work directory

// Links and pipes again: Linux cases.
#ifndef _WIN32
TEST_F(HostileSite, CleanUpRemovesLinksAndPipesWithoutFollowingThem) {
  const std::string elsewhere = root / "elsewhere";
  ASSERT_TRUE(os::MakeDirectories(elsewhere).ok());
  WriteFile(elsewhere + "/keep.txt", "kept");
  fs::create_symlink(elsewhere + "/keep.txt", W("a.txt"));
  fs::create_directory_symlink(elsewhere, W("dirlink"));
  ASSERT_EQ(::mkfifo(W("pipe").c_str(), 0600), 0);
  WriteFile(W(".x.txt.tvq123456.tmp"), "left by a killed copy");
  WriteFile(W(".hidden"), "not the program's");
  ASSERT_TRUE(os::MakeDirectories(W("sub")).ok());
  EXPECT_TRUE(PrepareWorkDirectory().ok());
  EXPECT_FALSE(fs::exists(fs::symlink_status(W("a.txt"))));
  EXPECT_FALSE(fs::exists(fs::symlink_status(W("dirlink"))));
  EXPECT_FALSE(fs::exists(fs::symlink_status(W("pipe"))));
  EXPECT_FALSE(PathExists(W(".x.txt.tvq123456.tmp")));
  EXPECT_TRUE(PathExists(W(".hidden")));
  EXPECT_TRUE(fs::is_directory(W("sub")));
  EXPECT_EQ(ReadFile(elsewhere + "/keep.txt"), "kept");
}

#endif

}  // namespace
