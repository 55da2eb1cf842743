// Signature checks inside the download, over the test HTTP server.
#include "app/fetch/signatures.h"

#include <gtest/gtest.h>

#include "app/fetch/download.h"
#include "platform/signature.h"
#include "publish/minisign_signing.h"
#include "publish/site_list.h"
#include "support/http_test_server.h"
#include "support/transfer_fixture.h"
#include "support/virtual_clock.h"

namespace {

class SignaturesTest : public TransferFixture {
 protected:
  void SetUp() override {
    TransferFixture::SetUp();
    key.keyId = "KEYID123";
    key.seed = std::string(32, '\7');
    key.publicKey = crypto::Ed25519PublicKeyOf(key.seed);
    content = std::string(300000, 'c') + "end";
    WriteFile(site / "a.bin", content);
    WriteFile(site / "a.bin.minisig",
              SignatureFileText(*SignFile(key, site / "a.bin", DefaultTrustedComment("a.bin", 1)), "test"));
    ASSERT_TRUE(CfgPutStr("LiveUpdate.publicKey", PublicKeyLine(PublicKeyOf(key))));
  }
  MinisignSecretKey key;
  std::string content;
  ScratchDir site;
  HttpTestServer server{site.path()};
  VirtualClock clock;
};

TEST_F(SignaturesTest, SignedFileVerifiesWhicheverMethodWroteIt) {
  RunContext context;
  context.site = server.BaseUrl();
  context.updateInfo = MakeBlock("T1", {EntryOfFile("a.bin", site / "a.bin")});
  server.DropAfter("a.bin", 10000, 2);  // the unseen one-call download delivers it
  EXPECT_TRUE(DownloadUpdateFiles(context).ok()) << log.Text();
  EXPECT_EQ(server.RequestCount("a.bin.minisig"), 1);
  // The signature file was read and removed: the work directory holds the file only.
  EXPECT_FALSE(PathExists(W(".a.bin.minisig")));

  // A signature by another key: the same file fails all five attempts.
  MinisignSecretKey other = key;
  other.keyId = "OTHERKEY";
  WriteFile(site / "a.bin.minisig",
            SignatureFileText(*SignFile(other, site / "a.bin", DefaultTrustedComment("a.bin", 1)), "other"));
  EXPECT_FALSE(DownloadUpdateFiles(context).ok());
  EXPECT_NE(log.Text().find("signature of \"a.bin\": made with an unknown key (key ID 59454B524548544F"),
            std::string::npos)
      << log.Text();
  EXPECT_EQ(server.RequestCount("a.bin.minisig"), 1 + 5);
}

TEST_F(SignaturesTest, PrehashOfTheWrittenBytesDecidesForEveryMethod) {
  // The first two methods hash the bytes as they write them (the second
  // continues what the first kept); the last resort's file is read.
  const std::string tampered = std::string(300000, 'c') + "END";  // same size, signed bytes differ
  for (int drops : {0, 1, 2}) {
    for (bool intact : {true, false}) {
      SCOPED_TRACE(std::to_string(drops) + (intact ? " intact" : " tampered"));
      const std::string name = "p" + std::to_string(drops) + (intact ? "" : "x") + ".bin";
      WriteFile(site / name, content);
      WriteFile(site / (name + ".minisig"),
                SignatureFileText(*SignFile(key, site / name, DefaultTrustedComment(name, 1)), "test"));
      if (!intact) WriteFile(site / name, tampered);
      RunContext context;
      context.site = server.BaseUrl();
      context.updateInfo = MakeBlock("T1", {EntryOfFile(name, site / name)});
      if (drops > 0) server.DropAfter(name, 100000, drops);
      const Status outcome = DownloadUpdateFiles(context);
      EXPECT_EQ(outcome.ok(), intact) << log.Text();
      EXPECT_EQ(PathExists(W(name)), intact);
      if (intact) {
        EXPECT_EQ(server.RequestCount(name), drops + 1);  // passed at the first attempt
      } else {
        EXPECT_EQ(outcome.message(), name + ": its signature does not hold");
      }
    }
  }
}

TEST_F(SignaturesTest, MistypedKeySettingRefusesInsteadOfSwitchingChecksOff) {
  RunContext context;
  context.site = server.BaseUrl();
  context.updateInfo = MakeBlock("T1", {EntryOfFile("a.bin", site / "a.bin")});
  ASSERT_TRUE(CfgPutStr("LiveUpdate.publicKey", "RWnot-a-key"));
  EXPECT_FALSE(DownloadUpdateFiles(context).ok());
  EXPECT_NE(log.Text().find("trusted public key refused: \"RWnot-a-key\""), std::string::npos) << log.Text();
  EXPECT_NE(log.Text().find("no valid trusted public key is configured"), std::string::npos) << log.Text();
}

}  // namespace
