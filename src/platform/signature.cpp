#include "platform/signature.h"

#include <gcrypt.h>

#include <mutex>
#include <vector>

namespace crypto {
namespace {

// The library wants one initialisation before any other call. Secure
// memory is left off: the program holds no secret but a signing key in the
// publisher's tool, and secure memory needs privileges it does not have.
void Initialise() {
  static std::once_flag once;
  std::call_once(once, [] {
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
}

// Owns one S-expression.
struct Sexp {
  gcry_sexp_t s = nullptr;
  ~Sexp() { gcry_sexp_release(s); }
};

// The bytes of the first element after token in sexp; empty when absent.
std::string TokenBytes(gcry_sexp_t sexp, const char* token) {
  gcry_sexp_t found = gcry_sexp_find_token(sexp, token, 0);
  if (!found) return {};
  std::size_t size = 0;
  const char* data = gcry_sexp_nth_data(found, 1, &size);
  std::string bytes = data ? std::string(data, size) : std::string();
  gcry_sexp_release(found);
  return bytes;
}

int Blake2bAlgorithm(std::size_t digestSize) {
  switch (digestSize) {
    case 20: return GCRY_MD_BLAKE2B_160;
    case 32: return GCRY_MD_BLAKE2B_256;
    case 48: return GCRY_MD_BLAKE2B_384;
    case 64: return GCRY_MD_BLAKE2B_512;
    default: return 0;
  }
}

}  // namespace

bool Ed25519Verify(std::string_view publicKey, std::string_view message, std::string_view signature) {
  if (publicKey.size() != kEd25519PublicKeySize || signature.size() != kEd25519SignatureSize)
    return false;
  if (message.size() > kEd25519SignMaxBytes) {
    Ed25519Verifier verifier(publicKey, signature);
    verifier.Update(message.data(), message.size());
    return verifier.Final();
  }
  Initialise();
  Sexp key, sig, data;
  if (gcry_sexp_build(&key.s, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                      static_cast<int>(publicKey.size()), publicKey.data()) ||
      gcry_sexp_build(&sig.s, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature.data(), 32,
                      signature.data() + 32) ||
      gcry_sexp_build(&data.s, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                      static_cast<int>(message.size()), message.data()))
    return false;
  return gcry_pk_verify(sig.s, data.s, key.s) == 0;
}

std::string Ed25519Sign(std::string_view seed, std::string_view message) {
  if (message.size() > kEd25519SignMaxBytes) return {};
  const std::string publicKey = Ed25519PublicKeyOf(seed);
  if (publicKey.empty()) return {};
  Sexp key, data, result;
  if (gcry_sexp_build(&key.s, nullptr,
                      "(private-key (ecc (curve Ed25519) (flags eddsa) (q %b) (d %b)))",
                      static_cast<int>(publicKey.size()), publicKey.data(),
                      static_cast<int>(seed.size()), seed.data()) ||
      gcry_sexp_build(&data.s, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                      static_cast<int>(message.size()), message.data()) ||
      gcry_pk_sign(&result.s, data.s, key.s))
    return {};
  const std::string r = TokenBytes(result.s, "r");
  const std::string s = TokenBytes(result.s, "s");
  if (r.size() != 32 || s.size() != 32) return {};
  return r + s;
}

std::string Ed25519PublicKeyOf(std::string_view seed) {
  if (seed.size() != kEd25519SeedSize) return {};
  Initialise();
  Sexp key;
  if (gcry_sexp_build(&key.s, nullptr, "(private-key (ecc (curve Ed25519) (flags eddsa) (d %b)))",
                      static_cast<int>(seed.size()), seed.data()))
    return {};
  gcry_ctx_t context = nullptr;
  if (gcry_mpi_ec_new(&context, key.s, nullptr)) return {};
  std::string publicKey;
  if (gcry_mpi_t q = gcry_mpi_ec_get_mpi("q@eddsa", context, 1)) {
    unsigned int bits = 0;
    const auto* bytes = static_cast<const char*>(gcry_mpi_get_opaque(q, &bits));
    if (bytes && bits == 8 * kEd25519PublicKeySize) publicKey.assign(bytes, kEd25519PublicKeySize);
    gcry_mpi_release(q);
  }
  gcry_ctx_release(context);
  return publicKey;
}

namespace {

// Owns the values of one curve computation.
struct Curve {
  gcry_ctx_t context = nullptr;
  std::vector<gcry_mpi_t> mpis;
  std::vector<gcry_mpi_point_t> points;
  ~Curve() {
    for (auto m : mpis) gcry_mpi_release(m);
    for (auto p : points) gcry_mpi_point_release(p);
    gcry_ctx_release(context);
  }
  gcry_mpi_t Mpi(gcry_mpi_t m) { return mpis.emplace_back(m); }
  gcry_mpi_point_t Point(gcry_mpi_point_t p) { return points.emplace_back(p); }
  // A little-endian integer of the encodings as a number.
  gcry_mpi_t LittleEndian(std::string_view bytes) {
    const std::string be(bytes.rbegin(), bytes.rend());
    gcry_mpi_t m = nullptr;
    if (gcry_mpi_scan(&m, GCRYMPI_FMT_USG, be.data(), be.size(), nullptr)) return nullptr;
    return Mpi(m);
  }
};

// Decodes an encoded Ed25519 point (a public key, or R of a signature);
// null when it is not a point of the curve.
gcry_mpi_point_t DecodePoint(Curve& curve, std::string_view encoded) {
  Sexp key;
  if (gcry_sexp_build(&key.s, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                      static_cast<int>(encoded.size()), encoded.data()))
    return nullptr;
  gcry_ctx_t context = nullptr;
  if (gcry_mpi_ec_new(&context, key.s, nullptr)) return nullptr;
  gcry_mpi_point_t point = gcry_mpi_ec_get_point("q", context, 1);
  gcry_ctx_release(context);
  return point ? curve.Point(point) : nullptr;
}

bool SameAffinePoint(Curve& curve, gcry_mpi_point_t a, gcry_mpi_point_t b) {
  gcry_mpi_t ax = curve.Mpi(gcry_mpi_new(0)), ay = curve.Mpi(gcry_mpi_new(0));
  gcry_mpi_t bx = curve.Mpi(gcry_mpi_new(0)), by = curve.Mpi(gcry_mpi_new(0));
  if (gcry_mpi_ec_get_affine(ax, ay, a, curve.context) || gcry_mpi_ec_get_affine(bx, by, b, curve.context))
    return false;
  return gcry_mpi_cmp(ax, bx) == 0 && gcry_mpi_cmp(ay, by) == 0;
}

}  // namespace

Ed25519Verifier::Ed25519Verifier(std::string_view publicKey, std::string_view signature)
    : publicKey_(publicKey), signature_(signature) {
  if (publicKey_.size() != kEd25519PublicKeySize || signature_.size() != kEd25519SignatureSize) return;
  Initialise();
  gcry_md_hd_t hash = nullptr;
  if (gcry_md_open(&hash, GCRY_MD_SHA512, 0)) return;
  hash_ = hash;
  gcry_md_write(hash, signature_.data(), 32);  // R
  gcry_md_write(hash, publicKey_.data(), publicKey_.size());
}

Ed25519Verifier::~Ed25519Verifier() {
  if (hash_) gcry_md_close(static_cast<gcry_md_hd_t>(hash_));
}

void Ed25519Verifier::Update(const void* data, std::size_t size) {
  if (hash_) gcry_md_write(static_cast<gcry_md_hd_t>(hash_), data, size);
}

bool Ed25519Verifier::Final() {
  if (!hash_) return false;
  const auto* digest = gcry_md_read(static_cast<gcry_md_hd_t>(hash_), GCRY_MD_SHA512);
  const std::string k64(reinterpret_cast<const char*>(digest), 64);
  gcry_md_close(static_cast<gcry_md_hd_t>(hash_));
  hash_ = nullptr;

  Curve curve;
  if (gcry_mpi_ec_new(&curve.context, nullptr, "Ed25519")) return false;
  gcry_mpi_point_t a = DecodePoint(curve, publicKey_);
  gcry_mpi_point_t r = DecodePoint(curve, std::string_view(signature_).substr(0, 32));
  gcry_mpi_point_t g = gcry_mpi_ec_get_point("g", curve.context, 1);
  gcry_mpi_t n = gcry_mpi_ec_get_mpi("n", curve.context, 1);
  if (g) curve.Point(g);
  if (n) curve.Mpi(n);
  gcry_mpi_t s = curve.LittleEndian(std::string_view(signature_).substr(32));
  gcry_mpi_t k = curve.LittleEndian(k64);
  // S must be reduced: another encoding of the same signature is refused.
  if (!a || !r || !g || !n || !s || !k || gcry_mpi_cmp(s, n) >= 0) return false;
  gcry_mpi_mod(k, k, n);
  gcry_mpi_point_t sb = curve.Point(gcry_mpi_point_new(0));
  gcry_mpi_point_t ka = curve.Point(gcry_mpi_point_new(0));
  gcry_mpi_point_t rka = curve.Point(gcry_mpi_point_new(0));
  gcry_mpi_ec_mul(sb, s, g, curve.context);
  gcry_mpi_ec_mul(ka, k, a, curve.context);
  gcry_mpi_ec_add(rka, r, ka, curve.context);
  return SameAffinePoint(curve, sb, rka);
}

Blake2b::Blake2b(std::size_t digestSize) : algorithm_(Blake2bAlgorithm(digestSize)), size_(digestSize) {
  if (algorithm_ == 0) return;
  Initialise();
  gcry_md_hd_t handle = nullptr;
  if (gcry_md_open(&handle, algorithm_, 0) == 0) handle_ = handle;
}

Blake2b::~Blake2b() {
  if (handle_) gcry_md_close(static_cast<gcry_md_hd_t>(handle_));
}

void Blake2b::Update(const void* data, std::size_t size) {
  if (handle_) gcry_md_write(static_cast<gcry_md_hd_t>(handle_), data, size);
}

std::string Blake2b::Final() {
  if (!handle_) return {};
  const auto* digest = gcry_md_read(static_cast<gcry_md_hd_t>(handle_), algorithm_);
  std::string result = digest ? std::string(reinterpret_cast<const char*>(digest), size_) : std::string();
  gcry_md_close(static_cast<gcry_md_hd_t>(handle_));
  handle_ = nullptr;
  return result;
}

std::string Blake2b512(std::string_view data) {
  Blake2b hasher(64);
  hasher.Update(data.data(), data.size());
  return hasher.Final();
}

std::string Scrypt(std::string_view password, std::string_view salt, std::uint64_t n,
                   std::uint32_t r, std::uint32_t p, std::size_t size) {
  // The library's cost argument is an int: costs beyond it are refused.
  if (r != 8 || n < 2 || (n & (n - 1)) != 0 || n > (1ull << 30) || p == 0 || size == 0) return {};
  Initialise();
  std::string out(size, '\0');
  if (gcry_kdf_derive(password.data(), password.size(), GCRY_KDF_SCRYPT, static_cast<int>(n),
                      salt.data(), salt.size(), p, size, out.data()))
    return {};
  return out;
}

std::string RandomBytes(std::size_t size) {
  Initialise();
  std::string out(size, '\0');
  gcry_randomize(out.data(), size, GCRY_STRONG_RANDOM);
  return out;
}

}  // namespace crypto
