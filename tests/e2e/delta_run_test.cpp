// Delta updates end to end: a signed site made by tvqpublish holds three
// versions of a data file, the newest listed with patches from both earlier
// ones, and of the main application, packed as tvq.ex_ and patched on the
// program it expands to; installations with either earlier version fetch
// patches (bytes counted at nginx) and install the new versions byte for
// byte. A base changed on the user's machine and a damaged patch cost no
// update: the whole file is fetched in the same run.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "app/list/site_record.h"
#include "support/http_test_server.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "support/updater_env.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kSize = 1 << 20;

std::string Version(int v, std::uint32_t seed = 12345) {
  std::string data(kSize, '\0');
  std::uint32_t x = seed;
  for (char& c : data) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  for (int i = 2; i <= v; ++i) data.replace(static_cast<std::size_t>(i) * 100000, 64, std::string(64, char('a' + i)));
  return data;
}

ProcessResult Tool(const std::vector<std::string>& argv) {
  ProcessOptions o;
  o.argv = argv;
  return RunProcess(o);
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::uintmax_t BytesServed(const NginxServer& nginx, const std::string& path) {
  const auto answers = nginx.Answers(path);
  return std::accumulate(answers.begin(), answers.end(), std::uintmax_t{0},
                         [](std::uintmax_t sum, const auto& a) { return sum + a.bytes; });
}

TEST(DeltaRun, InstallationsPatchTheirCopyAndFetchWholeWhenAPatchCannotServe) {
  UpdaterEnv env;
  env.timeRate = 10;
  ScratchDir keys;
  const ProcessResult key = Tool({TVQPUBLISH_BIN, "keygen", keys / "k.key", "--unencrypted"});
  ASSERT_EQ(key.exitCode, 0) << key.err;
  env.signKey = keys / "k.key";
  const auto program = [](int v) { return "MZ" + Version(v, 777); };
  for (int v = 1; v <= 3; ++v)
    ASSERT_EQ(env.Publish("TVQ2027-0" + std::to_string(v), {{"lib.bin", Version(v)}, {"tvq.exe", program(v)}}), 0);
  const std::string publicKey = key.out.substr(0, key.out.find('\n'));
  ASSERT_TRUE(Tool({TVQPUBLISH_BIN, "verify", env.site, "--pubkey", publicKey}).exitCode == 0);
  NginxServer nginx{env.site};
  ASSERT_TRUE(nginx.ok()) << nginx.failure();
  // The newest version has a patch from each earlier one, both small.
  const auto record = ParseSiteRecord(ReadFile(env.site + "/!update-record.txt"), nullptr);
  ASSERT_TRUE(record);
  std::string patchOf2;
  for (const RecordedPatch* p : record->PatchesOf("lib.bin")) {
    EXPECT_LT(p->patch.size, static_cast<std::int64_t>(kSize / 50)) << p->patchName;
    if (p->base == DigestOfBytes(Version(2))) patchOf2 = env.site + "/" + p->patchName;
  }
  ASSERT_EQ(record->PatchesOf("lib.bin").size(), 2u);
  ASSERT_FALSE(patchOf2.empty());
  ASSERT_TRUE(record->ExpandedNamed("tvq.ex_") && *record->ExpandedNamed("tvq.ex_") == DigestOfBytes(program(3)));
  ASSERT_EQ(record->PatchesOf("tvq.ex_").size(), 2u);

  const struct {
    const char* what;
    int installed;  // the version the installation has (0: another content)
    bool http;
    std::function<void()> damage;
    std::string said;
  } cases[] = {
      {"two versions behind, over HTTP", 1, true, nullptr, " patched: "},
      {"one version behind, from the directory", 2, false, nullptr, " patched: "},
      {"a base changed on the user's machine", 0, true, nullptr,
       "patch not used: no patch of the site fits the installed copy"},
      {"a damaged patch", 2, true,
       [&] {
         std::string bytes = ReadFile(patchOf2);
         bytes[bytes.size() / 2] ^= 1;
         WriteFile(patchOf2, bytes);
       },
       "patch not used: the patch: its digest differs from the recorded one"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir other;
    env.PlaceApp(other / "app");
    WriteFile(env.AppFile("lib.bin"), c.installed ? Version(c.installed) : Version(1) + "local edit");
    WriteFile(env.AppFile("tvq.exe"), program(c.installed ? c.installed : 1));
    env.WriteSettings({"LiveUpdate.www=" + nginx.Url(), "LiveUpdate.installationInfo=0",
                       "LiveUpdate.publicKey=" + publicKey,
                       "LiveUpdate.lastUpdateInfo=<update id=\"TVQ2027-0" + std::to_string(c.installed) + "\">"});
    if (c.damage) c.damage();
    const std::uintmax_t wholeBefore = BytesServed(nginx, "/lib.bin");
    const ProcessResult run = c.http ? env.Run({"/Log"}) : env.Run({"/Log", "/P" + env.site});
    EXPECT_TRUE(Has(run.out, c.said)) << run.out;
    EXPECT_TRUE(ReadFile(env.AppFile("lib.bin")) == Version(3)) << run.out;
    EXPECT_TRUE(ReadFile(env.AppFile("tvq.exe")) == program(3)) << run.out;
    EXPECT_EQ(BytesServed(nginx, "/tvq.ex_"), 0u) << run.out;
    EXPECT_TRUE(Has(env.Setting("LiveUpdate.lastUpdateInfo"), "<update id=\"TVQ2027-03\">"));
    const bool patched = c.said == " patched: ";
    EXPECT_EQ(BytesServed(nginx, "/lib.bin") - wholeBefore, patched || !c.http ? 0 : kSize) << run.out;
  }
}

}  // namespace

namespace {

// A patch whose transfer breaks off is continued, not fetched again.
TEST(DeltaRun, ABrokenOffPatchTransferIsContinued) {
  UpdaterEnv env;
  env.timeRate = 10;
  for (int v = 1; v <= 2; ++v) ASSERT_EQ(env.Publish("TVQ2027-0" + std::to_string(v), {{"lib.bin", Version(v)}}), 0);
  const auto record = ParseSiteRecord(ReadFile(env.site + "/!update-record.txt"), nullptr);
  ASSERT_TRUE(record && record->PatchesOf("lib.bin").size() == 1u);
  const RecordedPatch& patch = *record->PatchesOf("lib.bin")[0];
  HttpTestServer server(env.site);
  server.DropAfter(patch.patchName, static_cast<std::size_t>(patch.patch.size / 2));
  WriteFile(env.AppFile("lib.bin"), Version(1));
  env.WriteSettings({"LiveUpdate.www=" + server.BaseUrl(), "LiveUpdate.installationInfo=0",
                     "LiveUpdate.lastUpdateInfo=<update id=\"TVQ2027-01\">"});
  const ProcessResult run = env.Run({"/Log"});
  EXPECT_TRUE(Has(run.out, " patched: ")) << run.out;
  EXPECT_TRUE(ReadFile(env.AppFile("lib.bin")) == Version(2)) << run.out;
  EXPECT_EQ(server.BytesSent(patch.patchName), static_cast<std::size_t>(patch.patch.size)) << run.out;
  EXPECT_EQ(server.BytesSent("lib.bin"), 0u) << run.out;
}

}  // namespace
