// os::HttpGet and os::HttpDownloadToFile against real servers: nginx over
// HTTPS with certificates of a throw-away authority, and tinyproxy as the
// proxy of the preconfigured method.
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "support/http_test_server.h"
#include "support/nginx_server.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/test_authority.h"
#include "support/tinyproxy_server.h"

namespace {

const std::string kContent(20000, 'z');

struct Got {
  bool ok = false;
  std::string body;
  std::string failure;
};

os::HttpRequest Request(const std::string& url, bool direct = false) {
  os::HttpRequest r;
  r.url = url;
  r.direct = direct;
  r.userAgent = "MARL/TORQUIN TVQ Update";
  r.connectTimeoutSeconds = 10;
  r.stallSeconds = 10;
  return r;
}

Got Fetch(const std::string& url, bool direct = false) {
  Got got;
  const Status outcome = os::HttpGet(
      Request(url, direct),
      [&](const char* data, std::size_t size) { return got.body.append(data, size), true; },
      nullptr);
  got.ok = outcome.ok();
  got.failure = outcome.message();
  return got;
}

class HttpRealServers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(authority.ok());
    WriteFile(site / "file.bin", kContent);
  }
  // Nothing of the machine's own proxy or certificate set-up takes part.
  ScopedEnv env_[9] = {{"http_proxy", std::nullopt},     {"https_proxy", std::nullopt},
                       {"HTTPS_PROXY", std::nullopt},    {"all_proxy", std::nullopt},
                       {"ALL_PROXY", std::nullopt},      {"no_proxy", std::nullopt},
                       {"NO_PROXY", std::nullopt},       {"CURL_CA_BUNDLE", std::nullopt},
                       {"SSL_CERT_FILE", std::nullopt}};
  ScratchDir site;
  ScratchDir certs;
  TestAuthority authority{certs.path()};
};

TEST_F(HttpRealServers, TrustsTheAuthorityNamedByCurlCaBundleElseSslCertFile) {
  const auto tls = authority.Issue("good", "IP:127.0.0.1");
  ASSERT_TRUE(tls);
  NginxServer nginx(site.path(), *tls);
  ASSERT_TRUE(nginx.ok()) << nginx.failure();
  const std::string ca = authority.certificate();
  const std::string system = "/etc/ssl/certs/ca-certificates.crt";
  struct Case {
    std::optional<std::string> curlCaBundle, sslCertFile;
    bool verifies;
  } cases[] = {
      {std::nullopt, std::nullopt, false},  // the system's store does not know it
      {ca, std::nullopt, true},
      {std::nullopt, ca, true},
      {"", ca, true},       // an empty variable counts as unset
      {system, ca, false},  // CURL_CA_BUNDLE comes first, as with curl
  };
  for (const Case& c : cases) {
    const std::string row = c.curlCaBundle.value_or("-") + " / " + c.sslCertFile.value_or("-");
    ScopedEnv bundle("CURL_CA_BUNDLE", c.curlCaBundle);
    ScopedEnv certFile("SSL_CERT_FILE", c.sslCertFile);
    const Got got = Fetch(nginx.Url("file.bin"));
    EXPECT_EQ(got.ok, c.verifies) << row << ": " << got.failure;
    EXPECT_EQ(got.body, c.verifies ? kContent : "") << row;
    if (!c.verifies) {
      EXPECT_NE(got.failure.find("certificate"), std::string::npos) << got.failure;
    }
  }
}

TEST_F(HttpRealServers, CertificateThatDoesNotVerifyIsRefusedWithItsCause) {
  ScopedEnv bundle("CURL_CA_BUNDLE", authority.certificate());
  ScratchDir stranger;
  TestAuthority unknown(stranger.path());
  struct Case {
    const char* what;
    std::optional<TlsFiles> tls;
    const char* cause;
  } cases[] = {
      {"wrong name", authority.Issue("other", "DNS:other.invalid"), "127.0.0.1"},
      {"expired", authority.Issue("old", "IP:127.0.0.1", true), "expired"},
      {"unknown authority", unknown.Issue("stranger", "IP:127.0.0.1"), "issuer"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(c.tls) << c.what;
    NginxServer nginx(site.path(), *c.tls);
    ASSERT_TRUE(nginx.ok()) << nginx.failure();
    for (bool direct : {false, true}) {
      const Got got = Fetch(nginx.Url("file.bin"), direct);
      EXPECT_FALSE(got.ok) << c.what;
      EXPECT_EQ(got.body, "") << c.what;
      EXPECT_NE(got.failure.find(c.cause), std::string::npos) << c.what << ": " << got.failure;
    }
    // The last resort verifies as strictly; the cause comes with it too.
    const std::string target = site / "target";
    const Status outcome = os::HttpDownloadToFile(Request(nginx.Url("file.bin")), target, nullptr);
    EXPECT_FALSE(outcome.ok()) << c.what;
    EXPECT_EQ(ReadFile(target), "") << c.what;
    EXPECT_NE(outcome.message().find(c.cause), std::string::npos) << c.what << ": " << outcome.message();
    // Not one request reached the server.
    EXPECT_TRUE(nginx.Requests().empty()) << c.what;
  }
}

TEST_F(HttpRealServers, PreconfiguredMethodTunnelsHttpsThroughTheProxyAndDirectDoesNot) {
  ScopedEnv bundle("CURL_CA_BUNDLE", authority.certificate());
  const auto tls = authority.Issue("good", "IP:127.0.0.1");
  ASSERT_TRUE(tls);
  NginxServer nginx(site.path(), *tls);
  ASSERT_TRUE(nginx.ok()) << nginx.failure();
  TinyproxyServer proxy;
  ASSERT_TRUE(proxy.ok()) << proxy.failure();
  ScopedEnv httpsProxy("https_proxy", proxy.Url());

  const Got viaProxy = Fetch(nginx.Url("file.bin"));
  EXPECT_TRUE(viaProxy.ok) << viaProxy.failure;
  EXPECT_EQ(viaProxy.body, kContent);
  const std::string tunnel = "CONNECT 127.0.0.1:" + std::to_string(nginx.port()) + " HTTP/1.1";
  EXPECT_EQ(proxy.Requests(), std::vector<std::string>{tunnel});

  const Got direct = Fetch(nginx.Url("file.bin"), true);
  EXPECT_TRUE(direct.ok) << direct.failure;
  EXPECT_EQ(direct.body, kContent);
  EXPECT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(nginx.Requests(2).size(), 2u);
}

TEST_F(HttpRealServers, DeadProxyFailsThePreconfiguredMethodWithItsCause) {
  NginxServer nginx(site.path());
  ASSERT_TRUE(nginx.ok()) << nginx.failure();
  ScopedEnv httpProxy("http_proxy", "http://127.0.0.1:" + std::to_string(HttpTestServer::DeadPort()));
  const Got got = Fetch(nginx.Url("file.bin"));
  EXPECT_FALSE(got.ok);
  EXPECT_NE(got.failure.find("connect"), std::string::npos) << got.failure;
  EXPECT_TRUE(nginx.Requests().empty());
}

}  // namespace
