#include "support/textfile.h"

#include <cstring>

TextFile::~TextFile() {
  Close();
}

Status TextFile::Open(const std::string& path, os::OpenFor how, Mode mode) {
  Close();
  failure_ = Status();
  StatusOr<os::File> file = os::File::Open(path, how);
  if (!file) return file.status();
  file_ = std::move(*file);
  mode_ = mode;
  buffer_.resize(kBufferSize);
  bufPos_ = 0;
  bufEnd_ = 0;
  osPos_ = how == os::OpenFor::Append ? file_.Size() : 0;
  if (osPos_ < 0) {
    Close();
    return Status::Error("its size is unknown");
  }
  return Status();
}

Status TextFile::OpenRead(const std::string& path) {
  return Open(path, os::OpenFor::Read, Mode::Reading);
}

Status TextFile::OpenAppend(const std::string& path) {
  return Open(path, os::OpenFor::Append, Mode::Writing);
}

Status TextFile::OpenWrite(const std::string& path) {
  return Open(path, os::OpenFor::CreateTruncate, Mode::Writing);
}

bool TextFile::Note(const Status& status) {
  if (failure_.ok()) failure_ = status;
  return status.ok();
}

bool TextFile::Fill() {
  bufPos_ = 0;
  bufEnd_ = 0;
  const StatusOr<std::int64_t> n = file_.Read(buffer_.data(), buffer_.size());
  if (!Note(n.status()) || *n == 0) return false;
  osPos_ += *n;
  bufEnd_ = static_cast<std::size_t>(*n);
  return true;
}

bool TextFile::ReadLine(std::string& line) {
  line.clear();
  if (mode_ != Mode::Reading) return false;
  bool started = false;
  for (;;) {
    if (bufPos_ == bufEnd_ && !Fill()) return started && failure_.ok();  // a last line without end
    started = true;
    const char* begin = buffer_.data() + bufPos_;
    const char* end = buffer_.data() + bufEnd_;
    const char* stop = begin;
    while (stop != end && *stop != '\r' && *stop != '\n') ++stop;
    line.append(begin, stop);
    bufPos_ += static_cast<std::size_t>(stop - begin);
    if (stop == end) continue;
    ++bufPos_;
    if (*stop == '\r') {
      // The LF of a CR LF may only arrive with the next fill.
      if (bufPos_ == bufEnd_ && !Fill()) return failure_.ok();
      if (buffer_[bufPos_] == '\n') ++bufPos_;
    }
    return true;
  }
}

bool TextFile::Eof() {
  if (mode_ != Mode::Reading) return true;
  return bufPos_ == bufEnd_ && !Fill();
}

bool TextFile::Write(std::string_view text) {
  if (mode_ != Mode::Writing) return false;
  if (bufPos_ + text.size() > buffer_.size() && !Flush()) return false;
  if (text.size() >= buffer_.size()) {
    if (!Note(file_.Write(text.data(), text.size()))) return false;
    osPos_ += static_cast<std::int64_t>(text.size());
    return true;
  }
  std::memcpy(buffer_.data() + bufPos_, text.data(), text.size());
  bufPos_ += text.size();
  return true;
}

bool TextFile::WriteLine(std::string_view text) {
  return Write(text) && Write("\r\n");
}

bool TextFile::Flush() {
  if (mode_ != Mode::Writing) return mode_ == Mode::Reading;
  if (bufPos_ == 0) return true;
  const bool ok = Note(file_.Write(buffer_.data(), bufPos_));
  if (ok) osPos_ += static_cast<std::int64_t>(bufPos_);
  bufPos_ = 0;
  return ok;
}

bool TextFile::Sync() {
  if (!Flush() || !file_.IsOpen()) return false;
  return mode_ != Mode::Writing || Note(file_.Sync());
}

bool TextFile::Close() {
  if (mode_ == Mode::Closed) return failure_.ok();
  Flush();
  Note(file_.Close());
  mode_ = Mode::Closed;
  buffer_.clear();
  buffer_.shrink_to_fit();
  bufPos_ = 0;
  bufEnd_ = 0;
  osPos_ = 0;
  return failure_.ok();
}

std::int64_t TextFile::Size() {
  return file_.IsOpen() ? file_.Size() : -1;
}

std::int64_t TextFile::Pos() {
  switch (mode_) {
    case Mode::Closed: return -1;
    case Mode::Reading: return osPos_ - static_cast<std::int64_t>(bufEnd_ - bufPos_);
    case Mode::Writing: return osPos_ + static_cast<std::int64_t>(bufPos_);
  }
  return -1;
}

bool TextFile::Seek(std::int64_t pos) {
  if (mode_ != Mode::Reading) return false;
  const std::int64_t bufferStart = osPos_ - static_cast<std::int64_t>(bufEnd_);
  const std::int64_t offset = pos - bufferStart;
  if (offset >= 0 && offset < static_cast<std::int64_t>(bufEnd_)) {
    bufPos_ = static_cast<std::size_t>(offset);
  } else {
    if (!file_.Seek(pos).ok()) return false;
    osPos_ = pos;
    bufPos_ = 0;
    bufEnd_ = 0;
  }
  return Pos() == pos;
}

std::int64_t TextFilePos(TextFile& f) {
  return f.Pos();
}

bool TextFileSeek(TextFile& f, std::int64_t pos) {
  return f.Seek(pos);
}
