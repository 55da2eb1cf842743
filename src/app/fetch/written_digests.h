#pragma once
// The digests a file is checked by — the listed checksum, the site record's
// BLAKE2b-256 and the signature's BLAKE2b-512 prehash — computed over its
// bytes as they are written, so that the file need not be read again.
//
// The checksum is computed on the writing thread, as each piece is taken.
// With a second core the BLAKE2b digests run on a second thread, handed the
// writer's own gathered pieces (no copy; at most kPiecesInFlight of them at
// a time, so memory stays bounded), so that a signed file costs about what
// an unsigned one does; with one core they run on the writing thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/fetch/transfer.h"
#include "app/list/site_record.h"
#include "support/fileutil.h"

class WrittenDigests final : public FetchObserver {
 public:
  static constexpr std::size_t kPiecesInFlight = 4;

  // Which digests to compute: the listed checksum, the record's digest, the
  // signature's prehash.
  WrittenDigests(bool withChecksum, bool withRecordDigest, bool withPrehash);
  ~WrittenDigests() override;
  WrittenDigests(const WrittenDigests&) = delete;
  WrittenDigests& operator=(const WrittenDigests&) = delete;

  void Restart(bool passesThrough) override;
  void Take(const char* data, std::size_t size) override;
  std::string TakePiece(std::string piece) override;

  // Whether the digests cover a file of size bytes that was written through
  // this observer (false after a method that wrote the file itself, or
  // before any Restart(true)).
  bool Cover(std::int64_t size) const { return passesThrough_ && bytes_ == size; }
  std::int32_t Checksum() const { return sum_.Result(); }
  // The size and BLAKE2b-256 of what was written; empty digest when not
  // computed. Ends the hasher: later calls give the same until Restart.
  ContentDigest RecordDigest();
  // The BLAKE2b-512 prehash; empty when not computed. Ends the hasher:
  // later calls give the same until Restart.
  std::string Prehash();

 private:
  class Hashers;
  const bool withChecksum_;
  bool passesThrough_ = false;
  std::int64_t bytes_ = 0;
  StreamChecksum sum_;
  std::unique_ptr<Hashers> hashers_;
  std::optional<ContentDigest> recordDigest_;
  std::optional<std::string> prehash_;
};
