#include "app/fetch/patch_apply.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>

#include <zstd.h>

#include "app/fetch/minisign.h"
#include "platform/os.h"
#include "platform/signature.h"
#include "support/gathered_writer.h"
#include "support/temp_beside.h"

namespace {

constexpr std::size_t kStreamBlock = std::size_t{64} << 10;  // read and decoded at a time
constexpr std::size_t kBaseWindow = std::size_t{1} << 20;    // of the base held at a time
constexpr std::size_t kStepBlock = std::size_t{64} << 10;    // of a step made at a time

Status Damaged(const std::string& what) { return Status::Error("the patch is damaged: " + what); }

Status CannotRead(const std::string& path, const Status& cause) { return Status::Failed("cannot read " + path, cause); }
Status EndsEarly(const std::string& path) { return Status::Error("cannot read " + path + ": it ends early"); }

// Reads exactly size bytes; why not when fewer came.
Status ReadExactly(os::File& file, const std::string& path, char* buffer, std::size_t size) {
  const StatusOr<std::int64_t> got = ReadFull(file, buffer, size);
  if (!got) return CannotRead(path, got.status());
  return *got == static_cast<std::int64_t>(size) ? Status() : EndsEarly(path);
}

// Opens path for reading at offset.
Status OpenAt(const std::string& path, std::uint64_t offset, std::optional<os::File>& file) {
  StatusOr<os::File> opened = os::File::Open(path, os::OpenFor::Read);
  if (!opened) return CannotRead(path, opened.status());
  file.emplace(std::move(*opened));
  const Status sought = file->Seek(static_cast<std::int64_t>(offset));
  return sought.ok() ? Status() : CannotRead(path, sought);
}

struct DecoderFree {
  void operator()(ZSTD_DCtx* decoder) const { ZSTD_freeDCtx(decoder); }
};

// One of the patch's streams: a zstd frame of known compressed size at a
// known place in the patch file, decoded a block at a time.
class PatchStream {
 public:
  explicit PatchStream(std::string_view name) : name_(name) {}
  Status Open(const std::string& path, std::uint64_t offset, std::uint64_t size);
  // Exactly size bytes of the decoded stream, else why not.
  Status Read(char* out, std::size_t size);
  Status ReadVarint(std::uint64_t& value);
  // OK when the frame ends here and the stream has no byte after it.
  Status ExpectEnd();

 private:
  // Decodes the next piece; none when the frame has ended.
  Status Refill();
  std::string Named(const std::string& what) const { return "the " + std::string(name_) + " stream " + what; }

  std::string_view name_;
  std::string path_;
  std::optional<os::File> file_;
  std::uint64_t left_ = 0;  // compressed bytes not read from the file yet
  std::unique_ptr<ZSTD_DCtx, DecoderFree> decoder_;
  std::unique_ptr<char[]> input_;
  ZSTD_inBuffer in_{nullptr, 0, 0};
  std::unique_ptr<char[]> decoded_;
  std::size_t decodedAt_ = 0;
  std::size_t decodedEnd_ = 0;
  bool frameEnded_ = false;
};

Status PatchStream::Open(const std::string& path, std::uint64_t offset, std::uint64_t size) {
  path_ = path;
  if (Status opened = OpenAt(path, offset, file_); !opened.ok()) return opened;
  left_ = size;
  decoder_.reset(ZSTD_createDCtx());
  input_.reset(new char[kStreamBlock]);
  decoded_.reset(new char[kStreamBlock]);
  in_ = ZSTD_inBuffer{input_.get(), 0, 0};
  if (!decoder_ || ZSTD_isError(ZSTD_DCtx_setParameter(decoder_.get(), ZSTD_d_windowLogMax, patch::kMaxWindowLog)))
    return Status::Error("cannot make a zstd decoder");
  return Status();
}

Status PatchStream::Refill() {
  decodedAt_ = decodedEnd_ = 0;
  while (!frameEnded_ && decodedEnd_ == 0) {
    if (in_.pos == in_.size && left_ > 0) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left_, kStreamBlock));
      if (Status read = ReadExactly(*file_, path_, input_.get(), want); !read.ok()) return read;
      left_ -= want;
      in_ = ZSTD_inBuffer{input_.get(), want, 0};
    }
    const std::size_t consumed = in_.pos;
    ZSTD_outBuffer out{decoded_.get(), kStreamBlock, 0};
    const std::size_t result = ZSTD_decompressStream(decoder_.get(), &out, &in_);
    if (ZSTD_isError(result)) return Damaged(Named(std::string("is bad: ") + ZSTD_getErrorName(result)));
    frameEnded_ = result == 0;
    decodedEnd_ = out.pos;
    if (!frameEnded_ && out.pos == 0 && in_.pos == consumed) return Damaged(Named("ends early"));
  }
  return Status();
}

Status PatchStream::Read(char* out, std::size_t size) {
  while (size > 0) {
    if (decodedAt_ == decodedEnd_) {
      Status refilled = Refill();
      if (!refilled.ok()) return refilled;
      if (decodedEnd_ == 0) return Damaged(Named("ends early"));
    }
    const std::size_t n = std::min(size, decodedEnd_ - decodedAt_);
    std::copy_n(decoded_.get() + decodedAt_, n, out);
    decodedAt_ += n;
    out += n;
    size -= n;
  }
  return Status();
}

Status PatchStream::ReadVarint(std::uint64_t& value) {
  value = 0;
  for (std::size_t i = 0; i < patch::kMaxVarintSize; ++i) {
    unsigned char byte = 0;
    Status read = Read(reinterpret_cast<char*>(&byte), 1);
    if (!read.ok()) return read;
    // The tenth byte holds the 64th bit only.
    if (i == patch::kMaxVarintSize - 1 && byte > 1) break;
    value |= std::uint64_t{byte & 0x7fu} << (7 * i);
    if (byte < 0x80) return Status();
  }
  return Damaged(Named("holds a number too large"));
}

Status PatchStream::ExpectEnd() {
  if (decodedAt_ == decodedEnd_ && !frameEnded_) {
    Status refilled = Refill();
    if (!refilled.ok()) return refilled;
  }
  if (decodedAt_ != decodedEnd_) return Damaged(Named("holds more than its steps use"));
  if (in_.pos != in_.size || left_ > 0) return Damaged(Named("is followed by bytes of no stream"));
  return Status();
}

// The base file, read through a window that moves with the steps.
class BaseReader {
 public:
  Status Open(const std::string& path, std::uint64_t size);
  // A view of size bytes (at most kBaseWindow) from position on; the caller
  // has checked that they lie inside the base.
  Status View(std::uint64_t position, std::size_t size, const char*& data);

 private:
  std::string path_;
  std::optional<os::File> file_;
  std::uint64_t size_ = 0;
  std::unique_ptr<char[]> window_;
  std::uint64_t windowStart_ = 0;
  std::size_t windowSize_ = 0;
};

Status BaseReader::Open(const std::string& path, std::uint64_t size) {
  path_ = path;
  size_ = size;
  if (Status opened = OpenAt(path, 0, file_); !opened.ok()) return opened;
  window_.reset(new char[kBaseWindow]);
  return Status();
}

Status BaseReader::View(std::uint64_t position, std::size_t size, const char*& data) {
  if (position < windowStart_ || position + size > windowStart_ + windowSize_) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kBaseWindow, size_ - position));
    windowStart_ = position;
    windowSize_ = 0;
    if (Status sought = file_->Seek(static_cast<std::int64_t>(position)); !sought.ok()) return CannotRead(path_, sought);
    if (Status read = ReadExactly(*file_, path_, window_.get(), want); !read.ok()) return read;
    windowSize_ = want;
  }
  data = window_.get() + (position - windowStart_);
  return Status();
}

// The result as it is made: written beside its target, hashed, counted.
class ResultWriter {
 public:
  ResultWriter(const std::string& target, FetchObserver* written, bool hashed)
      : target_(target), temp_(target), written_by_(written), hashed_(hashed) {}
  Status Open();
  Status Append(const char* data, std::size_t size);
  std::uint64_t Written() const { return written_; }
  // Writes the rest, checks the digest and puts the result in place.
  Status Finish(const std::string& digest);

 private:
  std::string target_;
  TempBeside temp_;
  std::optional<GatheredWriter> writer_;
  crypto::Blake2b hasher_{patch::kDigestSize};
  FetchObserver* written_by_;
  bool hashed_;
  std::uint64_t written_ = 0;
};

Status ResultWriter::Open() {
  if (!temp_.file()) return Status::Failed("cannot write beside " + target_, temp_.failure());
  // The caller's observer sees the result in the writer's own pieces.
  writer_.emplace(*temp_.file(), kGatherBytes, written_by_);
  if (written_by_) written_by_->Restart(true);
  return Status();
}

Status ResultWriter::Append(const char* data, std::size_t size) {
  if (hashed_) hasher_.Update(data, size);
  written_ += size;
  const Status appended = writer_->Append(data, size);
  return appended.ok() ? Status() : Status::Failed("cannot write beside " + target_, appended);
}

Status ResultWriter::Finish(const std::string& digest) {
  if (hashed_ && hasher_.Final() != digest) return Damaged("the result is not the one it was made for");
  // The result gets the bits a copy over the target would get: those of
  // the file it replaces, else by its first bytes.
  Status written = writer_->Flush();
  if (written.ok()) written = temp_.Close();
  if (written.ok()) written = os::SetPermissions(temp_.path(), PermissionsForWritten(target_, temp_.path()));
  if (!written.ok()) return Status::Failed("cannot write beside " + target_, written);
  if (Status placed = os::RenameReplace(temp_.path(), target_); !placed.ok())
    return Status::Failed("cannot put the result in place at " + target_, placed);
  temp_.Release();
  return Status();
}

}  // namespace

namespace {

// The patch's streams and the base, from which the steps make the result.
struct PatchSources {
  PatchStream streams[patch::kStreamCount] = {
      PatchStream(patch::kStreamNames[0]), PatchStream(patch::kStreamNames[1]),
      PatchStream(patch::kStreamNames[2]), PatchStream(patch::kStreamNames[3]),
      PatchStream(patch::kStreamNames[4])};
  BaseReader base;
};

// One step: a copy part from the base, then an extra part.
struct Step {
  std::uint64_t copy = 0;
  std::uint64_t extra = 0;
};

// Reads the next step and moves basePosition; refuses every value that
// would leave the base or write past the result's size.
Status ReadStep(PatchStream& control, const patch::Header& header, std::uint64_t written,
                std::uint64_t& basePosition, Step& step) {
  std::uint64_t move = 0;
  Status read = control.ReadVarint(move);
  if (read.ok()) read = control.ReadVarint(step.copy);
  if (read.ok()) read = control.ReadVarint(step.extra);
  if (!read.ok()) return read;
  const std::int64_t signedMove = patch::UnZigZag(move);
  const std::uint64_t distance =
      signedMove < 0 ? ~static_cast<std::uint64_t>(signedMove) + 1 : static_cast<std::uint64_t>(signedMove);
  if (signedMove < 0 ? distance > basePosition : distance > header.baseSize - basePosition)
    return Damaged("a step moves outside the base");
  basePosition = signedMove < 0 ? basePosition - distance : basePosition + distance;
  const std::uint64_t room = header.resultSize - written;
  if (step.copy > room || step.extra > room - step.copy) return Damaged("a step writes past the result's size");
  if (step.copy > header.baseSize - basePosition) return Damaged("a step reads past the end of the base");
  if (step.copy == 0 && step.extra == 0) return Damaged("a step writes nothing");
  return Status();
}

// Writes size base bytes from basePosition on, a block at a time, with the
// diff stream's differences added when they are changed.
Status WriteBaseRun(PatchSources& sources, std::uint64_t size, bool changed, std::uint64_t& basePosition,
                    ResultWriter& result, char* block) {
  for (std::uint64_t left = size; left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kStepBlock));
    const char* base = nullptr;
    Status status = sources.base.View(basePosition, n, base);
    if (status.ok() && changed) status = sources.streams[patch::kDiff].Read(block, n);
    if (!status.ok()) return status;
    if (changed)
      for (std::size_t i = 0; i < n; ++i) block[i] = static_cast<char>(block[i] + base[i]);
    if (status = result.Append(changed ? block : base, n); !status.ok()) return status;
    basePosition += n;
    left -= n;
  }
  return Status();
}

Status WriteExtra(PatchSources& sources, std::uint64_t size, ResultWriter& result, char* block) {
  for (std::uint64_t left = size; left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kStepBlock));
    Status status = sources.streams[patch::kExtra].Read(block, n);
    if (status.ok()) status = result.Append(block, n);
    if (!status.ok()) return status;
    left -= n;
  }
  return Status();
}

// Writes a step: its copy part run by run, unchanged and changed in turn,
// then its extra part.
Status MakeStep(PatchSources& sources, const Step& step, std::uint64_t& basePosition, ResultWriter& result,
                char* block) {
  bool changed = false;
  for (std::uint64_t left = step.copy; left > 0; changed = !changed) {
    std::uint64_t run = 0;
    Status status = sources.streams[changed ? patch::kChanged : patch::kUnchanged].ReadVarint(run);
    if (!status.ok()) return status;
    if (run > left || (changed && run == 0)) return Damaged("a run does not fit its step");
    if (status = WriteBaseRun(sources, run, changed, basePosition, result, block); !status.ok()) return status;
    left -= run;
  }
  return WriteExtra(sources, step.extra, result, block);
}

// Opens the streams and the base, then writes every step. The files are
// closed again on return, before the result takes its place.
Status MakeResult(const std::string& basePath, const std::string& patchPath, const patch::Header& header,
                  ResultWriter& result) {
  PatchSources sources;
  std::uint64_t offset = patch::kHeaderSize;
  for (std::size_t i = 0; i < patch::kStreamCount; ++i) {
    Status opened = sources.streams[i].Open(patchPath, offset, header.streamSizes[i]);
    if (!opened.ok()) return opened;
    offset += header.streamSizes[i];
  }
  if (Status opened = sources.base.Open(basePath, header.baseSize); !opened.ok()) return opened;
  std::unique_ptr<char[]> block(new char[kStepBlock]);
  std::uint64_t basePosition = 0;
  while (result.Written() < header.resultSize) {
    Step step;
    Status status = ReadStep(sources.streams[patch::kControl], header, result.Written(), basePosition, step);
    if (status.ok()) status = MakeStep(sources, step, basePosition, result, block.get());
    if (!status.ok()) return status;
  }
  for (PatchStream& stream : sources.streams) {
    Status ended = stream.ExpectEnd();
    if (!ended.ok()) return ended;
  }
  return Status();
}

// Whether the patch is whole and was made for this base and this result.
Status CheckFits(const std::string& basePath, const std::string& patchPath, const patch::Header& header,
                 std::uint64_t resultSize, bool checkBaseContent) {
  const os::FileInfo patchInfo = os::StatTarget(patchPath);
  std::uint64_t expected = patch::kHeaderSize;
  for (std::uint64_t size : header.streamSizes) expected += std::min<std::uint64_t>(size, UINT64_MAX / 4);
  if (static_cast<std::uint64_t>(patchInfo.size) != expected)
    return Damaged("it has " + std::to_string(patchInfo.size) + " bytes, its header names " +
                   std::to_string(expected));
  if (header.resultSize != resultSize)
    return Status::Error("the patch does not fit: it makes " + std::to_string(header.resultSize) +
                         " bytes, not " + std::to_string(resultSize));
  const os::FileInfo baseInfo = os::StatTarget(basePath);
  if (!baseInfo.exists || !baseInfo.isRegular) return Status::Error("cannot read " + basePath + ": not a file");
  if (static_cast<std::uint64_t>(baseInfo.size) != header.baseSize)
    return Status::Error("the patch does not fit " + basePath + ": it was made for " +
                         std::to_string(header.baseSize) + " bytes, not " + std::to_string(baseInfo.size));
  if (!checkBaseContent) return Status();
  const std::optional<std::string> digest = FileDigest(basePath);
  if (!digest) return Status::Error("cannot read " + basePath);
  if (*digest != header.baseDigest)
    return Status::Error("the patch does not fit " + basePath + ": it was made for other content");
  return Status();
}

}  // namespace

Status ReadPatchHeader(const std::string& patchPath, patch::Header& header) {
  StatusOr<os::File> file = os::File::Open(patchPath, os::OpenFor::Read);
  if (!file) return CannotRead(patchPath, file.status());
  std::string bytes(patch::kHeaderSize, '\0');
  const StatusOr<std::int64_t> got = ReadFull(*file, bytes.data(), bytes.size());
  if (!got) return CannotRead(patchPath, got.status());
  bytes.resize(static_cast<std::size_t>(*got));
  return patch::DecodeHeader(bytes, header);
}

Status ApplyPatch(const std::string& basePath, const std::string& patchPath, const std::string& resultPath,
                  std::uint64_t resultSize, const ApplyOptions& options) {
  patch::Header header;
  Status status = ReadPatchHeader(patchPath, header);
  if (status.ok()) status = CheckFits(basePath, patchPath, header, resultSize, !options.baseContentChecked);
  if (!status.ok()) return status;
  ResultWriter result(resultPath, options.written, !options.resultCheckedByCaller);
  status = result.Open();
  if (status.ok()) status = MakeResult(basePath, patchPath, header, result);
  if (status.ok()) status = result.Finish(header.resultDigest);
  return status;
}
