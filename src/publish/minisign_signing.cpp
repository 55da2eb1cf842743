#include "publish/minisign_signing.h"

#include "app/fetch/minisign_format.h"
#include "platform/signature.h"

using namespace minisign_format;

namespace {

std::string Xored(std::string_view a, std::string_view b) {
  std::string out(a);
  for (std::size_t i = 0; i < out.size() && i < b.size(); ++i) out[i] = static_cast<char>(out[i] ^ b[i]);
  return out;
}

// scrypt's N, r and p from minisign's stored limits, chosen as its library
// chooses them, so that a key encrypted by either is read by the other.
struct ScryptParams {
  std::uint64_t n = 0;
  std::uint32_t r = 8;
  std::uint32_t p = 1;
};
ScryptParams ParamsOf(std::uint64_t opsLimit, std::uint64_t memLimit) {
  ScryptParams params;
  if (opsLimit < 32768) opsLimit = 32768;
  int nLog2 = 1;
  if (opsLimit < memLimit / 32) {
    const std::uint64_t maxN = opsLimit / (params.r * 4);
    while (nLog2 < 63 && (std::uint64_t{1} << nLog2) <= maxN / 2) ++nLog2;
  } else {
    const std::uint64_t maxN = memLimit / (std::uint64_t{params.r} * 128);
    while (nLog2 < 63 && (std::uint64_t{1} << nLog2) <= maxN / 2) ++nLog2;
    std::uint64_t maxRp = (opsLimit / 4) / (std::uint64_t{1} << nLog2);
    if (maxRp > 0x3fffffff) maxRp = 0x3fffffff;
    params.p = static_cast<std::uint32_t>(maxRp) / params.r;
  }
  params.n = std::uint64_t{1} << nLog2;
  return params;
}

// The check value of a secret key: BLAKE2b-256 of algorithm, key ID and key.
std::string SecretKeyCheck(std::string_view keyId, std::string_view seed, std::string_view publicKey) {
  crypto::Blake2b hasher(32);
  const std::string data = std::string(kEd25519) + std::string(keyId) + std::string(seed) + std::string(publicKey);
  hasher.Update(data.data(), data.size());
  return hasher.Final();
}

}  // namespace

MinisignSecretKey NewSecretKey() {
  MinisignSecretKey key;
  key.keyId = crypto::RandomBytes(kKeyIdSize);
  key.seed = crypto::RandomBytes(crypto::kEd25519SeedSize);
  key.publicKey = crypto::Ed25519PublicKeyOf(key.seed);
  return key;
}

MinisignPublicKey PublicKeyOf(const MinisignSecretKey& key) {
  return MinisignPublicKey{key.keyId, key.publicKey};
}

std::string SecretKeyFileText(const MinisignSecretKey& key, const std::optional<std::string>& password,
                              const KdfLimits& limits) {
  std::string secret = key.keyId + key.seed + key.publicKey + SecretKeyCheck(key.keyId, key.seed, key.publicKey);
  std::string head = std::string(kEd25519) + std::string(password ? kScrypt : kNoKdf) + std::string(kBlake2bCheck);
  if (password) {
    const std::string salt = crypto::RandomBytes(kSaltSize);
    const ScryptParams params = ParamsOf(limits.opsLimit, limits.memLimit);
    const std::string stream = crypto::Scrypt(*password, salt, params.n, params.r, params.p, kSecretPartBytes);
    if (stream.empty()) return {};
    secret = Xored(secret, stream);
    head += salt + StoreLe64(limits.opsLimit) + StoreLe64(limits.memLimit);
  } else {
    head += std::string(kSaltSize + 16, '\0');
  }
  return std::string(kUntrusted) + " minisign " + (password ? "encrypted " : "") + "secret key\n" +
         Base64Encode(head + secret) + "\n";
}

bool SecretKeyIsEncrypted(std::string_view text) {
  const auto lines = Lines(text);
  if (lines.size() < 2) return false;
  const auto bytes = Base64Decode(Trimmed(lines[1]));
  return bytes && bytes->size() == kSecretKeyBytes && bytes->substr(2, 2) == kScrypt;
}

std::optional<MinisignSecretKey> ParseSecretKey(std::string_view text, const std::optional<std::string>& password,
                                                std::string* why) {
  const auto lines = Lines(text);
  if (lines.size() < 2 || lines[0].substr(0, kUntrusted.size()) != kUntrusted) {
    Say(why, "not a secret key file (no comment line, then the key line)");
    return std::nullopt;
  }
  const auto bytes = Base64Decode(Trimmed(lines[1]));
  if (!bytes || bytes->size() != kSecretKeyBytes || bytes->substr(0, 2) != kEd25519 ||
      bytes->substr(4, 2) != kBlake2bCheck) {
    Say(why, "not an Ed25519 secret key of the minisign format");
    return std::nullopt;
  }
  const std::string kdf = bytes->substr(2, 2);
  std::string secret = bytes->substr(kSecretKeyBytes - kSecretPartBytes);
  const bool encrypted = kdf == kScrypt;
  if (encrypted) {
    if (!password) {
      Say(why, "the secret key is encrypted: a password is needed");
      return std::nullopt;
    }
    const std::string salt = bytes->substr(6, kSaltSize);
    const ScryptParams params =
        ParamsOf(LoadLe64(bytes->substr(6 + kSaltSize, 8)), LoadLe64(bytes->substr(6 + kSaltSize + 8, 8)));
    const std::string stream = crypto::Scrypt(*password, salt, params.n, params.r, params.p, kSecretPartBytes);
    if (stream.empty()) {
      Say(why, "the secret key's password derivation cannot be computed here");
      return std::nullopt;
    }
    secret = Xored(secret, stream);
  } else if (kdf != kNoKdf) {
    Say(why, "the secret key is encrypted in an unknown way");
    return std::nullopt;
  }
  MinisignSecretKey key;
  key.keyId = secret.substr(0, kKeyIdSize);
  key.seed = secret.substr(kKeyIdSize, 32);
  key.publicKey = secret.substr(kKeyIdSize + 32, 32);
  const std::string check = secret.substr(kKeyIdSize + 64);
  // minisign leaves the check value empty (zero) in a key without password.
  const bool checkGiven = encrypted || check != std::string(32, '\0');
  if (checkGiven && check != SecretKeyCheck(key.keyId, key.seed, key.publicKey)) {
    Say(why, encrypted ? "wrong password for the secret key" : "the secret key is damaged");
    return std::nullopt;
  }
  if (crypto::Ed25519PublicKeyOf(key.seed) != key.publicKey) {
    Say(why, "the secret key is damaged (its two halves do not belong together)");
    return std::nullopt;
  }
  return key;
}

namespace {

std::optional<MinisignSignature> SignDigest(const MinisignSecretKey& key, const std::string& digest,
                                            std::string_view trustedComment) {
  // A line break would end the comment line early and break the file.
  if (digest.empty() || trustedComment.find_first_of("\r\n") != std::string_view::npos) return std::nullopt;
  MinisignSignature sig;
  sig.prehashed = true;
  sig.keyId = key.keyId;
  sig.signature = crypto::Ed25519Sign(key.seed, digest);
  sig.trustedComment = std::string(trustedComment);
  sig.globalSignature = crypto::Ed25519Sign(key.seed, sig.signature + sig.trustedComment);
  if (sig.signature.empty() || sig.globalSignature.empty()) return std::nullopt;
  return sig;
}

}  // namespace

std::optional<MinisignSignature> SignMessage(const MinisignSecretKey& key, std::string_view message,
                                             std::string_view trustedComment) {
  return SignDigest(key, crypto::Blake2b512(message), trustedComment);
}

std::optional<MinisignSignature> SignFile(const MinisignSecretKey& key, const std::string& path,
                                          std::string_view trustedComment) {
  const auto digest = FileDigest(path);
  if (!digest) return std::nullopt;
  return SignDigest(key, *digest, trustedComment);
}
