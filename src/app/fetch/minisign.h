#pragma once
// The minisign file formats: Ed25519 public keys ("RW..." in base64),
// secret keys (optionally encrypted with a password through scrypt) and
// signature files NAME.minisig (an untrusted comment line, the signature
// line, a trusted comment line and the global signature over the signature
// and the trusted comment). Signatures are made in the prehashed form "ED"
// (Ed25519 over the BLAKE2b-512 of the file), the form minisign 0.11 writes;
// the legacy form "Ed" (Ed25519 over the whole file) is read as well. Makers
// can so sign and check with the minisign tool as well as with tvqpublish.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

// The standard alphabet with '=' padding.
std::string Base64Encode(std::string_view bytes);
// nullopt when text is not base64 in that form (bad character, missing or
// misplaced padding, a length that is not a multiple of 4).
std::optional<std::string> Base64Decode(std::string_view text);

struct MinisignPublicKey {
  std::string keyId;  // 8 bytes, as stored
  std::string key;    // 32 bytes
  // Whether signatures of the legacy form "Ed" are accepted. Its algorithm
  // bytes are not signed: a prehashed signature relabelled as legacy
  // verifies over the 64-byte digest, so only a key marked "legacy:" takes it.
  bool legacyAllowed = false;
};
inline constexpr std::string_view kLegacyKeyPrefix = "legacy:";
// Reads a key line "RW..." (or "legacy:RW...") or a whole public key file (a
// comment line, then the key line). nullopt with the reason in why when it
// is not one.
std::optional<MinisignPublicKey> ParsePublicKey(std::string_view text, std::string* why = nullptr);
// Reads one or more keys separated by ';' (blanks around each ignored); each
// entry that is not a key adds a line to problems.
std::vector<MinisignPublicKey> ParsePublicKeys(std::string_view text,
                                               std::vector<std::string>* problems = nullptr);
std::string PublicKeyLine(const MinisignPublicKey& key);
// A key ID as minisign prints it: 16 upper-case hexadecimal digits.
std::string KeyIdText(std::string_view keyId);

enum class SignatureCheck {
  Ok,
  Missing,     // no signature file (an empty answer or an error page stands in for it)
  Malformed,   // a signature file that cannot be read as one
  UnknownKey,  // made with a key that is not trusted
  Mismatch,    // does not match the file, or its trusted comment was altered
  TooLarge,    // a signature file far larger than any signature
  Unreadable,  // a signature file that is there but cannot be read
};
// "missing", "malformed", "made with an unknown key", "does not match",
// "too large", "unreadable".
const char* SignatureCheckText(SignatureCheck check);

struct SignatureVerdict {
  SignatureCheck check = SignatureCheck::Missing;
  std::string detail;          // what exactly was wrong, for the account
  std::string trustedComment;  // of a signature that was read
  bool Ok() const { return check == SignatureCheck::Ok; }
};

struct MinisignSignature {
  bool prehashed = true;        // "ED"; false: legacy "Ed"
  std::string keyId;            // 8 bytes
  std::string signature;        // 64 bytes
  std::string trustedComment;   // the text after "trusted comment: "
  std::string globalSignature;  // 64 bytes
};
// Reads a signature file. On failure verdict (when given) says why: Missing
// when the text is not a signature file at all, Malformed otherwise.
std::optional<MinisignSignature> ParseSignature(std::string_view text,
                                                SignatureVerdict* verdict = nullptr);
// The signature file text of a signature: the four lines, each ended by LF.
std::string SignatureFileText(const MinisignSignature& signature, std::string_view untrustedComment);

// The value of a field "NAME:VALUE" of a trusted comment (fields separated
// by tabs, as minisign writes "timestamp:T<TAB>file:NAME<TAB>hashed");
// nullopt when it has none.
std::optional<std::string> TrustedCommentField(std::string_view trustedComment, std::string_view name);
// The "file:" field.
std::optional<std::string> SignedFileName(std::string_view trustedComment);

// Checks a signature file's text against the message, in this order: the
// form, the key (one of keys), a legacy signature only for a key that allows
// it, the global signature over the trusted comment, the file name in the
// trusted comment (when expectedName is not empty the comment must name
// exactly it: a validly signed file of the site cannot stand in for
// another, and a signature that names no file binds none), and the message.
SignatureVerdict VerifySignature(std::string_view signatureText, std::string_view message,
                                 const std::vector<MinisignPublicKey>& keys,
                                 std::string_view expectedName = {});
// The same over a file's bytes, read once as they are hashed, so memory
// does not grow with the file. prehash, when given, is the BLAKE2b-512
// digest of the file's bytes already computed: a prehashed signature is
// checked against it and the file is not read (a legacy one reads it).
SignatureVerdict VerifyFileSignature(std::string_view signatureText, const std::string& path,
                                     const std::vector<MinisignPublicKey>& keys,
                                     std::string_view expectedName = {},
                                     const std::string* prehash = nullptr);

// "timestamp:T<TAB>file:NAME<TAB>hashed", the trusted comment minisign writes.
std::string DefaultTrustedComment(std::string_view fileName, std::int64_t unixSeconds);

// The BLAKE2b-512 digest of a file's bytes, read once in large blocks;
// nullopt when it cannot be read. What a prehashed signature signs.
std::optional<std::string> FileDigest(const std::string& path);

// The whole content of a file of at most maxBytes; fails when it cannot be
// read (the system's cause) or is larger.
StatusOr<std::string> ReadFileBounded(const std::string& path, std::int64_t maxBytes);
