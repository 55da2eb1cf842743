// The cryptographic module against published known answers: Ed25519 (RFC
// 8032, tests 1-3), BLAKE2b-512 (RFC 7693 and the empty input) and scrypt
// (RFC 7914).
#include "platform/signature.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(std::string_view hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return bytes;
}

struct Ed25519Vector {
  const char* seed;
  const char* publicKey;
  const char* message;
  const char* signature;
};

const Ed25519Vector kRfc8032[] = {
    {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
     "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
    {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
     "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
     "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac"
     "18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a"},
};

TEST(Signature, Ed25519KnownAnswersOfRfc8032) {
  for (const auto& v : kRfc8032) {
    const std::string seed = Hex(v.seed), pk = Hex(v.publicKey), msg = Hex(v.message), sig = Hex(v.signature);
    EXPECT_EQ(crypto::Ed25519PublicKeyOf(seed), pk) << v.seed;
    EXPECT_EQ(crypto::Ed25519Sign(seed, msg), sig) << v.seed;
    EXPECT_TRUE(crypto::Ed25519Verify(pk, msg, sig)) << v.seed;
    // One bit changed anywhere -- message, signature, key -- and it fails.
    std::string badSig = sig;
    badSig[10] ^= 1;
    EXPECT_FALSE(crypto::Ed25519Verify(pk, msg, badSig)) << v.seed;
    EXPECT_FALSE(crypto::Ed25519Verify(pk, msg + "x", sig)) << v.seed;
    std::string badPk = pk;
    badPk[0] ^= 1;
    EXPECT_FALSE(crypto::Ed25519Verify(badPk, msg, sig)) << v.seed;
  }
}

TEST(Signature, Ed25519VerifierFedInPiecesAgreesWithTheKnownAnswers) {
  for (const auto& v : kRfc8032) {
    const std::string pk = Hex(v.publicKey), msg = Hex(v.message), sig = Hex(v.signature);
    crypto::Ed25519Verifier whole(pk, sig);
    whole.Update(msg.data(), msg.size());
    EXPECT_TRUE(whole.Final()) << v.seed;
    crypto::Ed25519Verifier pieces(pk, sig);
    for (char c : msg) pieces.Update(&c, 1);
    EXPECT_TRUE(pieces.Final()) << v.seed;
    crypto::Ed25519Verifier altered(pk, sig);
    altered.Update("x", 1);
    altered.Update(msg.data(), msg.size());
    EXPECT_FALSE(altered.Final()) << v.seed;
    // S + L, the same value unreduced, is another encoding of S: refused.
    std::string unreduced = sig;
    const std::string order = Hex("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");
    int carry = 0;
    for (int i = 0; i < 32; ++i) {
      const int sum = static_cast<unsigned char>(unreduced[32 + i]) + static_cast<unsigned char>(order[i]) + carry;
      unreduced[32 + i] = static_cast<char>(sum & 0xff);
      carry = sum >> 8;
    }
    crypto::Ed25519Verifier malleable(pk, unreduced);
    malleable.Update(msg.data(), msg.size());
    EXPECT_FALSE(malleable.Final()) << v.seed;
  }
}

TEST(Signature, Ed25519RefusesWrongSizes) {
  const auto& v = kRfc8032[0];
  const std::string pk = Hex(v.publicKey), sig = Hex(v.signature);
  EXPECT_FALSE(crypto::Ed25519Verify(pk.substr(1), "", sig));
  EXPECT_FALSE(crypto::Ed25519Verify(pk, "", sig.substr(0, 63)));
  EXPECT_EQ(crypto::Ed25519Sign(Hex(v.seed).substr(1), "m"), "");
  EXPECT_EQ(crypto::Ed25519PublicKeyOf(""), "");
  // Longer than the one-call interface holds: signing refuses, checking still answers.
  const std::string longMessage(crypto::kEd25519SignMaxBytes + 1, 'm');
  EXPECT_EQ(crypto::Ed25519Sign(Hex(v.seed), longMessage), "");
  EXPECT_FALSE(crypto::Ed25519Verify(pk, longMessage, sig));
}

TEST(Signature, Blake2b512KnownAnswersAndPiecewiseHashing) {
  EXPECT_EQ(crypto::Blake2b512(""),
            Hex("786a02f742015903c6c6fd852552d272912f4740e15847618a86e217f71f5419"
                "d25e1031afee585313896444934eb04b903a685b1448b755d56f701afe9be2ce"));
  EXPECT_EQ(crypto::Blake2b512("abc"),
            Hex("ba80a53f981c4d0d6a2797b69f12f6e94c212f14685ac4b74b12bb6fdbffa2d1"
                "7d87c5392aab792dc252d5de4533cc9518d38aa8dbf1925ab92386edd4009923"));
  // Fed in pieces across the 128-byte block boundary, as a file is read.
  std::string data(1000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  crypto::Blake2b hasher(64);
  hasher.Update(data.data(), 127);
  hasher.Update(data.data() + 127, 2);
  hasher.Update(data.data() + 129, data.size() - 129);
  EXPECT_EQ(hasher.Final(), crypto::Blake2b512(data));
  EXPECT_FALSE(crypto::Blake2b(33).Ok());
  EXPECT_EQ(crypto::Blake2b(32).Final().size(), 32u);
}

TEST(Signature, ScryptKnownAnswerOfRfc7914AndRefusals) {
  EXPECT_EQ(crypto::Scrypt("password", "NaCl", 1024, 8, 16, 64),
            Hex("fdbabe1c9d3472007856e7190d01e9fe7c6ad7cbc8237830e77376634b373162"
                "2eaf30d92e22a3886ff109279d9830dac727afb94a83ee6d8360cbdfa2cc0640"));
  EXPECT_EQ(crypto::Scrypt("password", "NaCl", 1024, 1, 16, 64), "");  // r other than 8
  EXPECT_EQ(crypto::Scrypt("password", "NaCl", 1000, 8, 1, 64), "");   // N not a power of 2
  EXPECT_EQ(crypto::Scrypt("password", "NaCl", 1024, 8, 0, 64), "");
}

}  // namespace
