// os::HttpGet and os::HttpDownloadToFile against the in-process test server.
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "support/http_test_server.h"
#include "support/machine_proxy.h"
#include "support/scoped_env.h"
#include "support/silent_port.h"
#include "support/temp_dir.h"

namespace {

constexpr const char* kAgent = "MARL/TORQUIN TVQ Update";

os::HttpRequest Request(const std::string& url, bool direct = false) {
  os::HttpRequest r;
  r.url = url;
  r.direct = direct;
  r.userAgent = kAgent;
  r.connectTimeoutSeconds = 5;
  r.stallSeconds = 5;
  return r;
}

struct Received {
  std::string body;
  std::size_t largestBlock = 0;
  int blocks = 0;
  os::HttpBlockSink Sink() {
    return [this](const char* data, std::size_t size) {
      body.append(data, size);
      largestBlock = std::max(largestBlock, size);
      ++blocks;
      return true;
    };
  }
};

class HttpTest : public ::testing::Test {
 protected:
  // Proxies of the machine must not take part unless a test sets them.
  ScopedEnv noHttpProxy{"http_proxy", std::nullopt};
  ScopedEnv noAllProxy{"all_proxy", std::nullopt};
  ScopedEnv noAllProxyUpper{"ALL_PROXY", std::nullopt};
  ScratchDir site;
};

TEST_F(HttpTest, BodyArrivesInBlocksOfAtMost8192WithTheAgent) {
  const std::string content = Pattern(300000);
  WriteFile(site / "big.bin", content);
  HttpTestServer server(site.path());
  Received got;
  ASSERT_TRUE(os::HttpGet(Request(server.Url("big.bin")), got.Sink(), nullptr).ok());
  EXPECT_EQ(got.body, content);
  EXPECT_LE(got.largestBlock, 8192u);
  EXPECT_GE(got.blocks, 300000 / 8192);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].userAgent, kAgent);
}

TEST_F(HttpTest, SmallerMaxBlockSplitsBlocks) {
  WriteFile(site / "f.bin", Pattern(5000));
  HttpTestServer server(site.path());
  Received got;
  auto r = Request(server.Url("f.bin"));
  r.maxBlock = 100;
  ASSERT_TRUE(os::HttpGet(r, got.Sink(), nullptr).ok());
  EXPECT_EQ(got.body.size(), 5000u);
  EXPECT_LE(got.largestBlock, 100u);
}

TEST_F(HttpTest, DroppedConnectionFails) {
  WriteFile(site / "f.bin", Pattern(50000));
  HttpTestServer server(site.path());
  server.DropAfter("f.bin", 10000);
  Received got;
  EXPECT_FALSE(os::HttpGet(Request(server.Url("f.bin")), got.Sink(), nullptr).ok());
  EXPECT_EQ(got.body.size(), 10000u);
  Received again;
  EXPECT_TRUE(os::HttpGet(Request(server.Url("f.bin")), again.Sink(), nullptr).ok());
  EXPECT_EQ(again.body.size(), 50000u);
}

TEST_F(HttpTest, StalledBodyFailsAfterTheStallLimit) {
  WriteFile(site / "f.bin", Pattern(50000));
  HttpTestServer server(site.path());
  server.Stall("f.bin", 1000);
  auto r = Request(server.Url("f.bin"));
  r.stallSeconds = 1;
  int idles = 0;
  Received got;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(os::HttpGet(r, got.Sink(), [&] { return ++idles > 0; }).ok());
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 10.0);
  EXPECT_EQ(got.body.size(), 1000u);
  // Waiting for data, the idle callback runs about ten times a second.
  EXPECT_GE(idles, 5);
}

TEST_F(HttpTest, IdleRefusalCancelsAWaitingTransfer) {
  WriteFile(site / "f.bin", Pattern(50000));
  HttpTestServer server(site.path());
  server.Stall("f.bin", 100);
  int idles = 0;
  Received got;
  EXPECT_FALSE(os::HttpGet(Request(server.Url("f.bin")), got.Sink(), [&] { return ++idles < 3; }).ok());
  EXPECT_EQ(idles, 3);
}

TEST_F(HttpTest, SinkRefusalStopsTheTransfer) {
  WriteFile(site / "f.bin", Pattern(100000));
  HttpTestServer server(site.path());
  int blocks = 0;
  EXPECT_FALSE(os::HttpGet(Request(server.Url("f.bin")), [&](const char*, std::size_t) { return ++blocks < 2; },
                           nullptr).ok());
  EXPECT_EQ(blocks, 2);
}

TEST_F(HttpTest, RefusedConnectionFails) {
  Received got;
  EXPECT_FALSE(os::HttpGet(Request("http://127.0.0.1:" + std::to_string(HttpTestServer::DeadPort()) + "/x"),
                           got.Sink(), nullptr).ok());
}

TEST_F(HttpTest, DirectIgnoresTheProxyVariable) {
  WriteFile(site / "f.txt", "through");
  HttpTestServer server(site.path());
  ScopedMachineProxy proxy(HttpTestServer::DeadPort());
  Received viaProxy;
  EXPECT_FALSE(os::HttpGet(Request(server.Url("f.txt")), viaProxy.Sink(), nullptr).ok());
  Received direct;
  EXPECT_TRUE(os::HttpGet(Request(server.Url("f.txt"), true), direct.Sink(), nullptr).ok());
  EXPECT_EQ(direct.body, "through");
}

TEST_F(HttpTest, RedirectsAreFollowed) {
  WriteFile(site / "real.txt", "moved here");
  HttpTestServer server(site.path());
  server.Redirect("old.txt", "real.txt");
  Received got;
  EXPECT_TRUE(os::HttpGet(Request(server.Url("old.txt")), got.Sink(), nullptr).ok());
  EXPECT_EQ(got.body, "moved here");
}

TEST_F(HttpTest, RedirectsAreFollowedOnlyToHttp) {
  WriteFile(site / "real.txt", "moved here");
  HttpTestServer server(site.path());
  server.Redirect("old.txt", "real.txt");
  ScratchDir work;
  EXPECT_TRUE(os::HttpDownloadToFile(Request(server.Url("old.txt")), work / "old.txt").ok());
  EXPECT_EQ(ReadFile(work / "old.txt"), "moved here");
  for (const std::string scheme : {"ftp", "file", "gopher"}) {
    SilentPort silent;
    server.RedirectTo("away.txt", scheme + "://127.0.0.1:" + std::to_string(silent.Port()) + "/real.txt");
    Received got;
    EXPECT_FALSE(os::HttpGet(Request(server.Url("away.txt")), got.Sink(), nullptr).ok()) << scheme;
    EXPECT_FALSE(os::HttpDownloadToFile(Request(server.Url("away.txt")), work / "away.txt").ok()) << scheme;
    EXPECT_FALSE(silent.WasReached()) << scheme;
  }
}

TEST_F(HttpTest, DownloadToFileWritesTheBody) {
  const std::string content = Pattern(70000);
  WriteFile(site / "f.bin", content);
  HttpTestServer server(site.path());
  ScratchDir work;
  EXPECT_TRUE(os::HttpDownloadToFile(Request(server.Url("f.bin")), work / "f.bin").ok());
  EXPECT_EQ(ReadFile(work / "f.bin"), content);
  EXPECT_EQ(server.Requests().back().userAgent, kAgent);
  EXPECT_FALSE(os::HttpDownloadToFile(Request(server.Url("f.bin")), work / "no-such-dir/f.bin").ok());
}

}  // namespace
