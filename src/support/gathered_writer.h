#pragma once
// Writes a stream of small blocks to a file in large pieces: the blocks are
// gathered in memory and written once about a mebibyte has come together, so
// a download that arrives in 8 KiB blocks costs one write per mebibyte. What
// is gathered is bounded, so memory use does not grow with the file.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/os.h"

inline constexpr std::size_t kGatherBytes = std::size_t{1} << 20;

// Sees the bytes a GatheredWriter writes, in order, each piece once it is
// written.
class PieceObserver {
 public:
  virtual ~PieceObserver() = default;
  // Bytes lent for the call only.
  virtual void Take(const char* data, std::size_t size) = 0;
  // A gathered piece handed over whole, so that it may still be read after
  // the call; gives back empty memory to gather the next piece in.
  virtual std::string TakePiece(std::string piece) {
    Take(piece.data(), piece.size());
    piece.clear();
    return piece;
  }
};

class GatheredWriter {
 public:
  // An observer, when given, sees every piece written.
  explicit GatheredWriter(os::File& file, std::size_t gatherBytes = kGatherBytes,
                          PieceObserver* observer = nullptr);
  GatheredWriter(const GatheredWriter&) = delete;
  GatheredWriter& operator=(const GatheredWriter&) = delete;

  // Takes one block; writes what was gathered once gatherBytes have come
  // together. Fails with the write's cause when that write failed; after a
  // failure every further call fails so and nothing more is written.
  Status Append(const char* data, std::size_t size);
  // Writes what is still gathered. Fails when this or an earlier write failed.
  Status Flush();
  // Bytes handed to the file so far (gathered bytes not yet among them).
  std::int64_t Written() const { return written_; }

 private:
  Status WriteOut(const char* data, std::size_t size);

  os::File& file_;
  const std::size_t gatherBytes_;
  PieceObserver* const observer_;
  std::string gathered_;
  std::int64_t written_ = 0;
  Status failure_;
};
