// FetchFile and InternetFetch against the in-process HTTP server.
#include "app/fetch/transfer.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifndef _WIN32
#include "support/fs_faults.h"
#endif
#include "support/http_test_server.h"
#include "support/machine_proxy.h"
#include "support/transfer_fixture.h"

namespace {

// A display whose Pump presses Cancel at the n-th call.
class CancellingDisplay : public RecordingDisplay {
 public:
  explicit CancellingDisplay(int at) : at_(at) {}
  void Pump() override {
    RecordingDisplay::Pump();
    if (pumps == at_) RequestCancel();
  }

 private:
  int at_;
};

// How each backend words a body cut short and a proxy that takes no
// connection.
#ifdef _WIN32
constexpr const char* kShortBodyText = "the connection ended before the whole body arrived";
constexpr const char* kDeadProxyText = "(error 12029)";
#else
constexpr const char* kShortBodyText = "transfer closed with 15000 bytes remaining";
constexpr const char* kDeadProxyText = "Failed to connect to 127.0.0.1 port";
#endif

class TransferTest : public TransferFixture {
 protected:
  ScratchDir siteDir;
  HttpTestServer server{siteDir.path()};
};

TEST_F(TransferTest, WholeFileArrivesCountedBlockByBlock) {
  const std::string content = Pattern(100000);
  WriteFile(siteDir / "f.bin", content);
  progress.total = 100000;
  EXPECT_TRUE(FetchFile(server.Url("f.bin"), W("f.bin"), &progress).ok());
  EXPECT_EQ(ReadFile(W("f.bin")), content);
  EXPECT_EQ(progress.downloaded, 100000);
  EXPECT_EQ(display.percents.back(), 96);
  // Every block of at most 8192 bytes handles the window's messages.
  EXPECT_GE(display.pumps, 100000 / 8192);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].userAgent, "MARL/TORQUIN TVQ Update");
}

// An error answer fails its method with the status named, so the next one
// is tried, and nothing of its page is kept: a refusing proxy is passed by on
// the direct connection. An empty answer fails a method only where a body is
// needed (the list); a listed file of 0 bytes arrives.
TEST_F(TransferTest, ErrorOrEmptyAnswerFailsItsMethodAndTheNextIsTried) {
#ifdef _WIN32
  const std::string lastResort = "the server answered ";  // URLMON cannot tell
#else
  const std::string lastResort = "the site answered ";
#endif
  const std::string site = "the site answered ", empty = "the site sent an empty answer";
  const auto everyMethod = [&](const std::string& status) {
    return std::vector<std::string>{site + status, site + status, lastResort + status};
  };
  struct Case {
    int siteStatus;  // 0: f.bin, or the bodies
    bool refusingProxy;
    std::vector<std::string> bodies;  // the answers for f.bin, the last one repeated
    bool needsBody;
    std::vector<std::string> failures;  // one per failed method; three fail the fetch
  } cases[] = {
      {404, false, {}, false, everyMethod("404 Not Found")},
      {503, false, {}, false, everyMethod("503 Service Unavailable")},
      {0, true, {}, false, {site + "502 Bad Gateway (through the proxy)"}},
      {0, false, {""}, false, {}},
      {0, false, {"", "a list"}, true, {empty}},
      {0, false, {""}, true, {empty, empty, empty}},
  };
  WriteFile(siteDir / "f.bin", Pattern(4000));
  HttpTestServer proxyServer(siteDir.path());
  proxyServer.ServeErrorPage(server.Url("f.bin"), 502);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.failures) + (c.needsBody ? " list" : ""));
    server.ClearFaults();
    if (c.siteStatus) server.ServeErrorPage("f.bin", c.siteStatus);
    if (!c.bodies.empty()) server.SetBodies("f.bin", c.bodies);
    std::optional<ScopedMachineProxy> proxy;
    if (c.refusingProxy) proxy.emplace(proxyServer.Port());
    StdTextCapture account;
    const Status outcome = c.needsBody ? FetchNonEmptyFile(server.Url("f.bin"), W("f.bin"), 9000)
                                       : FetchFile(server.Url("f.bin"), W("f.bin"), nullptr);
    const bool arrives = c.failures.size() < 3;
    EXPECT_EQ(outcome.ok(), arrives) << outcome.message();
    EXPECT_EQ(ReadFile(W("f.bin")), !arrives ? "" : c.bodies.empty() ? Pattern(4000) : c.bodies.back());
    EXPECT_EQ(account.Count("  failed: "), static_cast<int>(c.failures.size())) << account.Text();
    for (const std::string& failure : c.failures)
      EXPECT_TRUE(account.HasLine("  failed: " + failure)) << account.Text();
  }
}

TEST_F(TransferTest, UncountedTransferLeavesTheCounter) {
  WriteFile(siteDir / "f.bin", Pattern(5000));
  progress.downloaded = 7;
  EXPECT_TRUE(FetchFile(server.Url("f.bin"), W("f.bin"), nullptr).ok());
  EXPECT_EQ(progress.downloaded, 7);
}

TEST_F(TransferTest, FailedMethodsBytesAreNotCountedTwice) {
  WriteFile(siteDir / "f.bin", Pattern(20000));
  server.DropAfter("f.bin", 10000);
  progress.downloaded = 500;
  EXPECT_TRUE(FetchFile(server.Url("f.bin"), W("f.bin"), &progress).ok());
  EXPECT_EQ(progress.downloaded, 20500);
  EXPECT_EQ(ReadFile(W("f.bin")), Pattern(20000));
  EXPECT_EQ(server.RequestCount("f.bin"), 2);
}

TEST_F(TransferTest, LastResortCountsTheFileOnce) {
  WriteFile(siteDir / "f.bin", Pattern(30000));
  server.DropAfter("f.bin", 10000, 2);
  EXPECT_TRUE(FetchFile(server.Url("f.bin"), W("f.bin"), &progress).ok());
  EXPECT_EQ(progress.downloaded, 30000);
  EXPECT_EQ(server.RequestCount("f.bin"), 3);
  EXPECT_EQ(server.Requests().back().userAgent, "MARL/TORQUIN TVQ Update");

  server.DropAfter("f.bin", 10000, 2);
  progress.downloaded = 0;
  EXPECT_TRUE(FetchFile(server.Url("f.bin"), W("g.bin"), nullptr).ok());
  EXPECT_EQ(progress.downloaded, 0);
}

// Records what a fetch hands its observer since the last restart.
struct RecordingObserver : FetchObserver {
  void Restart(bool passesThrough) override {
    restarts.push_back(passesThrough);
    taken.clear();
  }
  void Take(const char* data, std::size_t size) override { taken.append(data, size); }
  std::vector<bool> restarts;
  std::string taken;
};

TEST_F(TransferTest, ObserverSeesTheBytesOfTheMethodThatWroteTheFile) {
  struct Case {
    int drops;  // connections dropped after 10,000 bytes
    std::vector<bool> restarts;
    bool seesTheFile;
  };
  const Case cases[] = {
      {0, {true}, true},
      {1, {true, true}, true},
      {2, {true, true, false}, false},  // the last resort writes the file itself
  };
  WriteFile(siteDir / "f.bin", Pattern(30000, 9));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.drops);
    if (c.drops > 0) server.DropAfter("f.bin", 10000, c.drops);
    RecordingObserver observer;
    EXPECT_TRUE(FetchFile(server.Url("f.bin"), W("f.bin"), &progress, 30000, &observer).ok());
    EXPECT_EQ(ReadFile(W("f.bin")), Pattern(30000, 9));
    EXPECT_EQ(observer.restarts, c.restarts);
    EXPECT_EQ(observer.taken, c.seesTheFile ? Pattern(30000, 9) : std::string());
  }
}

TEST_F(TransferTest, AllMethodsFailing) {
  WriteFile(siteDir / "f.bin", Pattern(30000));
  server.DropAfter("f.bin", 10000, 3);
  EXPECT_FALSE(FetchFile(server.Url("f.bin"), W("f.bin"), &progress).ok());
  EXPECT_EQ(progress.downloaded, 0);
  EXPECT_EQ(server.RequestCount("f.bin"), 3);
}

TEST_F(TransferTest, DeadProxyFallsBackToTheDirectConnection) {
  WriteFile(siteDir / "f.bin", Pattern(4000));
  ScopedMachineProxy proxy(HttpTestServer::DeadPort());
  EXPECT_TRUE(FetchFile(server.Url("f.bin"), W("f.bin"), &progress).ok());
  EXPECT_EQ(ReadFile(W("f.bin")), Pattern(4000));
  EXPECT_EQ(progress.downloaded, 4000);
  EXPECT_EQ(server.RequestCount("f.bin"), 1);
}

TEST_F(TransferTest, StalledBodyFailsWithinTheStallLimit) {
  WriteFile(siteDir / "f.bin", Pattern(50000));
  server.Stall("f.bin", 20000);
  TransferSettings quick;
  quick.stallSeconds = 1;
  SetTransferSettings(quick);
  EXPECT_FALSE(FetchFile(server.Url("f.bin"), W("f.bin"), &progress).ok());
  // Each of the three methods gives up on the stall (one that waited would
  // hold the test until its time-out).
  EXPECT_EQ(server.RequestCount("f.bin"), 3);
  EXPECT_EQ(progress.downloaded, 0);
}

TEST_F(TransferTest, CancelBetweenBlocksTriesNoFurtherMethod) {
  WriteFile(siteDir / "f.bin", Pattern(200000));
  CancellingDisplay cancelling(3);
  progress.total = 200000;
  EXPECT_FALSE(FetchFile(server.Url("f.bin"), W("f.bin"), &progress).ok());
  EXPECT_EQ(server.RequestCount("f.bin"), 1);
  // Stopped after the third block (each at most 8192 bytes).
  EXPECT_GT(progress.downloaded, 0);
  EXPECT_LE(progress.downloaded, 3 * 8192);
  // The blocks gathered for writing reached the file all the same.
  EXPECT_EQ(ReadFile(W("f.bin")), Pattern(200000).substr(0, static_cast<std::size_t>(progress.downloaded)));
}

// A full disk is a tmpfs mount, which only Linux offers a test.
#ifndef _WIN32
TEST_F(TransferTest, FullDiskStopsTheTransferAtTheFailingPiece) {
  ScratchMount disk(work, "size=64k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  // Far more than fits: the first mebibyte written fails, the rest is not fetched.
  WriteFile(siteDir / "big.bin", Pattern(8 << 20));
  progress.total = 8 << 20;
  Status outcome = InternetFetch(kInternetOpenTypeDirect, server.Url("big.bin"), W("big.bin"), &progress);
  EXPECT_FALSE(outcome.ok());
  EXPECT_NE(outcome.message().find("cannot write " + W("big.bin") + ": No space left on device"),
            std::string::npos)
      << outcome.message();
  EXPECT_GE(progress.downloaded, 64 << 10);
  EXPECT_LE(progress.downloaded, (1 << 20) + 8192);
}

#endif

TEST_F(TransferTest, CancelWhileWaitingForData) {
  WriteFile(siteDir / "f.bin", Pattern(50000));
  server.Stall("f.bin", 100);
  TransferSettings slow;
  slow.stallSeconds = 60;
  SetTransferSettings(slow);
  CancellingDisplay cancelling(3);
  EXPECT_FALSE(FetchFile(server.Url("f.bin"), W("f.bin"), nullptr).ok());
  EXPECT_EQ(server.RequestCount("f.bin"), 1);
}

TEST_F(TransferTest, UnwritableTargetFails) {
  WriteFile(siteDir / "f.bin", Pattern(100));
  EXPECT_FALSE(InternetFetch(kInternetOpenTypeDirect, server.Url("f.bin"), W("no/such/dir/f.bin"), &progress).ok());
}

TEST_F(TransferTest, RefusedConnectionFailsEveryMethod) {
  const std::string url = "http://127.0.0.1:" + std::to_string(HttpTestServer::DeadPort()) + "/f.bin";
  EXPECT_FALSE(FetchFile(url, W("f.bin"), &progress).ok());
}

TEST_F(TransferTest, AccountNamesEachMethodTriedAndWhyItFailed) {
  WriteFile(siteDir / "f.bin", Pattern(20000));
  server.DropAfter("f.bin", 5000, 3);
  EXPECT_FALSE(FetchFile(server.Url("f.bin"), W("f.bin"), &progress).ok());
  EXPECT_TRUE(log.HasLine("trying PRECONFIGURED internet connection")) << log.Text();
  EXPECT_TRUE(log.HasLine("trying DIRECT internet connection")) << log.Text();
  EXPECT_TRUE(log.HasLine("trying using URLDownloadToFile()")) << log.Text();
  // The backend's own words: the body ended short of its announced length.
  EXPECT_EQ(log.Count(std::string("  failed: ") + kShortBodyText), 3) << log.Text();

  StdTextCapture dead;
  ScopedMachineProxy proxy(HttpTestServer::DeadPort());
  EXPECT_TRUE(FetchFile(server.Url("f.bin"), W("f.bin"), nullptr).ok());
  EXPECT_EQ(dead.Count("  failed: "), 1) << dead.Text();
  EXPECT_EQ(dead.Count(kDeadProxyText), 1) << dead.Text();
  EXPECT_TRUE(dead.HasLine("trying DIRECT internet connection")) << dead.Text();
  EXPECT_EQ(dead.Count("URLDownloadToFile"), 0) << dead.Text();
}

}  // namespace
