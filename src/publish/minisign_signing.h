#pragma once
// The signing half of the minisign format, which only the publisher needs:
// secret keys (optionally encrypted with a password through scrypt, as
// minisign encrypts them) and prehashed signatures of messages and files.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/fetch/minisign.h"

struct MinisignSecretKey {
  std::string keyId;      // 8 bytes
  std::string seed;       // 32 bytes, the secret
  std::string publicKey;  // 32 bytes
};
// A new key with a random key ID.
MinisignSecretKey NewSecretKey();
MinisignPublicKey PublicKeyOf(const MinisignSecretKey& key);

// The cost of the password derivation, as minisign stores it (its defaults).
struct KdfLimits {
  std::uint64_t opsLimit = 33554432;
  std::uint64_t memLimit = 1073741824;
};
// The secret key file's text: encrypted with password when one is given.
std::string SecretKeyFileText(const MinisignSecretKey& key, const std::optional<std::string>& password,
                              const KdfLimits& limits = {});
// Whether a secret key file's text is encrypted (needs a password).
bool SecretKeyIsEncrypted(std::string_view text);
// Reads a secret key file's text, decrypting it with password where it is
// encrypted. nullopt with the reason in why: not a key, a password needed,
// a wrong password, or a damaged key.
std::optional<MinisignSecretKey> ParseSecretKey(std::string_view text,
                                                const std::optional<std::string>& password,
                                                std::string* why = nullptr);

// A prehashed signature of message, or of the file at path (read once);
// nullopt when signing or reading failed.
std::optional<MinisignSignature> SignMessage(const MinisignSecretKey& key, std::string_view message,
                                             std::string_view trustedComment);
std::optional<MinisignSignature> SignFile(const MinisignSecretKey& key, const std::string& path,
                                          std::string_view trustedComment);
