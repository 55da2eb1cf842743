#pragma once
// The cryptographic primitives of signed updates: Ed25519 signatures,
// BLAKE2b hashes, the scrypt key derivation and random bytes. Built on
// libgcrypt on every platform; this is the one unit that includes its
// header. Byte strings are std::string; failures are results (false or an
// empty string), never exceptions.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace crypto {

inline constexpr std::size_t kEd25519SeedSize = 32;       // the secret half of a key
inline constexpr std::size_t kEd25519PublicKeySize = 32;
inline constexpr std::size_t kEd25519SignatureSize = 64;

// True when signature is a valid Ed25519 signature of message by publicKey.
// Wrong sizes are false.
bool Ed25519Verify(std::string_view publicKey, std::string_view message, std::string_view signature);
// The Ed25519 signature (64 bytes) of a message of at most
// kEd25519SignMaxBytes bytes; empty on failure.
inline constexpr std::size_t kEd25519SignMaxBytes = 16384;
std::string Ed25519Sign(std::string_view seed, std::string_view message);

// Ed25519 verification of a message fed in pieces, for messages of any
// length (a file signed whole): the library's one-call interface holds at
// most 64 KiB, so the curve equation [S]B = R + [k]A, k = SHA-512(R || A ||
// message), is checked here with its point arithmetic.
class Ed25519Verifier {
 public:
  Ed25519Verifier(std::string_view publicKey, std::string_view signature);
  ~Ed25519Verifier();
  Ed25519Verifier(const Ed25519Verifier&) = delete;
  Ed25519Verifier& operator=(const Ed25519Verifier&) = delete;
  void Update(const void* data, std::size_t size);
  // True when the signature holds for everything fed; ends the verifier.
  bool Final();

 private:
  std::string publicKey_;
  std::string signature_;
  void* hash_ = nullptr;
};
// The public key (32 bytes) that belongs to a secret seed; empty on failure.
std::string Ed25519PublicKeyOf(std::string_view seed);

// BLAKE2b with a digest of 20, 32, 48 or 64 bytes, fed in pieces (files
// are hashed as they are read).
class Blake2b {
 public:
  explicit Blake2b(std::size_t digestSize);
  ~Blake2b();
  Blake2b(const Blake2b&) = delete;
  Blake2b& operator=(const Blake2b&) = delete;
  bool Ok() const { return handle_ != nullptr; }  // false: the size is not offered
  void Update(const void* data, std::size_t size);
  // The digest; empty when the hasher could not be made. Ends the hasher.
  std::string Final();

 private:
  void* handle_ = nullptr;
  int algorithm_ = 0;
  std::size_t size_ = 0;
};
std::string Blake2b512(std::string_view data);

// scrypt (RFC 7914) of password and salt with cost n (a power of 2), block
// size r and parallelism p: size bytes, empty on failure (the library
// offers r = 8 only, the value every user of the format writes).
std::string Scrypt(std::string_view password, std::string_view salt, std::uint64_t n,
                   std::uint32_t r, std::uint32_t p, std::size_t size);

// Bytes from the library's strong random generator.
std::string RandomBytes(std::size_t size);

}  // namespace crypto
