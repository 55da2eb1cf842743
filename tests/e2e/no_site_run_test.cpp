// End-to-end: tvqlupd as a build without a default site makes it (built
// from the same sources without TVQ_DEFAULT_SITE). It asks only the sites
// that /P and the settings name, and says so when none does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/http_test_server.h"
#include "support/updater_env.h"

namespace {

// "SITE" in an argument or a setting stands for the served site.
std::vector<std::string> WithSite(std::vector<std::string> items, const std::string& site) {
  for (std::string& item : items)
    if (const auto at = item.find("SITE"); at != std::string::npos) item.replace(at, 4, site);
  return items;
}

TEST(NoSiteRun, VersionSaysNoneAndARunAsksOnlyTheSitesNamed) {
  UpdaterEnv installed(TVQLUPD_NO_SITE_BIN);
  const ProcessResult version = installed.Run({"--version"});
  EXPECT_NE(version.out.find("\ndefault update site: none\n"), std::string::npos) << version.out;

  const std::string noSite = "no update site is configured (give /P or set LiveUpdate.www)";
  const std::string dead = "http://127.0.0.1:" + std::to_string(HttpTestServer::DeadPort()) + "/";
  const struct {
    const char* what;
    std::vector<std::string> args, settings;
    const char* lang;
    std::string status;   // a status line shown
    std::string account;  // a line of the account; empty: the update is installed
  } rows[] = {
      {"nothing names a site", {}, {}, "C", "error: " + noSite, noSite},
      {"nothing names a site, in German", {}, {}, "de_DE.UTF-8",
       "Fehler: keine Update-Site eingestellt (/P angeben oder LiveUpdate.www setzen)", noSite},
      {"only an alternative, which fails", {}, {"LiveUpdate.www2=" + dead}, "C",
       "because: neither /P nor LiveUpdate.www names a site, and no alternative site answered",
       "no update list: neither /P nor LiveUpdate.www names a site, and no alternative site answered"},
      {"/P", {"/PSITE"}, {}, "C", "installation completed", ""},
      {"only an alternative", {}, {"LiveUpdate.www.3=SITE"}, "C", "installation completed", ""},
  };
  for (const auto& row : rows) {
    UpdaterEnv env(TVQLUPD_NO_SITE_BIN);
    env.timeRate = 10;
    ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "from the named site\r\n"}}), 0);
    const std::string site = env.Serve();
    env.WriteSettings(WithSite(row.settings, site));
    ProcessOptions o = env.RunOptions(WithSite(row.args, site));
    o.argv.push_back("/Log");
    o.env["LANG"] = row.lang;
    o.env["LC_MESSAGES"] = std::nullopt;
    const ProcessResult run = RunProcess(o);
    EXPECT_EQ(run.exitCode, 0) << row.what << run.err;
    EXPECT_EQ(PathExists(env.AppFile("readme.txt")), row.account.empty()) << row.what;
    EXPECT_NE(run.err.find(row.status + "\n"), std::string::npos) << row.what << run.err;
    EXPECT_NE(run.out.find(row.account + "\n"), std::string::npos) << row.what << run.out;
    // Without a site named, no list is looked for anywhere.
    if (row.account == noSite) {
      EXPECT_EQ(run.out.find("update list"), std::string::npos) << row.what << run.out;
    }
  }
}

}  // namespace
