#pragma once
// The patch format shared by the publisher's maker and the updater's
// applier. A patch turns one base file into one result file:
//
//   header     magic "TVQPATCH", version, base size, result size, the
//              BLAKE2b-512 digests of base and result (as FileDigest of
//              minisign.h gives them), the sizes of the five streams that
//              follow (integers little-endian, of fixed width)
// and five streams, each one zstd frame, in this order:
//   control    the steps, each three varints: a signed move of the base
//              position (zigzag), the length of its copy part and the
//              length of its extra part; every step writes at least one byte
//   unchanged  for each copy part, from its start: the lengths of the runs
//              of base bytes it takes as they are (varints, 0 allowed), each
//              followed, unless the copy part ends there, by a run of
//   changed    changed bytes: its length (a varint, at least 1), whose bytes
//   diff       are added to the base bytes (mod 256)
//   extra      for each step, its extra part: new bytes, taken as they are
//
// The base position moves on with every byte a copy part takes. Keeping
// the runs' lengths apart from the differences, and the two kinds of
// lengths apart from each other, lets the compressor find the regular
// patterns of each (a program's moved addresses change a byte or two every
// few dozen bytes). The file ends right after the extra stream.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace patch {

inline constexpr std::string_view kMagic = "TVQPATCH";
inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::size_t kDigestSize = 64;
inline constexpr std::size_t kStreamCount = 5;
enum Stream { kControl = 0, kUnchanged = 1, kChanged = 2, kDiff = 3, kExtra = 4 };
inline constexpr std::array<std::string_view, kStreamCount> kStreamNames = {"control", "unchanged", "changed",
                                                                             "diff", "extra"};
inline constexpr std::size_t kHeaderSize =
    kMagic.size() + 4 + 8 + 8 + 2 * kDigestSize + kStreamCount * 8;

// The largest zstd window a stream may use (8 MiB): the applier's memory
// for the five decoders stays bounded whatever the files' sizes.
inline constexpr int kMaxWindowLog = 23;
// The longest varint: 64 bits in groups of 7.
inline constexpr std::size_t kMaxVarintSize = 10;

struct Header {
  std::uint64_t baseSize = 0;
  std::uint64_t resultSize = 0;
  std::string baseDigest;    // kDigestSize bytes
  std::string resultDigest;  // kDigestSize bytes
  std::array<std::uint64_t, kStreamCount> streamSizes{};
};

// The header as kHeaderSize bytes (the digests must have kDigestSize bytes).
std::string EncodeHeader(const Header& header);
// Reads a header from the first kHeaderSize bytes of bytes; the cause when
// they are not one of this version ("the patch is damaged: ...").
Status DecodeHeader(std::string_view bytes, Header& header);

// Varints: 7 bits a byte, lowest first, the top bit set on every byte but
// the last. Signed values are zigzag-coded (0, -1, 1, -2, ... -> 0, 1, 2, 3, ...).
void AppendVarint(std::string& out, std::uint64_t value);
inline std::uint64_t ZigZag(std::int64_t value) {
  return (static_cast<std::uint64_t>(value) << 1) ^ (value < 0 ? ~std::uint64_t{0} : 0);
}
inline std::int64_t UnZigZag(std::uint64_t value) {
  return static_cast<std::int64_t>((value >> 1) ^ (~(value & 1) + 1));
}

}  // namespace patch
