#include "app/fetch/minisign.h"

#include <functional>
#include <memory>

#include "app/fetch/minisign_format.h"
#include "platform/os.h"
#include "platform/signature.h"

using namespace minisign_format;

namespace {

constexpr std::size_t kHashBlock = 1 << 20;

// Reads a file once in large blocks, handing each to sink; why it cannot be
// read when it cannot.
Status ReadInBlocks(const std::string& path, const std::function<void(const char*, std::size_t)>& sink) {
  auto file = os::File::Open(path, os::OpenFor::Read);
  if (!file) return file.status();
  std::unique_ptr<char[]> buffer(new char[kHashBlock]);
  for (;;) {
    const StatusOr<std::int64_t> n = file->Read(buffer.get(), kHashBlock);
    if (!n) return n.status();
    if (*n == 0) return Status();
    sink(buffer.get(), static_cast<std::size_t>(*n));
  }
}

}  // namespace

std::optional<std::string> FileDigest(const std::string& path) {
  crypto::Blake2b hasher(64);
  if (!ReadInBlocks(path, [&hasher](const char* data, std::size_t size) { hasher.Update(data, size); }).ok())
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
  Status unread;  // why the file could not be read
  SignatureVerdict verdict = Verify(
      signatureText,
      [&path, prehash, &unread](const std::string& publicKey, const MinisignSignature& sig) -> std::optional<bool> {
        if (sig.prehashed) {
          if (prehash) return crypto::Ed25519Verify(publicKey, *prehash, sig.signature);
          crypto::Blake2b hasher(64);
          unread = ReadInBlocks(path, [&hasher](const char* data, std::size_t size) { hasher.Update(data, size); });
          const std::string digest = unread.ok() ? hasher.Final() : std::string();
          if (digest.empty()) return std::nullopt;
          return crypto::Ed25519Verify(publicKey, digest, sig.signature);
        }
        // A legacy signature covers the whole file: it is fed as it is read.
        crypto::Ed25519Verifier verifier(publicKey, sig.signature);
        unread = ReadInBlocks(path, [&verifier](const char* data, std::size_t size) { verifier.Update(data, size); });
        if (!unread.ok()) return std::nullopt;
        return verifier.Final();
      },
      keys, expectedName);
  if (!unread.ok()) verdict.detail += ": " + unread.message();
  return verdict;
}

std::string DefaultTrustedComment(std::string_view fileName, std::int64_t unixSeconds) {
  return "timestamp:" + std::to_string(unixSeconds) + "\tfile:" + std::string(fileName) + "\thashed";
}

StatusOr<std::string> ReadFileBounded(const std::string& path, std::int64_t maxBytes) {
  auto file = os::File::Open(path, os::OpenFor::Read);
  if (!file) return file.status();
  std::string content;
  char buffer[65536];
  for (;;) {
    const StatusOr<std::int64_t> n = file->Read(buffer, sizeof buffer);
    if (!n) return n.status();
    if (*n == 0) return content;
    if (static_cast<std::int64_t>(content.size()) + *n > maxBytes)
      return Status::Error("it has more than " + std::to_string(maxBytes) + " bytes");
    content.append(buffer, static_cast<std::size_t>(*n));
  }
}
