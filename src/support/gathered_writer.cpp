#include "support/gathered_writer.h"

#include <algorithm>

GatheredWriter::GatheredWriter(os::File& file, std::size_t gatherBytes)
    : file_(file), gatherBytes_(std::max<std::size_t>(gatherBytes, 1)) {}

bool GatheredWriter::WriteOut(const char* data, std::size_t size) {
  if (failed_) return false;
  if (size == 0) return true;
  failed_ = !file_.Write(data, size);
  if (!failed_) written_ += static_cast<std::int64_t>(size);
  return !failed_;
}

bool GatheredWriter::Append(const char* data, std::size_t size) {
  if (failed_) return false;
  // A block as large as a whole piece goes out as it is, after what came first.
  if (size >= gatherBytes_) return Flush() && WriteOut(data, size);
  if (gathered_.empty()) gathered_.reserve(gatherBytes_);
  const std::size_t room = gatherBytes_ - gathered_.size();
  const std::size_t first = std::min(room, size);
  gathered_.append(data, first);
  if (gathered_.size() < gatherBytes_) return true;
  if (!Flush()) return false;
  gathered_.append(data + first, size - first);
  return true;
}

bool GatheredWriter::Flush() {
  const bool ok = WriteOut(gathered_.data(), gathered_.size());
  gathered_.clear();  // keeps its capacity for the next piece
  return ok;
}
