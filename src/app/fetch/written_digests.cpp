#include "app/fetch/written_digests.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/signature.h"
#include "support/strfn.h"

// The BLAKE2b digests, and the thread that computes them when there is a
// core for it. Pieces are hashed in the order they are handed over; the
// hashers are touched by the writing thread only when no piece is pending.
class WrittenDigests::Hashers {
 public:
  Hashers(bool withRecordDigest, bool withPrehash)
      : withRecordDigest_(withRecordDigest), withPrehash_(withPrehash),
        threaded_(std::thread::hardware_concurrency() > 1) {
    Reset();
  }
  ~Hashers() {
    if (!thread_) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_->join();
  }
  bool Wanted() const { return withRecordDigest_ || withPrehash_; }

  // Starts both digests afresh once every pending piece is done.
  void Reset() {
    Drain();
    recordDigest_.reset();
    prehash_.reset();
    if (withRecordDigest_) recordDigest_.emplace(kRecordDigestBytes);
    if (withPrehash_) prehash_.emplace(kPrehashBytes);
  }
  // Lent bytes: hashed here, after the pieces handed over before them.
  void Take(const char* data, std::size_t size) {
    Drain();
    Hash(data, size);
  }
  // A large piece queued for the thread (waiting while kPiecesInFlight are
  // queued), so that it is hashed there while the writing thread goes on
  // with the next; memory for the next piece comes back. A small one, or
  // any without the thread, is hashed here.
  std::string TakePiece(std::string piece) {
    if (piece.size() < kThreadedPieceBytes || !Started()) {
      Take(piece.data(), piece.size());
      piece.clear();
      return piece;
    }
    std::string next;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return queued_.size() < kPiecesInFlight; });
      queued_.push_back(std::move(piece));
      if (!spare_.empty()) {
        next = std::move(spare_.back());
        spare_.pop_back();
      }
    }
    changed_.notify_all();
    return next;
  }
  std::string RecordDigest() {
    Drain();
    return recordDigest_ ? recordDigest_->Final() : std::string();
  }
  std::string Prehash() {
    Drain();
    return prehash_ ? prehash_->Final() : std::string();
  }

 private:
  static constexpr std::size_t kRecordDigestBytes = 32;
  static constexpr std::size_t kPrehashBytes = 64;
  // Smaller pieces are not worth a hand-over.
  static constexpr std::size_t kThreadedPieceBytes = std::size_t{64} << 10;

  void Hash(const char* data, std::size_t size) {
    if (recordDigest_) recordDigest_->Update(data, size);
    if (prehash_) prehash_->Update(data, size);
  }
  // Whether the thread runs; started with the first piece. Without a
  // second core, or when the system gives no thread, the pieces are hashed
  // on the writing thread.
  bool Started() {
    if (thread_ || !threaded_) return thread_.has_value();
    try {
      thread_.emplace([this] { Run(); });
    } catch (const std::system_error&) {
      threaded_ = false;
    }
    return thread_.has_value();
  }
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return stopping_ || !queued_.empty(); });
      if (queued_.empty()) return;
      std::string piece = std::move(queued_.front());
      queued_.pop_front();
      hashing_ = true;
      lock.unlock();
      Hash(piece.data(), piece.size());
      piece.clear();
      lock.lock();
      hashing_ = false;
      spare_.push_back(std::move(piece));
      changed_.notify_all();
    }
  }
  // Until every piece handed over is hashed.
  void Drain() {
    if (!thread_) return;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return queued_.empty() && !hashing_; });
  }

  const bool withRecordDigest_;
  const bool withPrehash_;
  bool threaded_;
  std::optional<crypto::Blake2b> recordDigest_;
  std::optional<crypto::Blake2b> prehash_;
  std::optional<std::thread> thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> queued_;
  std::vector<std::string> spare_;
  bool hashing_ = false;
  bool stopping_ = false;
};

WrittenDigests::WrittenDigests(bool withChecksum, bool withRecordDigest, bool withPrehash)
    : withChecksum_(withChecksum), hashers_(std::make_unique<Hashers>(withRecordDigest, withPrehash)) {}

WrittenDigests::~WrittenDigests() = default;

void WrittenDigests::Restart(bool passesThrough) {
  passesThrough_ = passesThrough;
  bytes_ = 0;
  sum_ = StreamChecksum();
  hashers_->Reset();
  recordDigest_.reset();
  prehash_.reset();
}

void WrittenDigests::Take(const char* data, std::size_t size) {
  bytes_ += static_cast<std::int64_t>(size);
  if (withChecksum_) sum_.Feed(data, size);
  if (hashers_->Wanted()) hashers_->Take(data, size);
}

std::string WrittenDigests::TakePiece(std::string piece) {
  bytes_ += static_cast<std::int64_t>(piece.size());
  if (withChecksum_) sum_.Feed(piece.data(), piece.size());
  if (hashers_->Wanted()) return hashers_->TakePiece(std::move(piece));
  piece.clear();
  return piece;
}

ContentDigest WrittenDigests::RecordDigest() {
  if (!recordDigest_) {
    const std::string digest = hashers_->RecordDigest();
    recordDigest_ = digest.empty() ? ContentDigest{} : ContentDigest{bytes_, HexOfBytes(digest)};
  }
  return *recordDigest_;
}

std::string WrittenDigests::Prehash() {
  if (!prehash_) prehash_ = hashers_->Prehash();
  return *prehash_;
}
