#pragma once
// Making a patch (app/fetch/patch_format.h) that turns a base into a
// result: the publisher's half of delta updates. The base's suffixes are
// sorted (libdivsufsort), the result is covered by steps that each copy a
// stretch of the base with small differences and then add new bytes, and
// its five streams are compressed with zstd at a high level.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/fetch/patch_format.h"
#include "platform/status.h"

// The largest base a patch is made for (the suffix array is of 32-bit
// positions); a larger file is published whole.
inline constexpr std::uint64_t kMaxPatchBase = (std::uint64_t{1} << 31) - 1;

// The patch from base to result; the cause when none can be made (a base
// larger than kMaxPatchBase, too little memory, a compressor failure).
// Memory: about five times the base plus twice the result (the caller's
// copies of both counted).
Status MakePatch(std::string_view base, std::string_view result, std::string& patch);

// A patch's streams before compression, in the order of patch::Stream.
using PatchStreams = std::array<std::string, patch::kStreamCount>;
// The patch of these streams, for this base and result: what MakePatch
// does once it has found the steps (and how tests build patches with
// chosen steps).
Status PackPatch(std::string_view base, std::string_view result, const PatchStreams& streams, std::string& patch);
