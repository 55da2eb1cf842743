// Signatures both ways with the real minisign tool, and the signing
// commands of tvqpublish run as a program.
#include <gtest/gtest.h>

#include <filesystem>

#include <ctime>

#include "app/fetch/minisign.h"
#include "publish/minisign_signing.h"
#include "app/list/list_binding.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const std::string kMinisign = "/usr/bin/minisign";
const std::string kTool = std::string(TVQ_BINARY_DIR) + "/tvqpublish";

ProcessResult Exec(const std::vector<std::string>& argv, const std::map<std::string, std::optional<std::string>>& env = {}) {
  ProcessOptions o;
  o.argv = argv;
  o.env = env;
  o.env.emplace("TVQ_SIGN_PASSWORD", std::nullopt);
  return RunProcess(o);
}

// Runs a shell command line with the password on standard input.
ProcessResult WithPassword(const std::string& password, const std::string& command) {
  return Exec({"/bin/sh", "-c", "printf '%s\\n%s\\n' '" + password + "' '" + password + "' | " + command});
}

std::vector<MinisignPublicKey> KeyFromFile(const std::string& pubFile) {
  auto key = ParsePublicKey(ReadFile(pubFile));
  EXPECT_TRUE(key) << pubFile;
  return key ? std::vector<MinisignPublicKey>{*key} : std::vector<MinisignPublicKey>{};
}

std::string PubLine(const std::string& pubFile) {
  const std::string text = ReadFile(pubFile);
  const std::string line = text.substr(text.find('\n') + 1);
  return line.substr(0, line.find('\n'));
}

class SigningTool : public ::testing::Test {
 protected:
  void SetUp() override {
    content = std::string(200000, 'z') + "end";
    WriteFile(dir / "file.bin", content);
  }
  ScratchDir dir;
  std::string content;
};

TEST_F(SigningTool, MinisignKeysAndSignaturesAreReadPrehashedAndLegacy) {
  ASSERT_EQ(Exec({kMinisign, "-G", "-W", "-p", dir / "m.pub", "-s", dir / "m.key"}).exitCode, 0);
  ASSERT_EQ(Exec({kMinisign, "-S", "-W", "-s", dir / "m.key", "-m", dir / "file.bin"}).exitCode, 0);
  ASSERT_EQ(Exec({kMinisign, "-S", "-l", "-W", "-s", dir / "m.key", "-x", dir / "legacy.sig", "-m", dir / "file.bin"}).exitCode, 0);
  const auto keys = KeyFromFile(dir / "m.pub");
  const auto legacyKeys = ParsePublicKeys("legacy:" + PubLine(dir / "m.pub"));
  for (const std::string sig : {"file.bin.minisig", "legacy.sig"}) {
    const SignatureVerdict v = VerifyFileSignature(ReadFile(dir / sig), dir / "file.bin", legacyKeys, "file.bin");
    EXPECT_TRUE(v.Ok()) << sig << ": " << v.detail;
    EXPECT_EQ(SignedFileName(v.trustedComment), "file.bin") << sig;
  }
  // Without "legacy:" only the prehashed form is taken.
  EXPECT_TRUE(VerifyFileSignature(ReadFile(dir / "file.bin.minisig"), dir / "file.bin", keys, "file.bin").Ok());
  EXPECT_EQ(VerifyFileSignature(ReadFile(dir / "legacy.sig"), dir / "file.bin", keys, "file.bin").check,
            SignatureCheck::Mismatch);
  // minisign's secret key signs here; minisign checks the result.
  std::string why;
  const auto secret = ParseSecretKey(ReadFile(dir / "m.key"), std::nullopt, &why);
  ASSERT_TRUE(secret) << why;
  WriteFile(dir / "file.bin.minisig",
            SignatureFileText(*SignFile(*secret, dir / "file.bin", DefaultTrustedComment("file.bin", 5)), "ours"));
  const ProcessResult check = Exec({kMinisign, "-V", "-p", dir / "m.pub", "-m", dir / "file.bin"});
  EXPECT_EQ(check.exitCode, 0) << check.err;
  EXPECT_NE(check.out.find("timestamp:5\tfile:file.bin\thashed"), std::string::npos) << check.out;
}

TEST_F(SigningTool, OurSecretKeysSignInMinisignWithAndWithoutPassword) {
  const MinisignSecretKey key = NewSecretKey();
  const std::vector<MinisignPublicKey> keys = {PublicKeyOf(key)};
  WriteFile(dir / "plain.key", SecretKeyFileText(key, std::nullopt));
  ASSERT_EQ(Exec({kMinisign, "-S", "-W", "-s", dir / "plain.key", "-m", dir / "file.bin"}).exitCode, 0);
  EXPECT_TRUE(VerifyFileSignature(ReadFile(dir / "file.bin.minisig"), dir / "file.bin", keys).Ok());

  // A cheap derivation cost; minisign derives with what the file says.
  WriteFile(dir / "locked.key", SecretKeyFileText(key, std::string("s3cret"), KdfLimits{32768, 1 << 24}));
  fs::remove(dir / "file.bin.minisig");
  const ProcessResult r = WithPassword("s3cret", kMinisign + " -S -s " + (dir / "locked.key") + " -m " + (dir / "file.bin"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(VerifyFileSignature(ReadFile(dir / "file.bin.minisig"), dir / "file.bin", keys).Ok());
  EXPECT_NE(WithPassword("wrong", kMinisign + " -S -s " + (dir / "locked.key") + " -m " + (dir / "file.bin")).exitCode, 0);
}

// The default derivation cost (1 GiB of memory, as minisign uses it) once
// each way: a key encrypted by minisign signs in tvqpublish, and one made by
// tvqpublish keygen signs in minisign.
TEST_F(SigningTool, EncryptedKeysAtTheDefaultCostBothWays) {
  ScratchDir site;
  WriteFile(site / "a.txt", "signed text");
  ASSERT_EQ(Exec({kTool, "add", site.path(), "--id", "T1", site / "a.txt"}).exitCode, 0);

  ASSERT_EQ(WithPassword("pw1", kMinisign + " -G -p " + (dir / "m.pub") + " -s " + (dir / "m.key")).exitCode, 0);
  const ProcessResult wrong = Exec({kTool, "sign", site.path(), "--key", dir / "m.key"}, {{"TVQ_SIGN_PASSWORD", "nope"}});
  EXPECT_EQ(wrong.exitCode, 2);
  EXPECT_NE(wrong.err.find("wrong password"), std::string::npos) << wrong.err;
  EXPECT_FALSE(PathExists(site / "a.txt.minisig"));
  const ProcessResult sign = Exec({kTool, "sign", site.path(), "--key", dir / "m.key"}, {{"TVQ_SIGN_PASSWORD", "pw1"}});
  ASSERT_EQ(sign.exitCode, 0) << sign.err;
  EXPECT_EQ(Exec({kMinisign, "-V", "-p", dir / "m.pub", "-m", site / "a.txt"}).exitCode, 0);
  EXPECT_EQ(Exec({kMinisign, "-V", "-p", dir / "m.pub", "-m", site / "!update-info.txt"}).exitCode, 0);

  const ProcessResult keygen = Exec({kTool, "keygen", dir / "t.key"}, {{"TVQ_SIGN_PASSWORD", "pw2"}});
  ASSERT_EQ(keygen.exitCode, 0) << keygen.err;
  EXPECT_TRUE(SecretKeyIsEncrypted(ReadFile(dir / "t.key")));
  EXPECT_EQ(fs::status(dir / "t.key").permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  const std::string pub = keygen.out.substr(0, keygen.out.find('\n'));
  const ProcessResult r = WithPassword("pw2", kMinisign + " -S -s " + (dir / "t.key") + " -m " + (dir / "file.bin"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Exec({kMinisign, "-V", "-P", pub, "-m", dir / "file.bin"}).exitCode, 0);
}

TEST_F(SigningTool, PublisherSignsChecksAndRefuses) {
  ScratchDir site;
  WriteFile(dir / "one.txt", "one");
  WriteFile(dir / "two.bin", "two");
  const ProcessResult keygen = Exec({kTool, "keygen", dir / "k.key", "--unencrypted"});
  ASSERT_EQ(keygen.exitCode, 0) << keygen.err;
  const std::string pub = keygen.out.substr(0, keygen.out.find('\n'));
  EXPECT_EQ(PubLine(dir / "k.key.pub"), pub);
  // A secret key is never overwritten, nor is a public key file.
  EXPECT_EQ(Exec({kTool, "keygen", dir / "k.key", "--unencrypted"}).exitCode, 2);
  WriteFile(dir / "l.key.pub", "mine");
  EXPECT_EQ(Exec({kTool, "keygen", dir / "l.key", "--unencrypted"}).exitCode, 2);
  EXPECT_FALSE(PathExists(dir / "l.key"));
  // A key that cannot be read refuses the add before anything changes.
  EXPECT_EQ(Exec({kTool, "add", site.path(), "--id", "T1", dir / "one.txt", "--sign", dir / "none.key"}).exitCode, 2);
  EXPECT_FALSE(PathExists(site / "!update-info.txt"));

  ASSERT_EQ(Exec({kTool, "add", site.path(), "--id", "T1", dir / "one.txt", "--sign", dir / "k.key"}).exitCode, 0);
  ASSERT_EQ(Exec({kTool, "add", site.path(), "--id", "T2", dir / "two.bin~", "--sign", dir / "k.key"}).exitCode, 0);
  ProcessResult verify = Exec({kTool, "verify", site.path(), "--pubkey", pub});
  EXPECT_EQ(verify.exitCode, 0) << verify.out;
  EXPECT_NE(verify.out.find("signatures ok"), std::string::npos) << verify.out;
  // The stored name, with its '~', is what is signed.
  EXPECT_TRUE(PathExists(site / "two.bin~.minisig"));
  EXPECT_EQ(Exec({kMinisign, "-V", "-p", dir / "k.key.pub", "-m", site / "two.bin~"}).exitCode, 0);

  // A signed site stays signed: a change needs the key, or the explicit
  // choice to drop every signature.
  const std::string list = ReadFile(site / "!update-info.txt");
  ProcessResult unsigned_ = Exec({kTool, "add", site.path(), "--id", "T3", dir / "file.bin"});
  EXPECT_EQ(unsigned_.exitCode, 2);
  EXPECT_NE(unsigned_.err.find("the site's list is signed"), std::string::npos) << unsigned_.err;
  EXPECT_EQ(Exec({kTool, "withdraw", site.path(), "--id", "T2"}).exitCode, 2);
  EXPECT_EQ(ReadFile(site / "!update-info.txt"), list);
  EXPECT_FALSE(PathExists(site / "file.bin"));

  // Another key's public key file: every signature is made with an unknown key.
  ASSERT_EQ(Exec({kMinisign, "-G", "-W", "-p", dir / "o.pub", "-s", dir / "o.key"}).exitCode, 0);
  verify = Exec({kTool, "verify", site.path(), "--pubkey", dir / "o.pub"});
  EXPECT_EQ(verify.exitCode, 1);
  EXPECT_NE(verify.out.find("one.txt.minisig: signature made with an unknown key"), std::string::npos) << verify.out;
  EXPECT_NE(verify.out.find("4 signature problems found"), std::string::npos) << verify.out;

  fs::remove(site / "one.txt.minisig");
  WriteFile(site / "!update-info.txt", ReadFile(site / "!update-info.txt") + "\r\n");
  verify = Exec({kTool, "verify", site.path(), "--pubkey", pub + ";" + PubLine(dir / "o.pub")});
  EXPECT_EQ(verify.exitCode, 1);
  EXPECT_NE(verify.out.find("one.txt.minisig: signature missing"), std::string::npos) << verify.out;
  EXPECT_NE(verify.out.find("!update-info.txt.minisig: signature does not match"), std::string::npos) << verify.out;
  EXPECT_EQ(verify.out.find("two.bin~.minisig"), std::string::npos) << verify.out;

  // sign re-signs everything; a listed file that is missing refuses it.
  ASSERT_EQ(Exec({kTool, "sign", site.path(), "--key", dir / "k.key"}).exitCode, 0);
  EXPECT_EQ(Exec({kTool, "verify", site.path(), "--pubkey", pub}).exitCode, 0);
  fs::remove(site / "one.txt.minisig");
  fs::remove(site / "one.txt");
  const ProcessResult refused = Exec({kTool, "sign", site.path(), "--key", dir / "k.key"});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_NE(refused.err.find("one.txt: no such file"), std::string::npos) << refused.err;
  EXPECT_FALSE(PathExists(site / "one.txt.minisig"));
}

TEST_F(SigningTool, ChannelAndExpiryBindTheListSignatureAndVerifyWarnsBeforeItLapses) {
  ScratchDir site;
  ASSERT_EQ(Exec({kTool, "keygen", dir / "k.key", "--unencrypted"}).exitCode, 0);
  const struct {
    std::vector<std::string> args;
    const char* why;
  } refused[] = {
      {{"add", site.path(), "--id", "T1", dir / "file.bin", "--channel", "stable"}, "need --sign"},
      {{"add", site.path(), "--id", "T1", dir / "file.bin", "--sign", dir / "k.key", "--channel", "two words"}, "channel"},
      {{"add", site.path(), "--id", "T1", dir / "file.bin", "--sign", dir / "k.key", "--expires", "0"}, "1 to 3650"},
      {{"add", site.path(), "--id", "T1", dir / "file.bin", "--sign", dir / "k.key", "--expires", "soon"}, "1 to 3650"},
      {{"sign", site.path(), "--key", dir / "k.key", "--expires"}, "need a value"},
  };
  for (const auto& c : refused) {
    std::vector<std::string> argv = {kTool};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const ProcessResult r = Exec(argv);
    EXPECT_EQ(r.exitCode, 2) << c.why;
    EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
    EXPECT_FALSE(PathExists(site / "!update-info.txt")) << c.why;
  }

  ASSERT_EQ(Exec({kTool, "add", site.path(), "--id", "T1", dir / "file.bin", "--sign", dir / "k.key", "--channel",
                  "stable", "--expires", "3"}).exitCode, 0);
  const std::string listSig = ReadFile(site / "!update-info.txt.minisig");
  EXPECT_NE(listSig.find("\tchannel:stable\texpires:20"), std::string::npos) << listSig;
  EXPECT_EQ(ReadFile(site / "file.bin.minisig").find("channel:"), std::string::npos);
  // Just signed: the whole lifetime is left, no warning.
  ProcessResult verify = Exec({kTool, "verify", site.path()});
  EXPECT_EQ(verify.exitCode, 0) << verify.out;
  EXPECT_EQ(verify.out.find("warning"), std::string::npos) << verify.out;

  // A change of the site signs the list with the channel and expiry it had.
  const std::string expires = listSig.substr(listSig.find("expires:"), 28);
  ASSERT_EQ(Exec({kTool, "add", site.path(), "--id", "T2", dir / "file.bin", "--sign", dir / "k.key"}).exitCode, 0);
  std::string resigned = ReadFile(site / "!update-info.txt.minisig");
  EXPECT_NE(resigned.find("\tchannel:stable\t" + expires), std::string::npos) << resigned;
  ASSERT_EQ(Exec({kTool, "withdraw", site.path(), "--id", "T2", "--sign", dir / "k.key", "--expires", "9"}).exitCode, 0);
  resigned = ReadFile(site / "!update-info.txt.minisig");
  EXPECT_NE(resigned.find("\tchannel:stable\texpires:"), std::string::npos) << resigned;
  EXPECT_EQ(resigned.find(expires), std::string::npos) << resigned;

  // Less than a third of the lifetime left: a warning.
  ASSERT_EQ(Exec({kMinisign, "-G", "-W", "-p", dir / "m.pub", "-s", dir / "m.key"}).exitCode, 0);
  const std::int64_t now = std::time(nullptr);
  const std::string comment = "timestamp:" + std::to_string(now - 9 * 86400) +
                              "\tfile:!update-info.txt\thashed\texpires:" + UtcTimeText(now + 86400);
  ASSERT_EQ(Exec({kMinisign, "-S", "-W", "-s", dir / "m.key", "-m", site / "!update-info.txt", "-t", comment}).exitCode, 0);
  verify = Exec({kTool, "verify", site.path()});
  EXPECT_EQ(verify.exitCode, 0) << verify.out;
  EXPECT_NE(verify.out.find("in less than a third of its lifetime; re-sign it: tvqpublish sign"), std::string::npos)
      << verify.out;

  // An expired list (signed by minisign with the field) is a problem.
  ASSERT_EQ(Exec({kMinisign, "-S", "-W", "-s", dir / "m.key", "-m", site / "!update-info.txt", "-t",
                  "timestamp:1\tfile:!update-info.txt\thashed\texpires:2020-01-01T00:00:00Z"}).exitCode, 0);
  verify = Exec({kTool, "verify", site.path()});
  EXPECT_EQ(verify.exitCode, 1) << verify.out;
  EXPECT_NE(verify.out.find("the list's signature expired on 2020-01-01T00:00:00Z"), std::string::npos) << verify.out;
  // Changing an expired site needs a new expiry; dropping the signatures
  // needs none and leaves none.
  const ProcessResult stale = Exec({kTool, "add", site.path(), "--id", "T3", dir / "file.bin", "--sign", dir / "k.key"});
  EXPECT_EQ(stale.exitCode, 2);
  EXPECT_NE(stale.err.find("give --expires DAYS"), std::string::npos) << stale.err;
  ASSERT_EQ(Exec({kTool, "add", site.path(), "--id", "T3", dir / "file.bin", "--drop-signatures"}).exitCode, 0);
  EXPECT_FALSE(PathExists(site / "!update-info.txt.minisig"));
  EXPECT_FALSE(PathExists(site / "file.bin.minisig"));
  EXPECT_EQ(Exec({kTool, "verify", site.path()}).exitCode, 0);
}

}  // namespace
