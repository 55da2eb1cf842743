#include "publish/patch_make.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <divsufsort.h>
#include <zstd.h>

#include "app/fetch/patch_format.h"
#include "platform/signature.h"

namespace {

// A stretch at a step's current offset counts as a match worth a new step
// once a found match beats it by more than this many bytes.
constexpr std::int64_t kMatchMargin = 8;
constexpr int kCompressionLevel = 19;

// How many leading bytes a and b share, looking at no more than limit.
std::size_t CommonPrefix(const unsigned char* a, const unsigned char* b, std::size_t limit) {
  std::size_t n = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; n + 8 <= limit; n += 8) {
      std::uint64_t x = 0;
      std::uint64_t y = 0;
      std::memcpy(&x, a + n, 8);
      std::memcpy(&y, b + n, 8);
      if (x != y) return n + static_cast<std::size_t>(std::countr_zero(x ^ y) / 8);
    }
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// Covers the result with steps against the base: the search of the
// classic suffix-sorting binary differ, with the steps written as the
// patch format keeps them.
class StepMaker {
 public:
  StepMaker(std::string_view base, std::string_view result, const std::vector<saidx_t>& suffixes)
      : base_(reinterpret_cast<const unsigned char*>(base.data())),
        result_(reinterpret_cast<const unsigned char*>(result.data())),
        baseSize_(static_cast<std::int64_t>(base.size())),
        resultSize_(static_cast<std::int64_t>(result.size())),
        suffixes_(suffixes) {}
  void Run();

  PatchStreams streams;

 private:
  struct Match {
    std::int64_t length = 0;
    std::int64_t position = 0;
  };
  Match LongestMatch(std::int64_t scan) const;
  std::int64_t Prefix(std::int64_t suffix, std::int64_t scan, std::int64_t skip) const;
  bool SameAt(std::int64_t resultAt, std::int64_t baseAt) const {
    return baseAt >= 0 && baseAt < baseSize_ && base_[baseAt] == result_[resultAt];
  }
  std::int64_t ForwardLength(std::int64_t scan) const;
  std::int64_t BackwardLength(std::int64_t scan, std::int64_t position) const;
  void AddCopyPart(std::int64_t resultAt, std::int64_t baseAt, std::int64_t length);
  void AddStep(std::int64_t scan, std::int64_t position);

  const unsigned char* base_;
  const unsigned char* result_;
  std::int64_t baseSize_;
  std::int64_t resultSize_;
  const std::vector<saidx_t>& suffixes_;
  std::int64_t lastScan_ = 0;     // where the result's next step begins
  std::int64_t lastPosition_ = 0; // the base position it copies from
  std::int64_t lastOffset_ = 0;   // base position - result position of the last match
  std::int64_t cursor_ = 0;       // the base position after the last written step
};

std::int64_t StepMaker::Prefix(std::int64_t suffix, std::int64_t scan, std::int64_t skip) const {
  const std::int64_t limit = std::min(baseSize_ - suffix, resultSize_ - scan);
  return skip + static_cast<std::int64_t>(CommonPrefix(base_ + suffix + skip, result_ + scan + skip,
                                                       static_cast<std::size_t>(limit - skip)));
}

// Binary search of the sorted suffixes for the longest match of the result
// from scan on; the bytes both bounds share with it are not compared again.
StepMaker::Match StepMaker::LongestMatch(std::int64_t scan) const {
  if (baseSize_ == 0) return {};
  std::int64_t low = 0;
  std::int64_t high = baseSize_ - 1;
  std::int64_t lowLength = Prefix(suffixes_[low], scan, 0);
  std::int64_t highLength = Prefix(suffixes_[high], scan, 0);
  const std::int64_t wanted = resultSize_ - scan;
  while (high - low > 1) {
    const std::int64_t middle = low + (high - low) / 2;
    const std::int64_t suffix = suffixes_[middle];
    const std::int64_t length = Prefix(suffix, scan, std::min(lowLength, highLength));
    const bool below = length < wanted &&
                       (suffix + length == baseSize_ || base_[suffix + length] < result_[scan + length]);
    (below ? low : high) = middle;
    (below ? lowLength : highLength) = length;
  }
  return lowLength >= highLength ? Match{lowLength, suffixes_[low]} : Match{highLength, suffixes_[high]};
}

// How far the last match's offset carries on from the last step's start:
// the length where matching bytes most outnumber the others.
std::int64_t StepMaker::ForwardLength(std::int64_t scan) const {
  std::int64_t same = 0;
  std::int64_t best = 0;
  std::int64_t length = 0;
  for (std::int64_t i = 0; lastScan_ + i < scan && lastPosition_ + i < baseSize_;) {
    if (base_[lastPosition_ + i] == result_[lastScan_ + i]) ++same;
    ++i;
    if (same * 2 - i > best * 2 - length) {
      best = same;
      length = i;
    }
  }
  return length;
}

// How far the new match extends backwards from scan and position.
std::int64_t StepMaker::BackwardLength(std::int64_t scan, std::int64_t position) const {
  if (scan >= resultSize_) return 0;
  std::int64_t same = 0;
  std::int64_t best = 0;
  std::int64_t length = 0;
  for (std::int64_t i = 1; scan >= lastScan_ + i && position >= i; ++i) {
    if (base_[position - i] == result_[scan - i]) ++same;
    if (same * 2 - i > best * 2 - length) {
      best = same;
      length = i;
    }
  }
  return length;
}

// The copy part of a step: runs of bytes the base already has, each
// followed by a run of changed bytes and their differences.
void StepMaker::AddCopyPart(std::int64_t resultAt, std::int64_t baseAt, std::int64_t length) {
  for (std::int64_t i = 0; i < length;) {
    const std::int64_t same = static_cast<std::int64_t>(
        CommonPrefix(result_ + resultAt + i, base_ + baseAt + i, static_cast<std::size_t>(length - i)));
    patch::AppendVarint(streams[patch::kUnchanged], static_cast<std::uint64_t>(same));
    i += same;
    if (i == length) break;
    const std::int64_t start = i;
    for (; i < length && result_[resultAt + i] != base_[baseAt + i]; ++i)
      streams[patch::kDiff].push_back(static_cast<char>(result_[resultAt + i] - base_[baseAt + i]));
    patch::AppendVarint(streams[patch::kChanged], static_cast<std::uint64_t>(i - start));
  }
}

// Ends the step that began at lastScan_ where the new match, at scan in the
// result and position in the base, takes over: the forward part copies with
// differences, the bytes between are new, the backward part begins the next
// step. Where the two parts overlap, the split that keeps the most
// matching bytes wins.
void StepMaker::AddStep(std::int64_t scan, std::int64_t position) {
  std::int64_t forward = ForwardLength(scan);
  std::int64_t backward = BackwardLength(scan, position);
  if (lastScan_ + forward > scan - backward) {
    const std::int64_t overlap = (lastScan_ + forward) - (scan - backward);
    std::int64_t score = 0;
    std::int64_t best = 0;
    std::int64_t split = 0;
    for (std::int64_t i = 0; i < overlap; ++i) {
      if (SameAt(lastScan_ + forward - overlap + i, lastPosition_ + forward - overlap + i)) ++score;
      if (SameAt(scan - backward + i, position - backward + i)) --score;
      if (score > best) {
        best = score;
        split = i + 1;
      }
    }
    forward += split - overlap;
    backward -= split;
  }
  const std::int64_t newBytes = (scan - backward) - (lastScan_ + forward);
  if (forward + newBytes > 0) {
    std::string& control = streams[patch::kControl];
    patch::AppendVarint(control, patch::ZigZag(lastPosition_ - cursor_));
    patch::AppendVarint(control, static_cast<std::uint64_t>(forward));
    patch::AppendVarint(control, static_cast<std::uint64_t>(newBytes));
    AddCopyPart(lastScan_, lastPosition_, forward);
    streams[patch::kExtra].append(reinterpret_cast<const char*>(result_ + lastScan_ + forward),
                                  static_cast<std::size_t>(newBytes));
    cursor_ = lastPosition_ + forward;
  }
  lastScan_ = scan - backward;
  lastPosition_ = position - backward;
  lastOffset_ = position - scan;
}

// Moves through the result: where the best match found is no better than
// carrying on with the last offset, no step ends; where it is clearly
// better (or the result ends), a step ends and the match begins the next.
void StepMaker::Run() {
  std::int64_t scan = 0;
  Match match;
  while (scan < resultSize_) {
    std::int64_t oldScore = 0;
    scan += match.length;
    for (std::int64_t counted = scan; scan < resultSize_; ++scan) {
      match = LongestMatch(scan);
      for (; counted < scan + match.length; ++counted)
        if (SameAt(counted, counted + lastOffset_)) ++oldScore;
      if ((match.length == oldScore && match.length != 0) || match.length > oldScore + kMatchMargin) break;
      if (SameAt(scan, scan + lastOffset_)) --oldScore;
    }
    if (match.length != oldScore || scan == resultSize_) AddStep(scan, match.position);
  }
}

struct EncoderFree {
  void operator()(ZSTD_CCtx* encoder) const { ZSTD_freeCCtx(encoder); }
};

// One zstd frame of data, with its size and checksum, its window bounded
// as the applier requires.
Status Compress(std::string_view data, std::string& out) {
  std::unique_ptr<ZSTD_CCtx, EncoderFree> encoder(ZSTD_createCCtx());
  if (!encoder) return Status::Error("cannot make a zstd encoder");
  const std::pair<ZSTD_cParameter, int> settings[] = {
      {ZSTD_c_compressionLevel, kCompressionLevel},
      {ZSTD_c_windowLog, patch::kMaxWindowLog},
      {ZSTD_c_checksumFlag, 1},
  };
  for (const auto& [parameter, value] : settings) {
    const std::size_t set = ZSTD_CCtx_setParameter(encoder.get(), parameter, value);
    if (ZSTD_isError(set)) return Status::Error(std::string("zstd: ") + ZSTD_getErrorName(set));
  }
  out.resize(ZSTD_compressBound(data.size()));
  const std::size_t size = ZSTD_compress2(encoder.get(), out.data(), out.size(), data.data(), data.size());
  if (ZSTD_isError(size)) return Status::Error(std::string("zstd: ") + ZSTD_getErrorName(size));
  out.resize(size);
  return Status();
}

}  // namespace

Status PackPatch(std::string_view base, std::string_view result, const PatchStreams& streams, std::string& patch) {
  patch::Header header;
  header.baseSize = base.size();
  header.resultSize = result.size();
  header.baseDigest = crypto::Blake2b512(base);
  header.resultDigest = crypto::Blake2b512(result);
  PatchStreams packed;
  for (std::size_t i = 0; i < patch::kStreamCount; ++i) {
    Status compressed = Compress(streams[i], packed[i]);
    if (!compressed.ok()) return compressed;
    header.streamSizes[i] = packed[i].size();
  }
  patch = patch::EncodeHeader(header);
  for (const std::string& stream : packed) patch += stream;
  return Status();
}

Status MakePatch(std::string_view base, std::string_view result, std::string& patch) {
  if (base.size() > kMaxPatchBase)
    return Status::Error("the base has " + std::to_string(base.size()) + " bytes, more than a patch is made for");
  try {
    std::vector<saidx_t> suffixes(base.size());
    if (!base.empty() && divsufsort(reinterpret_cast<const sauchar_t*>(base.data()), suffixes.data(),
                                    static_cast<saidx_t>(base.size())) != 0)
      return Status::Error("cannot sort the base's suffixes");
    StepMaker steps(base, result, suffixes);
    steps.Run();
    suffixes = std::vector<saidx_t>();
    return PackPatch(base, result, steps.streams, patch);
  } catch (const std::bad_alloc&) {
    return Status::Error("too little memory to make a patch of " + std::to_string(result.size()) + " bytes");
  }
}
