// The minisign formats: base64, keys, and signature files refused with the
// reason that tells a maker what is wrong.
#include "app/fetch/minisign.h"
#include "publish/minisign_signing.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/signature.h"
#include "support/temp_dir.h"

namespace {

MinisignSecretKey TestKey(char id) {
  MinisignSecretKey key;
  key.keyId = std::string(8, id);
  key.seed = std::string(32, static_cast<char>(id + 1));
  key.publicKey = crypto::Ed25519PublicKeyOf(key.seed);
  return key;
}

const std::vector<MinisignPublicKey> kTrusted = {PublicKeyOf(TestKey('A'))};

std::string Signed(const std::string& message, const std::string& comment = "timestamp:1\tfile:a.bin\thashed") {
  return SignatureFileText(*SignMessage(TestKey('A'), message, comment), "signature from tvqpublish");
}

// Replaces line n (0-based) of a signature file.
std::string WithLine(const std::string& text, int n, const std::string& line) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t lf; (lf = text.find('\n', from)) != std::string::npos; from = lf + 1)
    lines.push_back(text.substr(from, lf - from));
  lines[n] = line;
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

std::string LineOf(const std::string& text, int n) {
  std::size_t from = 0;
  for (int i = 0; i < n; ++i) from = text.find('\n', from) + 1;
  return text.substr(from, text.find('\n', from) - from);
}

TEST(Minisign, Base64RoundTripsAndRefusesWhatIsNotCanonical) {
  for (const std::string& s : std::vector<std::string>{"", "f", "fo", "foo", "foob", "fooba", "foobar", std::string("\0\xff\x10", 3)})
    EXPECT_EQ(Base64Decode(Base64Encode(s)), s) << s;
  EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Base64Encode("fo"), "Zm8=");
  struct { const char* text; } bad[] = {{"Zm9vYmF"}, {"Zm9v!mFy"}, {"Zm=vYmFy"}, {"Zm9="}, {"Z==="}, {"Zg=x"}};
  for (const auto& b : bad) EXPECT_FALSE(Base64Decode(b.text)) << b.text;
}

TEST(Minisign, PublicKeyLineOrFileAndSeveralKeys) {
  const MinisignPublicKey pk = PublicKeyOf(TestKey('A'));
  const std::string line = PublicKeyLine(pk);
  EXPECT_EQ(line.substr(0, 2), "RW");
  EXPECT_EQ(line.size(), 56u);
  auto fromLine = ParsePublicKey(line);
  auto fromFile = ParsePublicKey("untrusted comment: minisign public key 4141414141414141\r\n" + line + "\r\n");
  ASSERT_TRUE(fromLine && fromFile);
  EXPECT_EQ(fromLine->key, pk.key);
  EXPECT_EQ(fromFile->keyId, pk.keyId);
  EXPECT_EQ(KeyIdText(std::string("\x5d\xd2\xd0\xb0\x04\xed\xbd\x28", 8)), "28BDED04B0D0D25D");

  std::string why;
  EXPECT_FALSE(ParsePublicKey(line.substr(0, 52), &why));
  EXPECT_NE(why.find("not an Ed25519 public key"), std::string::npos) << why;
  EXPECT_FALSE(ParsePublicKey("RW*notbase64*", &why));
  EXPECT_NE(why.find("not base64"), std::string::npos) << why;

  std::vector<std::string> problems;
  const auto keys = ParsePublicKeys(" " + line + " ; nonsense ;; " + PublicKeyLine(PublicKeyOf(TestKey('B'))) + ";",
                                    &problems);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[1].keyId, std::string(8, 'B'));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("nonsense"), std::string::npos);
}

TEST(Minisign, ValidSignatureVerifiesAndCarriesItsTrustedComment) {
  const std::string sig = Signed("payload");
  const SignatureVerdict v = VerifySignature(sig, "payload", kTrusted, "a.bin");
  EXPECT_TRUE(v.Ok()) << v.detail;
  EXPECT_EQ(v.trustedComment, "timestamp:1\tfile:a.bin\thashed");
  EXPECT_EQ(LineOf(sig, 1).substr(0, 2), "RU");  // "ED": prehashed
  // A roll-over: the signing key is the second of the trusted ones.
  EXPECT_TRUE(VerifySignature(sig, "payload", {PublicKeyOf(TestKey('B')), kTrusted[0]}).Ok());
  // CR LF line ends (a file edited on Windows) read the same.
  std::string crlf;
  for (char c : sig) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_TRUE(VerifySignature(crlf, "payload", kTrusted).Ok());
}

TEST(Minisign, EachDamagedSignatureIsRefusedWithItsReason) {
  const std::string good = Signed("payload");
  const std::string sigLine = LineOf(good, 1);
  auto sigBytes = *Base64Decode(sigLine);
  std::string otherAlgorithm = sigBytes;
  otherAlgorithm[1] = 'x';
  std::string otherKeyId = sigBytes;
  otherKeyId[5] ^= 1;
  std::string brokenGlobal = *Base64Decode(LineOf(good, 3));
  brokenGlobal[20] ^= 1;

  struct Case {
    const char* what;
    std::string text;
    std::string message;
    SignatureCheck want;
    const char* detail;
  } cases[] = {
      {"empty answer", "", "payload", SignatureCheck::Missing, "not a signature file"},
      {"error page", "<html><body>404 Not Found</body></html>\n", "payload", SignatureCheck::Missing,
       "not a signature file"},
      {"cut after two lines", good.substr(0, good.find('\n', good.find('\n') + 1) + 1), "payload",
       SignatureCheck::Malformed, "cut short"},
      {"truncated base64", WithLine(good, 1, sigLine.substr(0, sigLine.size() - 3)), "payload",
       SignatureCheck::Malformed, "not base64"},
      {"base64 of the wrong length", WithLine(good, 1, sigLine.substr(0, sigLine.size() - 4)), "payload",
       SignatureCheck::Malformed, "holds 72 bytes"},
      {"wrong algorithm bytes", WithLine(good, 1, Base64Encode(otherAlgorithm)), "payload",
       SignatureCheck::Malformed, "unknown signature algorithm"},
      {"no trusted comment line", WithLine(good, 2, "comment: timestamp:1"), "payload",
       SignatureCheck::Malformed, "trusted comment line"},
      {"wrong key id", WithLine(good, 1, Base64Encode(otherKeyId)), "payload", SignatureCheck::UnknownKey,
       "is not a trusted key"},
      {"trusted comment altered", WithLine(good, 2, "trusted comment: timestamp:2\tfile:a.bin\thashed"),
       "payload", SignatureCheck::Mismatch, "trusted comment was altered"},
      {"global signature broken", WithLine(good, 3, Base64Encode(brokenGlobal)), "payload",
       SignatureCheck::Mismatch, "global signature"},
      {"global signature not base64", WithLine(good, 3, "####"), "payload", SignatureCheck::Malformed,
       "global signature line"},
      {"content altered", good, "payloaD", SignatureCheck::Mismatch, "does not match the file"},
  };
  for (const auto& c : cases) {
    const SignatureVerdict v = VerifySignature(c.text, c.message, kTrusted, "a.bin");
    EXPECT_EQ(v.check, c.want) << c.what << ": " << v.detail;
    EXPECT_NE(v.detail.find(c.detail), std::string::npos) << c.what << ": " << v.detail;
  }
}

TEST(Minisign, TrustedCommentBindsTheSignatureToItsFileName) {
  // b.bin's valid signature does not stand for a.bin.
  const std::string forB = Signed("payload", "timestamp:1\tfile:b.bin\thashed");
  const SignatureVerdict v = VerifySignature(forB, "payload", kTrusted, "a.bin");
  EXPECT_EQ(v.check, SignatureCheck::Mismatch);
  EXPECT_NE(v.detail.find("made for \"b.bin\""), std::string::npos) << v.detail;
  // A comment that names no file binds none: refused where a name is expected.
  const SignatureVerdict unnamed = VerifySignature(Signed("payload", "release 7"), "payload", kTrusted, "a.bin");
  EXPECT_EQ(unnamed.check, SignatureCheck::Mismatch);
  EXPECT_NE(unnamed.detail.find("names no file"), std::string::npos) << unnamed.detail;
  EXPECT_EQ(VerifySignature(Signed("payload", "file:"), "payload", kTrusted, "a.bin").check, SignatureCheck::Mismatch);
  EXPECT_EQ(SignedFileName("timestamp:9\tfile:tvq.ex_\thashed"), "tvq.ex_");
  EXPECT_EQ(SignedFileName("file:"), "");
  EXPECT_FALSE(SignedFileName("myfile:x\tprofile:y"));
}

TEST(Minisign, LegacySignaturesOverTheWholeMessageAreRead) {
  const MinisignSecretKey key = TestKey('A');
  MinisignSignature legacy;
  legacy.prehashed = false;
  legacy.keyId = key.keyId;
  legacy.signature = crypto::Ed25519Sign(key.seed, "old payload");
  legacy.trustedComment = "timestamp:1\tfile:a.bin";
  legacy.globalSignature = crypto::Ed25519Sign(key.seed, legacy.signature + legacy.trustedComment);
  const std::string text = SignatureFileText(legacy, "legacy");
  EXPECT_EQ(LineOf(text, 1).substr(0, 2), "RW");  // "Ed"
  // Only a key marked legacy takes the legacy form.
  const SignatureVerdict refused = VerifySignature(text, "old payload", kTrusted, "a.bin");
  EXPECT_EQ(refused.check, SignatureCheck::Mismatch);
  EXPECT_NE(refused.detail.find("legacy"), std::string::npos) << refused.detail;
  const auto legacyKeys = ParsePublicKeys("legacy:" + PublicKeyLine(kTrusted[0]));
  ASSERT_EQ(legacyKeys.size(), 1u);
  EXPECT_TRUE(legacyKeys[0].legacyAllowed);
  EXPECT_TRUE(VerifySignature(text, "old payload", legacyKeys, "a.bin").Ok());
  EXPECT_EQ(VerifySignature(text, "old payloaD", legacyKeys, "a.bin").check, SignatureCheck::Mismatch);

  ScratchDir dir;
  WriteFile(dir / "a.bin", "old payload");
  EXPECT_TRUE(VerifyFileSignature(text, dir / "a.bin", legacyKeys, "a.bin").Ok());
}

TEST(Minisign, PrehashedSignatureRelabelledAsLegacyIsRefused) {
  // Relabelled, the signature over the digest holds for the digest's 64
  // bytes served as the file.
  const std::string digest = crypto::Blake2b512("real program");
  const std::string good = Signed("real program");
  std::string sigBytes = *Base64Decode(LineOf(good, 1));
  sigBytes[1] = 'd';  // "ED" -> "Ed"
  const std::string relabelled = WithLine(good, 1, Base64Encode(sigBytes));
  const SignatureVerdict v = VerifySignature(relabelled, digest, kTrusted, "a.bin");
  EXPECT_EQ(v.check, SignatureCheck::Mismatch);
  EXPECT_NE(v.detail.find("legacy"), std::string::npos) << v.detail;
}

TEST(Minisign, FileSignaturesMatchSignaturesOfTheSameBytes) {
  ScratchDir dir;
  std::string content(3 * 1024 * 1024 + 5, 'x');  // more than one read block
  content[2 * 1024 * 1024] = 'y';
  WriteFile(dir / "big.bin", content);
  const auto sig = SignFile(TestKey('A'), dir / "big.bin", DefaultTrustedComment("big.bin", 7));
  ASSERT_TRUE(sig);
  const std::string text = SignatureFileText(*sig, "c");
  EXPECT_EQ(sig->trustedComment, "timestamp:7\tfile:big.bin\thashed");
  EXPECT_TRUE(VerifySignature(text, content, kTrusted, "big.bin").Ok());
  EXPECT_TRUE(VerifyFileSignature(text, dir / "big.bin", kTrusted, "big.bin").Ok());
  WriteFile(dir / "big.bin", content + "!");
  EXPECT_EQ(VerifyFileSignature(text, dir / "big.bin", kTrusted, "big.bin").check, SignatureCheck::Mismatch);
  const SignatureVerdict gone = VerifyFileSignature(text, dir / "none.bin", kTrusted, "");
  EXPECT_EQ(gone.check, SignatureCheck::Mismatch);
  EXPECT_NE(gone.detail.find("cannot be read"), std::string::npos);
  // A line break in a trusted comment would break the file: refused.
  EXPECT_FALSE(SignMessage(TestKey('A'), "m", "two\nlines"));
}

TEST(Minisign, SecretKeysWithAndWithoutPassword) {
  const MinisignSecretKey key = NewSecretKey();
  ASSERT_EQ(key.publicKey, crypto::Ed25519PublicKeyOf(key.seed));
  std::string why;

  const std::string plain = SecretKeyFileText(key, std::nullopt);
  EXPECT_FALSE(SecretKeyIsEncrypted(plain));
  auto read = ParseSecretKey(plain, std::nullopt, &why);
  ASSERT_TRUE(read) << why;
  EXPECT_EQ(read->keyId, key.keyId);
  EXPECT_EQ(read->seed, key.seed);

  // Cheap derivation limits keep the test fast; the format is the same.
  const KdfLimits cheap{32768, 1 << 24};
  const std::string locked = SecretKeyFileText(key, std::string("correct horse"), cheap);
  EXPECT_TRUE(SecretKeyIsEncrypted(locked));
  EXPECT_FALSE(ParseSecretKey(locked, std::nullopt, &why));
  EXPECT_NE(why.find("password is needed"), std::string::npos) << why;
  EXPECT_FALSE(ParseSecretKey(locked, std::string("wrong horse"), &why));
  EXPECT_NE(why.find("wrong password"), std::string::npos) << why;
  read = ParseSecretKey(locked, std::string("correct horse"), &why);
  ASSERT_TRUE(read) << why;
  EXPECT_EQ(read->seed, key.seed);

  // One changed byte of an unencrypted key: its check value catches it.
  std::string bytes = *Base64Decode(LineOf(plain, 1));
  bytes[70] ^= 1;
  EXPECT_FALSE(ParseSecretKey("untrusted comment: k\n" + Base64Encode(bytes) + "\n", std::nullopt, &why));
  EXPECT_NE(why.find("damaged"), std::string::npos) << why;
  EXPECT_FALSE(ParseSecretKey(PublicKeyLine(PublicKeyOf(key)), std::nullopt, &why));
  EXPECT_NE(why.find("not a secret key"), std::string::npos) << why;
}

}  // namespace
