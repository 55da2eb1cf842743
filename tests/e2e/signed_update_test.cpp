// End-to-end: the built tvqlupd with a trusted public key against signed
// sites made with tvqpublish and the minisign tool, over HTTP and file://.
// Every refusal leaves the application directory and the settings as they
// were. Each run takes 12-20 s because of the program's designed waits.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>

#include "app/fetch/minisign.h"
#include "platform/signature.h"
#include "publish/site_record_write.h"
#include "support/updater_env.h"

namespace fs = std::filesystem;

namespace {

const std::string kHeader1 = "<update id=\"TVQ2026-01-10\">";
const std::string kHeader2 = "<update id=\"TVQ2026-02-20\">";

struct Key {
  std::string secret;  // the secret key file
  std::string pub;     // the public key line RW...
};

ProcessResult Tool(const std::vector<std::string>& argv) {
  ProcessOptions o;
  o.argv = argv;
  return RunProcess(o);
}

std::string FirstLineOf(std::string text) {
  const auto end = text.find_first_of("\r\n");
  return end == std::string::npos ? text : text.substr(0, end);
}

Key ToolKey(const ScratchDir& dir, const std::string& name) {
  Key k{dir / (name + ".key"), ""};
  const ProcessResult r = Tool({TVQPUBLISH_BIN, "keygen", k.secret, "--unencrypted"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  k.pub = FirstLineOf(r.out);
  return k;
}

// A key pair of the minisign tool itself (no password).
Key MinisignKey(const ScratchDir& dir, const std::string& name) {
  Key k{dir / (name + ".key"), ""};
  const ProcessResult r = Tool({"/usr/bin/minisign", "-G", "-W", "-p", dir / (name + ".pub"), "-s", k.secret});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::string pubFile = ReadFile(dir / (name + ".pub"));
  k.pub = FirstLineOf(pubFile.substr(pubFile.find('\n') + 1));
  return k;
}

void MinisignSign(const Key& key, const std::string& file, const std::string& trustedComment = {}) {
  std::vector<std::string> argv = {"/usr/bin/minisign", "-S", "-W", "-s", key.secret, "-m", file};
  if (!trustedComment.empty()) argv.insert(argv.end(), {"-t", trustedComment});
  const ProcessResult r = Tool(argv);
  ASSERT_EQ(r.exitCode, 0) << r.err;
}

// The list without sizes and checksums: only the signatures bind its files.
std::string WithoutSizes(const std::string& list) {
  return std::regex_replace(list, std::regex("([A-Za-z.]+):[0-9]+:-?[0-9]+"), "$1");
}

class SignedUpdate : public ::testing::Test {
 protected:
  void Trust(const std::string& keys, const std::vector<std::string>& more = {}) {
    site = env.Serve();
    // installationInfo is set, so a run that installs nothing writes nothing.
    std::vector<std::string> lines = {"LiveUpdate.www=" + site, "LiveUpdate.installationInfo=0",
                                      "LiveUpdate.publicKey=" + keys};
    lines.insert(lines.end(), more.begin(), more.end());
    env.WriteSettings(lines);
  }
  // Runs and checks that nothing changed in the application directory or the settings.
  ProcessResult RunRefused(const std::vector<std::string>& args = {"/Log"}) {
    const std::string listing = env.Listing();
    const std::string settings = env.Settings();
    ProcessResult run = env.Run(args);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(env.Listing(), listing);
    EXPECT_EQ(env.Settings(), settings);
    return run;
  }
  std::string SiteFile(const std::string& name) const { return env.site + "/" + name; }

  UpdaterEnv env;
  ScratchDir keys;
  std::string site;
};

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(SignedUpdate, SignedSiteInstallsAndLeavesNoSignatureFilesBehind) {
  const Key key = ToolKey(keys, "maker");
  env.signKey = key.secret;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "signed update\r\n"}, {"data.bin~", "payload 1234567890"}}), 0);
  Trust(key.pub);
  const ProcessResult run = env.Run({"/Log"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFile(env.AppFile("readme.txt")), "signed update\r\n");
  EXPECT_EQ(ReadFile(env.AppFile("data.bin")), "payload 1234567890");
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), kHeader1);
  EXPECT_FALSE(Has(run.out, "signature of")) << run.out;
  // Every account says whether and how signatures are checked.
  EXPECT_TRUE(Has(run.out, "signatures: checked with key " + KeyIdText(ParsePublicKey(key.pub)->keyId) +
                               " from the setting LiveUpdate.publicKey; no channel"))
      << run.out;
  // Signature files reach neither the application nor, once checked, the work directory.
  EXPECT_FALSE(Has(env.Listing(), ".minisig")) << env.Listing();
  for (const auto& e : fs::directory_iterator(env.WorkDir()))
    EXPECT_EQ(e.path().string().find(".minisig"), std::string::npos) << e.path();
}

TEST_F(SignedUpdate, FileSwappedForAnotherValidlySignedFileIsRefused) {
  const Key key = ToolKey(keys, "maker");
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"a.bin", "harmless program A"}, {"b.bin", "harmless program B"}}), 0);
  // Without sizes and checksums in the list only the signature binds a file to its name.
  WriteFile(SiteFile("!update-info.txt"),
            std::regex_replace(env.List(), std::regex("([ab]\\.bin):[0-9]+:-?[0-9]+"), "$1"));
  ASSERT_EQ(Tool({TVQPUBLISH_BIN, "sign", env.site, "--key", key.secret}).exitCode, 0);
  fs::rename(SiteFile("a.bin"), SiteFile("t"));
  fs::rename(SiteFile("b.bin"), SiteFile("a.bin"));
  fs::rename(SiteFile("t"), SiteFile("b.bin"));
  fs::rename(SiteFile("a.bin.minisig"), SiteFile("t"));
  fs::rename(SiteFile("b.bin.minisig"), SiteFile("a.bin.minisig"));
  fs::rename(SiteFile("t"), SiteFile("b.bin.minisig"));
  Trust(key.pub);
  const ProcessResult run = RunRefused();
  EXPECT_TRUE(Has(run.out, "signature of \"a.bin\": does not match (the signature was made for \"b.bin\""))
      << run.out;
  EXPECT_TRUE(Has(run.err, "signature of a.bin: does not match")) << run.err;
  EXPECT_TRUE(Has(run.err, "aborting (error found)")) << run.err;
}

TEST_F(SignedUpdate, UnsignedFileIsRefusedUnderAListSignedWithMinisign) {
  const Key key = MinisignKey(keys, "minisign");
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "never signed\r\n"}}), 0);
  MinisignSign(key, SiteFile("!update-info.txt"));
  MinisignSign(key, SiteFile("!update-record.txt"));
  Trust(key.pub);
  const ProcessResult run = RunRefused();
  // The list's signature from the minisign tool was accepted: the file was fetched.
  EXPECT_TRUE(Has(run.out, "downloading file \"readme.txt\"")) << run.out;
  EXPECT_TRUE(Has(run.out, "signature of \"readme.txt\": missing")) << run.out;
  EXPECT_TRUE(Has(run.err, "signature of readme.txt: missing")) << run.err;
}

TEST_F(SignedUpdate, AlteredListIsRefusedAsNoList) {
  const Key key = ToolKey(keys, "maker");
  env.signKey = key.secret;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "signed\r\n"}}), 0);
  WriteFile(SiteFile("evil.sh"), "#!/bin/sh\necho owned\n");
  WriteFile(SiteFile("!update-info.txt"),
            env.List() + "<update id=\"TVQ2026-01-11\">\r\n<files>\r\nevil.sh\\\r\n</files>\r\n</update>\r\n");
  Trust(key.pub);
  const ProcessResult run = RunRefused();
  EXPECT_TRUE(Has(run.out, "signature of \"!update-info.txt\": does not match")) << run.out;
  EXPECT_FALSE(Has(run.out, "downloading file")) << run.out;
  EXPECT_TRUE(Has(run.err, "signature of !update-info.txt: does not match")) << run.err;
}

TEST_F(SignedUpdate, ListSignedByAnotherKeyIsRefused) {
  const Key key = ToolKey(keys, "maker");
  const Key other = MinisignKey(keys, "intruder");
  env.signKey = key.secret;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "signed\r\n"}}), 0);
  MinisignSign(other, SiteFile("!update-info.txt"));
  Trust(key.pub);
  const ProcessResult run = RunRefused();
  EXPECT_TRUE(Has(run.out, "signature of \"!update-info.txt\": made with an unknown key")) << run.out;
  EXPECT_FALSE(Has(run.out, "downloading file")) << run.out;
}

TEST_F(SignedUpdate, StrippedListSignatureIsRefused) {
  const Key key = ToolKey(keys, "maker");
  env.signKey = key.secret;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "signed\r\n"}}), 0);
  fs::remove(SiteFile("!update-info.txt.minisig"));
  Trust(key.pub);
  const ProcessResult run = RunRefused();
  EXPECT_TRUE(Has(run.out, "signature of \"!update-info.txt\": missing")) << run.out;
  EXPECT_TRUE(Has(run.err, "signature of !update-info.txt: missing")) << run.err;
}

TEST_F(SignedUpdate, KeyRollOverWithTwoTrustedKeys) {
  // The old key signs the first update; the new one, made by minisign and
  // used through tvqpublish, signs the second and the list from then on.
  const Key oldKey = ToolKey(keys, "old");
  const Key newKey = MinisignKey(keys, "new");
  env.signKey = oldKey.secret;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "first\r\n"}}), 0);
  Trust(oldKey.pub + ";" + newKey.pub);
  ProcessResult run = env.Run();
  EXPECT_EQ(ReadFile(env.AppFile("readme.txt")), "first\r\n") << run.err;

  env.signKey = newKey.secret;
  ASSERT_EQ(env.Publish("TVQ2026-02-20", {{"help.txt", "second\r\n"}}), 0);
  run = env.Run({"/Log"});
  EXPECT_EQ(ReadFile(env.AppFile("help.txt")), "second\r\n") << run.out;
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), kHeader2);
}

TEST_F(SignedUpdate, SignedDirectorySiteInstallsAndTamperedOneDoesNot) {
  const Key key = ToolKey(keys, "maker");
  env.signKey = key.secret;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "from the share\r\n"}}), 0);
  env.WriteSettings({"LiveUpdate.installationInfo=0", "LiveUpdate.publicKey=" + key.pub});
  ProcessResult run = env.Run({"/P" + env.site, "/Log"});
  EXPECT_EQ(ReadFile(env.AppFile("readme.txt")), "from the share\r\n") << run.out;

  ASSERT_EQ(env.Publish("TVQ2026-02-20", {{"help.txt", "second\r\n"}}), 0);
  fs::remove(SiteFile("help.txt.minisig"));
  run = RunRefused({"/P" + env.site, "/Log"});
  EXPECT_TRUE(Has(run.out, "signature of \"help.txt\": missing")) << run.out;
}

TEST_F(SignedUpdate, ListOfAnotherChannelOrOfNoneIsRefusedAndItsOwnInstalls) {
  const Key key = ToolKey(keys, "maker");
  env.signKey = key.secret;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "for one channel\r\n"}}), 0);
  Trust(key.pub, {"LiveUpdate.channel=stable"});
  const struct {
    std::vector<std::string> signOptions;
    std::string cause;
  } refused[] = {
      {{"--channel", "beta"}, "the list is signed for channel beta, this installation follows stable"},
      {{}, "the list is signed for no channel, this installation follows stable"},
  };
  for (const auto& c : refused) {
    std::vector<std::string> argv = {TVQPUBLISH_BIN, "sign", env.site, "--key", key.secret};
    argv.insert(argv.end(), c.signOptions.begin(), c.signOptions.end());
    ASSERT_EQ(Tool(argv).exitCode, 0);
    const ProcessResult run = RunRefused();
    EXPECT_TRUE(Has(run.out, "no update list from " + site + ": " + c.cause)) << run.out;
    EXPECT_TRUE(Has(run.err, c.cause)) << run.err;
    EXPECT_FALSE(Has(run.out, "downloading file")) << run.out;
  }
  // Its own channel, and an expiry a week ahead: installed.
  ASSERT_EQ(Tool({TVQPUBLISH_BIN, "sign", env.site, "--key", key.secret, "--channel", "stable", "--expires", "7"}).exitCode, 0);
  const ProcessResult run = env.Run({"/Log"});
  EXPECT_EQ(ReadFile(env.AppFile("readme.txt")), "for one channel\r\n") << run.out;
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), kHeader1);
}

TEST_F(SignedUpdate, ExpiredListIsRefusedAsStaleNotReportedAsUpToDate) {
  // Signed by the minisign tool with the expiry in its trusted comment.
  const Key key = MinisignKey(keys, "minisign");
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "an old update\r\n"}}), 0);
  MinisignSign(key, SiteFile("readme.txt"));
  MinisignSign(key, SiteFile("!update-info.txt"),
               "timestamp:1\tfile:!update-info.txt\thashed\texpires:2020-01-01T00:00:00Z");
  Trust(key.pub);
  const ProcessResult run = RunRefused();
  const std::string cause = "the update list's signature expired on 2020-01-01T00:00:00Z; the site is stale or replayed";
  EXPECT_TRUE(Has(run.out, cause)) << run.out;
  EXPECT_TRUE(Has(run.err, cause)) << run.err;
  EXPECT_FALSE(Has(run.out, "No new updates found")) << run.out;
  EXPECT_FALSE(Has(run.err, "no new updates found")) << run.err;
}

TEST_F(SignedUpdate, SignatureRelabelledAsLegacyOrNamingNoFileIsRefused) {
  const Key key = MinisignKey(keys, "minisign");
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"tool.bin", "the real program"}}), 0);
  WriteFile(SiteFile("!update-info.txt"), WithoutSizes(env.List()));
  ASSERT_TRUE(WriteSiteRecord(env.site, env.List(), nullptr).ok());
  MinisignSign(key, SiteFile("!update-record.txt"));
  MinisignSign(key, SiteFile("tool.bin"));
  // The list's signature names no file: it binds no name at all.
  MinisignSign(key, SiteFile("!update-info.txt"), "release 7");
  Trust(key.pub);
  ProcessResult run = RunRefused();
  EXPECT_TRUE(Has(run.out, "signature of \"!update-info.txt\": does not match (the trusted comment names no file)"))
      << run.out;

  // Relabelled "ED" -> "Ed", the signature over the digest holds for the
  // digest's 64 bytes, served as the file.
  MinisignSign(key, SiteFile("!update-info.txt"));
  const std::string sig = ReadFile(SiteFile("tool.bin.minisig"));
  const std::size_t line = sig.find('\n') + 1;
  std::string bytes = *Base64Decode(sig.substr(line, sig.find('\n', line) - line));
  ASSERT_EQ(bytes.substr(0, 2), "ED");
  bytes[1] = 'd';
  WriteFile(SiteFile("tool.bin.minisig"), sig.substr(0, line) + Base64Encode(bytes) + sig.substr(sig.find('\n', line)));
  WriteFile(SiteFile("tool.bin"), crypto::Blake2b512("the real program"));
  run = RunRefused();
  EXPECT_TRUE(Has(run.out, "signature of \"tool.bin\": does not match (a legacy (not prehashed) signature")) << run.out;
  EXPECT_TRUE(Has(run.out, "downloading file \"tool.bin\"")) << run.out;
}

TEST_F(SignedUpdate, OversizedSignatureIsCalledTooLarge) {
  const Key key = ToolKey(keys, "maker");
  env.signKey = key.secret;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "signed\r\n"}}), 0);
  WriteFile(SiteFile("readme.txt.minisig"), ReadFile(SiteFile("readme.txt.minisig")) + std::string(9000, '#'));
  Trust(key.pub);
  const ProcessResult run = RunRefused();
  EXPECT_TRUE(Has(run.out, "signature of \"readme.txt\": too large (more than 8192 bytes)")) << run.out;
  EXPECT_TRUE(Has(run.err, "signature of readme.txt: too large")) << run.err;
  EXPECT_FALSE(Has(run.out, "too large (too large")) << run.out;
}

}  // namespace

namespace {

// The site's record as the maker left it, and ways it can go wrong.
TEST_F(SignedUpdate, ListWithoutItsSignedRecordIsRefused) {
  const Key key = ToolKey(keys, "maker");
  env.signKey = key.secret;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "first\r\n"}}), 0);
  const std::string firstRecord = ReadFile(SiteFile("!update-record.txt"));
  const std::string firstRecordSig = ReadFile(SiteFile("!update-record.txt.minisig"));
  ASSERT_EQ(env.Publish("TVQ2026-02-20", {{"help.txt", "second\r\n"}}), 0);
  const std::string record = ReadFile(SiteFile("!update-record.txt"));
  const std::string recordSig = ReadFile(SiteFile("!update-record.txt.minisig"));
  Trust(key.pub);
  const struct {
    std::function<void()> damage;
    std::string cause;
  } cases[] = {
      // A site signed before sites had records.
      {[&] { fs::remove(SiteFile("!update-record.txt")); },
       "the site has no record of its files' digests (!update-record.txt"},
      // An older signed record beside the newer list.
      {[&] {
         WriteFile(SiteFile("!update-record.txt"), firstRecord);
         WriteFile(SiteFile("!update-record.txt.minisig"), firstRecordSig);
       },
       "the site's record !update-record.txt describes another list"},
      {[&] { fs::remove(SiteFile("!update-record.txt.minisig")); },
       "the site's record !update-record.txt is not signed by a trusted key"},
      // A rollout added by someone without the key.
      {[&] { WriteFile(SiteFile("!update-record.txt"), record + "rollout\tTVQ2026-02-20\thalted\n"); },
       "the site's record !update-record.txt is not signed by a trusted key"},
  };
  for (const auto& c : cases) {
    WriteFile(SiteFile("!update-record.txt"), record);
    WriteFile(SiteFile("!update-record.txt.minisig"), recordSig);
    c.damage();
    const ProcessResult run = RunRefused();
    EXPECT_TRUE(Has(run.out, "no update list from " + site + ": " + c.cause)) << run.out;
    EXPECT_TRUE(Has(run.out, "; its maker must run tvqpublish sign")) << run.out;
    EXPECT_FALSE(Has(run.out, "downloading file")) << run.out;
  }
  // tvqpublish sign makes the record anew, and the update installs.
  fs::remove(SiteFile("!update-record.txt"));
  ASSERT_EQ(Tool({TVQPUBLISH_BIN, "sign", env.site, "--key", key.secret}).exitCode, 0);
  const ProcessResult run = env.Run({"/Log"});
  EXPECT_EQ(ReadFile(env.AppFile("readme.txt")), "first\r\n") << run.out;
}

// Without a key the record still binds each file's bytes: a list without
// sizes and checksums no longer takes whatever the site holds.
TEST(SiteRecord, UnsignedSiteFileWithOtherBytesThanRecordedIsRefused) {
  UpdaterEnv env;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"tool.bin", "the real program"}}), 0);
  const std::string list = WithoutSizes(env.List());
  WriteFile(env.site + "/!update-info.txt", list);
  ASSERT_TRUE(WriteSiteRecord(env.site, list, nullptr).ok());
  WriteFile(env.site + "/tool.bin", "another program!");
  env.WriteSettings({"LiveUpdate.www=" + env.Serve(), "LiveUpdate.installationInfo=0"});
  const ProcessResult run = env.Run({"/Log"});
  EXPECT_TRUE(Has(run.out, "tool.bin: its digest differs from the recorded one in the site's record")) << run.out;
  EXPECT_FALSE(fs::exists(env.AppFile("tool.bin")));
}

}  // namespace
