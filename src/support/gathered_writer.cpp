#include "support/gathered_writer.h"

#include <algorithm>

GatheredWriter::GatheredWriter(os::File& file, std::size_t gatherBytes, PieceObserver* observer)
    : file_(file), gatherBytes_(std::max<std::size_t>(gatherBytes, 1)), observer_(observer) {}

Status GatheredWriter::WriteOut(const char* data, std::size_t size) {
  if (!failure_.ok() || size == 0) return failure_;
  failure_ = file_.Write(data, size);
  if (failure_.ok()) written_ += static_cast<std::int64_t>(size);
  return failure_;
}

Status GatheredWriter::Append(const char* data, std::size_t size) {
  if (!failure_.ok()) return failure_;
  // A block as large as a whole piece goes out as it is, after what came first.
  if (size >= gatherBytes_) {
    if (Status flushed = Flush(); !flushed.ok()) return flushed;
    if (Status written = WriteOut(data, size); !written.ok()) return written;
    if (observer_) observer_->Take(data, size);
    return Status();
  }
  if (gathered_.empty()) gathered_.reserve(gatherBytes_);
  const std::size_t room = gatherBytes_ - gathered_.size();
  const std::size_t first = std::min(room, size);
  gathered_.append(data, first);
  if (gathered_.size() < gatherBytes_) return Status();
  if (Status flushed = Flush(); !flushed.ok()) return flushed;
  gathered_.append(data + first, size - first);
  return Status();
}

Status GatheredWriter::Flush() {
  const Status written = WriteOut(gathered_.data(), gathered_.size());
  // The observer is handed the piece itself, not a copy, and gives back
  // memory for the next one.
  if (written.ok() && observer_ && !gathered_.empty()) gathered_ = observer_->TakePiece(std::move(gathered_));
  gathered_.clear();  // keeps its capacity for the next piece
  return written;
}
