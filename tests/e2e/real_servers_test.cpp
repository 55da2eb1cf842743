// End-to-end against real servers: the built tvqlupd installs an update made
// with tvqpublish from nginx over HTTP and HTTPS (a throw-away authority),
// through tinyproxy as the preconfigured connection, past a dead proxy and
// one that answers 502, and refuses a site whose certificate does not verify.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/http_test_server.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "support/test_authority.h"
#include "support/tinyproxy_server.h"
#include "support/updater_env.h"

namespace {

const std::string kHeader = "<update id=\"TVQ2026-03-01\">";
const std::string kAgent = "MARL/TORQUIN TVQ Update";
const std::string kReadme = "delivered by a real server\r\n";
const std::string kData(30000, 'd');

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

int Occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class RealServers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(authority.ok());
    ASSERT_EQ(env.Publish("TVQ2026-03-01", {{"readme.txt", kReadme}, {"data.bin", kData}}), 0);
  }

  // Runs the updater with its account on standard output, nothing of the
  // machine's proxy or certificate set-up, and the given variables.
  ProcessResult Run(const std::map<std::string, std::string>& vars = {}) {
    ProcessOptions o = env.RunOptions({"/Log"});
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "no_proxy", "NO_PROXY", "CURL_CA_BUNDLE", "SSL_CERT_FILE"})
      o.env[name] = std::nullopt;
    for (const auto& [name, value] : vars) o.env[name] = value;
    return RunProcess(o);
  }

  void ExpectInstalled(const ProcessResult& run) {
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(ReadFile(env.AppFile("readme.txt")), kReadme) << run.out << run.err;
    EXPECT_EQ(ReadFile(env.AppFile("data.bin")), kData);
    EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), kHeader);
  }

  // The site's list and both files were each asked for with the updater's
  // agent, through the proxy (its Via header) or straight.
  static void ExpectServedWithAgent(const NginxServer& nginx, bool viaProxy = false) {
    const auto requests = nginx.Requests();
    for (const char* path : {"/!update-info.txt", "/readme.txt", "/data.bin"}) {
      const std::string line = std::string("GET ") + path + " 200|" + kAgent + "|";
      const bool seen = std::any_of(requests.begin(), requests.end(), [&](const std::string& r) {
        return viaProxy ? r.rfind(line, 0) == 0 && Has(r.substr(line.size()), "(tinyproxy/")
                        : r == line + "-";
      });
      EXPECT_TRUE(seen) << path << (viaProxy ? " through the proxy" : " straight");
    }
  }

  // The console bar (one line per quarter when not a terminal) stands at
  // 96 % when the download ends and the installation begins, and reaches
  // 100 % only with the installation: bytes of a failed method counted too
  // would have filled it before.
  static void ExpectBarCountsEveryByteOnce(const ProcessResult& run) {
    std::vector<int> before, after;
    std::istringstream err(run.err);
    bool installing = false;
    for (std::string line; std::getline(err, line);) {
      if (line == "installing...") installing = true;
      if (line.rfind("[", 0) == 0 && !line.empty() && line.back() == '%')
        (installing ? after : before).push_back(std::stoi(line.substr(line.rfind(' ') + 1)));
    }
    ASSERT_TRUE(installing) << run.err;
    ASSERT_FALSE(before.empty()) << run.err;
    ASSERT_FALSE(after.empty()) << run.err;
    EXPECT_EQ(before.back(), 96) << run.err;
    EXPECT_EQ(after.back(), 100) << run.err;
    EXPECT_TRUE(std::is_sorted(before.begin(), before.end())) << run.err;
  }

  UpdaterEnv env;
  ScratchDir certs;
  TestAuthority authority{certs.path()};
};

TEST_F(RealServers, InstallsFromNginxOverHttp) {
  NginxServer nginx(env.site);
  ASSERT_TRUE(nginx.ok()) << nginx.failure();
  env.WriteSettings({"LiveUpdate.www=" + nginx.Url()});
  const auto run = Run();
  ExpectInstalled(run);
  ExpectServedWithAgent(nginx);
  EXPECT_FALSE(Has(run.out, "failed:")) << run.out;
}

TEST_F(RealServers, InstallsFromNginxOverHttpsTrustingTheTestAuthority) {
  const auto tls = authority.Issue("site", "IP:127.0.0.1");
  ASSERT_TRUE(tls);
  NginxServer nginx(env.site, *tls);
  ASSERT_TRUE(nginx.ok()) << nginx.failure();
  env.WriteSettings({"LiveUpdate.www=" + nginx.Url()});
  const auto run = Run({{"CURL_CA_BUNDLE", authority.certificate()}});
  ExpectInstalled(run);
  ExpectServedWithAgent(nginx);
  EXPECT_FALSE(Has(run.out, "failed:")) << run.out;
}

TEST_F(RealServers, ListAndFilesGoThroughTheProxy) {
  NginxServer nginx(env.site);
  ASSERT_TRUE(nginx.ok()) << nginx.failure();
  TinyproxyServer proxy;
  ASSERT_TRUE(proxy.ok()) << proxy.failure();
  env.WriteSettings({"LiveUpdate.www=" + nginx.Url()});
  const auto run = Run({{"http_proxy", proxy.Url()}, {"https_proxy", proxy.Url()}});
  ExpectInstalled(run);
  const auto requests = proxy.Requests();
  for (const char* name : {"!update-info.txt", "readme.txt", "data.bin"}) {
    const std::string line = "GET " + nginx.Url(name) + " HTTP/1.1";
    EXPECT_NE(std::find(requests.begin(), requests.end(), line), requests.end()) << line;
  }
  // The proxy does not log headers; behind it, nginx sees its Via header
  // together with the updater's agent.
  ExpectServedWithAgent(nginx, true);
  EXPECT_FALSE(Has(run.out, "DIRECT")) << run.out;
}

TEST_F(RealServers, DeadProxyFailsOverToTheDirectConnection) {
  NginxServer nginx(env.site);
  ASSERT_TRUE(nginx.ok()) << nginx.failure();
  env.WriteSettings({"LiveUpdate.www=" + nginx.Url()});
  const std::string dead = "http://127.0.0.1:" + std::to_string(HttpTestServer::DeadPort()) + "/";
  const auto run = Run({{"http_proxy", dead}});
  ExpectInstalled(run);
  // Every transfer (three list readings, two files) tried both methods.
  const int transfers = Occurrences(run.out, "trying PRECONFIGURED internet connection");
  EXPECT_GE(transfers, 4) << run.out;
  EXPECT_EQ(Occurrences(run.out, "trying DIRECT internet connection"), transfers) << run.out;
  EXPECT_EQ(Occurrences(run.out, "  failed: "), transfers) << run.out;
  EXPECT_FALSE(Has(run.out, "URLDownloadToFile")) << run.out;
  ExpectServedWithAgent(nginx);
  ExpectBarCountsEveryByteOnce(run);
}

TEST_F(RealServers, ProxyAnswering502IsPassedByOnTheDirectConnection) {
  // Sending everything on to a proxy that is not there, tinyproxy answers
  // 502 to every request: to a plain one, and to the CONNECT of a tunnel.
  TinyproxyServer proxy("127.0.0.1:" + std::to_string(HttpTestServer::DeadPort()));
  ASSERT_TRUE(proxy.ok()) << proxy.failure();
  const auto tls = authority.Issue("site", "IP:127.0.0.1");
  ASSERT_TRUE(tls);
  for (const bool https : {false, true}) {
    const std::string says = https ? "  failed: the proxy answered 502 Bad Gateway"
                                   : "  failed: the site answered 502 Bad Gateway (through the proxy)";
    std::optional<NginxServer> nginx;
    https ? nginx.emplace(env.site, *tls) : nginx.emplace(env.site);
    ASSERT_TRUE(nginx->ok()) << nginx->failure();
    // An installation of its own: one that has the files already fetches none.
    ScratchDir other;
    env.PlaceApp(other / "app");
    env.WriteSettings({"LiveUpdate.www=" + nginx->Url()});
    const auto run = Run({{"http_proxy", proxy.Url()},
                          {"https_proxy", proxy.Url()},
                          {"CURL_CA_BUNDLE", authority.certificate()}});
    ExpectInstalled(run);
    // Each transfer was refused by the proxy and made on the direct connection.
    const int transfers = Occurrences(run.out, "trying PRECONFIGURED internet connection");
    EXPECT_GE(transfers, 4) << run.out;
    EXPECT_EQ(Occurrences(run.out, says), transfers) << run.out;
    EXPECT_EQ(Occurrences(run.out, "trying DIRECT internet connection"), transfers) << run.out;
    EXPECT_FALSE(Has(run.out, "URLDownloadToFile")) << run.out;
    ExpectServedWithAgent(*nginx);
  }
}

TEST_F(RealServers, FileCutShortByTheProxyIsFetchedDirectAndCountedOnce) {
  // The origin sends the first request for data.bin (the proxied one) only
  // in part; the proxy passes on what came and closes.
  HttpTestServer origin(env.site);
  origin.DropAfter("data.bin", 20000);
  TinyproxyServer proxy;
  ASSERT_TRUE(proxy.ok()) << proxy.failure();
  env.WriteSettings({"LiveUpdate.www=" + origin.BaseUrl()});
  const auto run = Run({{"http_proxy", proxy.Url()}});
  ExpectInstalled(run);
  EXPECT_EQ(origin.RequestCount("data.bin"), 2);
  EXPECT_EQ(Occurrences(run.out, "  failed: "), 1) << run.out;
  EXPECT_EQ(Occurrences(run.out, "  failed: transfer closed with 10000 bytes remaining"), 1)
      << run.out;
  EXPECT_EQ(Occurrences(run.out, "trying DIRECT internet connection"), 1) << run.out;
  ExpectBarCountsEveryByteOnce(run);
}

TEST_F(RealServers, NoProxyNamingTheSiteHostGoesDirect) {
  NginxServer nginx(env.site);
  ASSERT_TRUE(nginx.ok()) << nginx.failure();
  TinyproxyServer proxy;
  ASSERT_TRUE(proxy.ok()) << proxy.failure();
  env.WriteSettings({"LiveUpdate.www=" + nginx.Url()});
  const auto run = Run({{"http_proxy", proxy.Url()}, {"no_proxy", "127.0.0.1"}});
  ExpectInstalled(run);
  EXPECT_TRUE(proxy.Requests().empty());
  ExpectServedWithAgent(nginx);
  EXPECT_FALSE(Has(run.out, "DIRECT")) << run.out;
}

TEST_F(RealServers, SiteWithACertificateForAnotherNameInstallsAndRecordsNothing) {
  const auto tls = authority.Issue("other", "DNS:other.invalid");
  ASSERT_TRUE(tls);
  NginxServer nginx(env.site, *tls);
  ASSERT_TRUE(nginx.ok()) << nginx.failure();
  env.WriteSettings({"LiveUpdate.www=" + nginx.Url()});
  const auto run = Run({{"CURL_CA_BUNDLE", authority.certificate()}});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_FALSE(PathExists(env.AppFile("readme.txt")));
  EXPECT_FALSE(PathExists(env.AppFile("data.bin")));
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), "");
  // All three methods were refused, each with the cause.
  EXPECT_GE(Occurrences(run.out, "  failed: SSL"), 3) << run.out;
  EXPECT_TRUE(Has(run.out, "127.0.0.1")) << run.out;
  EXPECT_TRUE(nginx.Requests().empty());
}

}  // namespace
