#include "app/fetch/minisign.h"

#include <functional>
#include <memory>

#include "platform/os.h"
#include "platform/signature.h"

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kUntrusted = "untrusted comment:";
constexpr std::string_view kTrusted = "trusted comment: ";
constexpr std::string_view kEd25519 = "Ed";  // key and legacy signature algorithm
constexpr std::string_view kPrehashed = "ED";
constexpr std::string_view kScrypt = "Sc";
constexpr std::string_view kNoKdf = std::string_view("\0\0", 2);
constexpr std::string_view kBlake2bCheck = "B2";
constexpr std::size_t kKeyIdSize = 8;
constexpr std::size_t kPublicKeyBytes = 2 + kKeyIdSize + 32;         // 42
constexpr std::size_t kSignatureBytes = 2 + kKeyIdSize + 64;         // 74
constexpr std::size_t kSaltSize = 32;
constexpr std::size_t kSecretPartBytes = kKeyIdSize + 64 + 32;       // key ID, key, check
constexpr std::size_t kSecretKeyBytes = 2 + 2 + 2 + kSaltSize + 8 + 8 + kSecretPartBytes;  // 158
constexpr std::size_t kHashBlock = 1 << 20;

// The lines of a text, without their line ends (LF or CR LF).
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (lf == std::string_view::npos) break;
    text.remove_prefix(lf + 1);
  }
  return lines;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

void Say(std::string* why, std::string text) {
  if (why) *why = std::move(text);
}

std::uint64_t LoadLe64(std::string_view bytes) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[i]);
  return v;
}

std::string StoreLe64(std::uint64_t v) {
  std::string bytes(8, '\0');
  for (auto& b : bytes) {
    b = static_cast<char>(v & 0xff);
    v >>= 8;
  }
  return bytes;
}

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

// Reads a file once in large blocks, handing each to sink. False when it
// cannot be read.
bool ReadInBlocks(const std::string& path, const std::function<void(const char*, std::size_t)>& sink) {
  auto file = os::File::Open(path, os::OpenFor::Read);
  if (!file) return false;
  std::unique_ptr<char[]> buffer(new char[kHashBlock]);
  for (;;) {
    const std::int64_t n = file->Read(buffer.get(), kHashBlock);
    if (n < 0) return false;
    if (n == 0) return true;
    sink(buffer.get(), static_cast<std::size_t>(n));
  }
}

// BLAKE2b-512 of a file.
std::optional<std::string> FileDigest(const std::string& path) {
  crypto::Blake2b hasher(64);
  if (!ReadInBlocks(path, [&hasher](const char* data, std::size_t size) { hasher.Update(data, size); }))
    return std::nullopt;
  std::string digest = hasher.Final();
  if (digest.empty()) return std::nullopt;
  return digest;
}

// Whether a signature holds for the message it is checked against: the
// BLAKE2b-512 digest of the message signed (prehashed) or the message itself
// (legacy). nullopt when the message cannot be read.
using MessageCheck = std::function<std::optional<bool>(const std::string& publicKey, const MinisignSignature& sig)>;

SignatureVerdict Verify(std::string_view signatureText, const MessageCheck& messageHolds,
                        const std::vector<MinisignPublicKey>& keys, std::string_view expectedName) {
  SignatureVerdict verdict;
  const auto sig = ParseSignature(signatureText, &verdict);
  if (!sig) return verdict;
  verdict.trustedComment = sig->trustedComment;
  const MinisignPublicKey* key = nullptr;
  for (const auto& k : keys)
    if (k.keyId == sig->keyId) key = &k;
  if (!key) {
    verdict.check = SignatureCheck::UnknownKey;
    verdict.detail = "key ID " + KeyIdText(sig->keyId) + " is not a trusted key";
    return verdict;
  }
  verdict.check = SignatureCheck::Mismatch;
  // The algorithm bytes are not signed: whoever relabels a prehashed
  // signature makes it hold for the 64-byte digest as a file.
  if (!sig->prehashed && !key->legacyAllowed) {
    verdict.detail = "a legacy (not prehashed) signature, which this key does not allow";
    return verdict;
  }
  // The trusted comment first: it is cheap to check and, once checked, the
  // file name in it can be believed before the file is read.
  if (!crypto::Ed25519Verify(key->key, sig->signature + sig->trustedComment, sig->globalSignature)) {
    verdict.detail = "the trusted comment was altered or the global signature is broken";
    return verdict;
  }
  const auto signedName = SignedFileName(sig->trustedComment);
  if (!expectedName.empty() && !signedName) {
    verdict.detail = "the trusted comment names no file";
    return verdict;
  }
  if (!expectedName.empty() && *signedName != expectedName) {
    verdict.detail = "the signature was made for \"" + *signedName + "\", not for \"" +
                     std::string(expectedName) + "\"";
    return verdict;
  }
  const std::optional<bool> holds = messageHolds(key->key, *sig);
  if (!holds) {
    verdict.detail = "the signed file cannot be read";
    return verdict;
  }
  if (!*holds) {
    verdict.detail = "the signature does not match the file's content";
    return verdict;
  }
  verdict.check = SignatureCheck::Ok;
  verdict.detail.clear();
  return verdict;
}

}  // namespace

// ------------------------------------------------------------------------ base64
std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                            (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                            static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (std::size_t i = 0; i + padding < text.size(); ++i) {
    const std::size_t v = kAlphabet.find(text[i]);
    if (v == std::string_view::npos) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    if (++count == 4) {
      out += static_cast<char>(bits >> 16);
      out += static_cast<char>((bits >> 8) & 0xff);
      out += static_cast<char>(bits & 0xff);
      bits = 0;
      count = 0;
    }
  }
  // The last group: padding must leave no stray bits behind.
  if (count == 3) {
    if (bits & 0x3) return std::nullopt;
    out += static_cast<char>(bits >> 10);
    out += static_cast<char>((bits >> 2) & 0xff);
  } else if (count == 2) {
    if (bits & 0xf) return std::nullopt;
    out += static_cast<char>(bits >> 4);
  } else if (count != 0) {
    return std::nullopt;
  }
  return out;
}

// ------------------------------------------------------------------- public keys
std::optional<MinisignPublicKey> ParsePublicKey(std::string_view text, std::string* why) {
  const auto lines = Lines(Trimmed(text));
  std::string_view line = lines.empty() ? std::string_view() : lines.front();
  if (line.substr(0, kUntrusted.size()) == kUntrusted) line = lines.size() > 1 ? lines[1] : std::string_view();
  line = Trimmed(line);
  const bool legacy = line.substr(0, kLegacyKeyPrefix.size()) == kLegacyKeyPrefix;
  if (legacy) line = Trimmed(line.substr(kLegacyKeyPrefix.size()));
  if (line.empty()) {
    Say(why, "no public key given");
    return std::nullopt;
  }
  const auto bytes = Base64Decode(line);
  if (!bytes) {
    Say(why, "\"" + std::string(line) + "\" is not a public key (not base64)");
    return std::nullopt;
  }
  if (bytes->size() != kPublicKeyBytes || bytes->substr(0, 2) != kEd25519) {
    Say(why, "\"" + std::string(line) + "\" is not an Ed25519 public key of the minisign format");
    return std::nullopt;
  }
  return MinisignPublicKey{bytes->substr(2, kKeyIdSize), bytes->substr(2 + kKeyIdSize), legacy};
}

std::vector<MinisignPublicKey> ParsePublicKeys(std::string_view text, std::vector<std::string>* problems) {
  std::vector<MinisignPublicKey> keys;
  while (true) {
    const std::size_t semicolon = text.find(';');
    const std::string_view entry = Trimmed(text.substr(0, semicolon));
    if (!entry.empty()) {
      std::string why;
      if (auto key = ParsePublicKey(entry, &why)) {
        keys.push_back(*key);
      } else if (problems) {
        problems->push_back(why);
      }
    }
    if (semicolon == std::string_view::npos) break;
    text.remove_prefix(semicolon + 1);
  }
  return keys;
}

std::string PublicKeyLine(const MinisignPublicKey& key) {
  return Base64Encode(std::string(kEd25519) + key.keyId + key.key);
}

std::string KeyIdText(std::string_view keyId) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = keyId.size(); i-- > 0;) {
    const auto b = static_cast<unsigned char>(keyId[i]);
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

// -------------------------------------------------------------------- signatures
const char* SignatureCheckText(SignatureCheck check) {
  switch (check) {
    case SignatureCheck::Ok: return "valid";
    case SignatureCheck::Missing: return "missing";
    case SignatureCheck::Malformed: return "malformed";
    case SignatureCheck::UnknownKey: return "made with an unknown key";
    case SignatureCheck::Mismatch: return "does not match";
    case SignatureCheck::TooLarge: return "too large";
    case SignatureCheck::Unreadable: return "unreadable";
  }
  return "";
}

std::optional<MinisignSignature> ParseSignature(std::string_view text, SignatureVerdict* verdict) {
  SignatureVerdict local;
  SignatureVerdict& v = verdict ? *verdict : local;
  const auto fail = [&v](SignatureCheck check, std::string detail) {
    v.check = check;
    v.detail = std::move(detail);
    return std::nullopt;
  };
  const auto lines = Lines(text);
  // An error page or an empty answer stands where the site has no signature.
  if (lines.empty() || lines[0].substr(0, kUntrusted.size()) != kUntrusted)
    return fail(SignatureCheck::Missing, "not found, or not a signature file");
  if (lines.size() < 4) return fail(SignatureCheck::Malformed, "the signature file is cut short");
  const auto sigBytes = Base64Decode(Trimmed(lines[1]));
  if (!sigBytes) return fail(SignatureCheck::Malformed, "the signature line is not base64");
  if (sigBytes->size() != kSignatureBytes)
    return fail(SignatureCheck::Malformed, "the signature line holds " + std::to_string(sigBytes->size()) +
                                               " bytes, not " + std::to_string(kSignatureBytes));
  const std::string algorithm = sigBytes->substr(0, 2);
  if (algorithm != kPrehashed && algorithm != kEd25519)
    return fail(SignatureCheck::Malformed, "unknown signature algorithm \"" + KeyIdText(algorithm) + "\" (hex)");
  if (lines[2].substr(0, kTrusted.size()) != kTrusted)
    return fail(SignatureCheck::Malformed, "the trusted comment line is missing");
  const auto global = Base64Decode(Trimmed(lines[3]));
  if (!global || global->size() != crypto::kEd25519SignatureSize)
    return fail(SignatureCheck::Malformed, "the global signature line is not a base64 signature");
  MinisignSignature sig;
  sig.prehashed = algorithm == kPrehashed;
  sig.keyId = sigBytes->substr(2, kKeyIdSize);
  sig.signature = sigBytes->substr(2 + kKeyIdSize);
  sig.trustedComment = std::string(lines[2].substr(kTrusted.size()));
  sig.globalSignature = *global;
  return sig;
}

std::string SignatureFileText(const MinisignSignature& signature, std::string_view untrustedComment) {
  const std::string algorithm(signature.prehashed ? kPrehashed : kEd25519);
  return std::string(kUntrusted) + " " + std::string(untrustedComment) + "\n" +
         Base64Encode(algorithm + signature.keyId + signature.signature) + "\n" + std::string(kTrusted) +
         signature.trustedComment + "\n" + Base64Encode(signature.globalSignature) + "\n";
}

std::optional<std::string> TrustedCommentField(std::string_view trustedComment, std::string_view name) {
  while (true) {
    const std::size_t tab = trustedComment.find('\t');
    const std::string_view field = trustedComment.substr(0, tab);
    if (field.size() > name.size() && field.substr(0, name.size()) == name && field[name.size()] == ':')
      return std::string(field.substr(name.size() + 1));
    if (tab == std::string_view::npos) return std::nullopt;
    trustedComment.remove_prefix(tab + 1);
  }
}

std::optional<std::string> SignedFileName(std::string_view trustedComment) {
  return TrustedCommentField(trustedComment, "file");
}

SignatureVerdict VerifySignature(std::string_view signatureText, std::string_view message,
                                 const std::vector<MinisignPublicKey>& keys, std::string_view expectedName) {
  return Verify(
      signatureText,
      [message](const std::string& publicKey, const MinisignSignature& sig) -> std::optional<bool> {
        return crypto::Ed25519Verify(publicKey, sig.prehashed ? crypto::Blake2b512(message) : std::string(message),
                                     sig.signature);
      },
      keys, expectedName);
}

SignatureVerdict VerifyFileSignature(std::string_view signatureText, const std::string& path,
                                     const std::vector<MinisignPublicKey>& keys, std::string_view expectedName,
                                     const std::string* prehash) {
  return Verify(
      signatureText,
      [&path, prehash](const std::string& publicKey, const MinisignSignature& sig) -> std::optional<bool> {
        if (sig.prehashed) {
          const auto digest = prehash ? std::optional<std::string>(*prehash) : FileDigest(path);
          if (!digest) return std::nullopt;
          return crypto::Ed25519Verify(publicKey, *digest, sig.signature);
        }
        // A legacy signature covers the whole file: it is fed as it is read.
        crypto::Ed25519Verifier verifier(publicKey, sig.signature);
        if (!ReadInBlocks(path, [&verifier](const char* data, std::size_t size) { verifier.Update(data, size); }))
          return std::nullopt;
        return verifier.Final();
      },
      keys, expectedName);
}

// ------------------------------------------------------------------- secret keys
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

std::string DefaultTrustedComment(std::string_view fileName, std::int64_t unixSeconds) {
  return "timestamp:" + std::to_string(unixSeconds) + "\tfile:" + std::string(fileName) + "\thashed";
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

std::optional<std::string> ReadFileBounded(const std::string& path, std::int64_t maxBytes) {
  auto file = os::File::Open(path, os::OpenFor::Read);
  if (!file) return std::nullopt;
  std::string content;
  char buffer[65536];
  for (;;) {
    const std::int64_t n = file->Read(buffer, sizeof buffer);
    if (n < 0) return std::nullopt;
    if (n == 0) return content;
    if (static_cast<std::int64_t>(content.size()) + n > maxBytes) return std::nullopt;
    content.append(buffer, static_cast<std::size_t>(n));
  }
}
