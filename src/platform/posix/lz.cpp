// The SZDD decoder on Linux: libmspack's, reading and writing through the
// program's open files. The container around it (header, length check, the
// file beside the target) is portable: support/lz_file.cpp.

#include <cstdlib>
#include <cstring>
#include <string>

#include <mspack.h>

#include "platform/os.h"

namespace os {
namespace {

constexpr std::size_t kWriteBlock = 1 << 20;

// libmspack reads and writes through files opened by the caller, so the
// source is the very file that was checked (no second open by name, no
// followed link). The "file name" handed to the decoder is the address of a
// Stream. The decoder writes its output one byte at a time, so writes are
// gathered. The first failure of the file's calls is kept: it is the cause
// of the decoder's.
struct Stream {
  File* file;
  std::string pending;
  Status failure;

  // Keeps the first failure; whether status is OK.
  bool Note(const Status& status) {
    if (failure.ok()) failure = status;
    return status.ok();
  }
  bool Flush() {
    if (failure.ok()) Note(file->Write(pending.data(), pending.size()));
    pending.clear();
    return failure.ok();
  }
};

Stream* StreamOf(mspack_file* file) { return reinterpret_cast<Stream*>(file); }

mspack_file* StreamOpen(mspack_system*, const char* name, int) {
  auto* stream = reinterpret_cast<Stream*>(const_cast<char*>(name));
  return stream->Note(stream->file->Seek(0)) ? reinterpret_cast<mspack_file*>(stream) : nullptr;
}
void StreamClose(mspack_file*) {}  // the files belong to the caller
int StreamRead(mspack_file* file, void* buffer, int bytes) {
  Stream* stream = StreamOf(file);
  const StatusOr<std::int64_t> n = stream->file->Read(buffer, static_cast<std::size_t>(bytes));
  return stream->Note(n.status()) ? static_cast<int>(*n) : -1;
}
int StreamWrite(mspack_file* file, void* buffer, int bytes) {
  Stream* stream = StreamOf(file);
  stream->pending.append(static_cast<const char*>(buffer), static_cast<std::size_t>(bytes));
  if (stream->pending.size() >= kWriteBlock && !stream->Flush()) return -1;
  return stream->failure.ok() ? bytes : -1;
}
int StreamSeek(mspack_file* file, off_t offset, int mode) {
  Stream* stream = StreamOf(file);
  if (!stream->Flush()) return -1;
  const std::int64_t base = mode == MSPACK_SYS_SEEK_START ? 0
                            : mode == MSPACK_SYS_SEEK_CUR ? stream->file->Position()
                                                          : stream->file->Size();
  return base >= 0 && stream->Note(stream->file->Seek(base + offset)) ? 0 : -1;
}
off_t StreamTell(mspack_file* file) {
  Stream* stream = StreamOf(file);
  return stream->Flush() ? static_cast<off_t>(stream->file->Position()) : -1;
}
void StreamMessage(mspack_file*, const char*, ...) {}
void* StreamAlloc(mspack_system*, std::size_t bytes) { return std::malloc(bytes); }
void StreamFree(void* p) { std::free(p); }
void StreamCopy(void* src, void* dst, std::size_t bytes) { std::memmove(dst, src, bytes); }

mspack_system kFileSystem = {StreamOpen, StreamClose,   StreamRead,  StreamWrite,
                             StreamSeek, StreamTell,    StreamMessage, StreamAlloc,
                             StreamFree, StreamCopy,    nullptr};

}  // namespace

StatusOr<bool> ExpandSzdd(File& source, File& target) {
  int selftest = MSPACK_ERR_OK;
  MSPACK_SYS_SELFTEST(selftest);
  if (selftest != MSPACK_ERR_OK) return Status::Error("the decoder does not work on this system");
  msszdd_decompressor* decoder = mspack_create_szdd_decompressor(&kFileSystem);
  if (!decoder) return Status::Error("the decoder does not start");
  Stream in{&source, {}, {}};
  Stream out{&target, {}, {}};
  out.pending.reserve(kWriteBlock);
  bool ok = false;
  if (msszddd_header* header = decoder->open(decoder, reinterpret_cast<const char*>(&in))) {
    ok = header->format == MSSZDD_FMT_NORMAL &&
         decoder->extract(decoder, header, reinterpret_cast<const char*>(&out)) == MSPACK_ERR_OK &&
         out.Flush();
    decoder->close(decoder, header);
  }
  mspack_destroy_szdd_decompressor(decoder);
  // A stream that does not decode is no failure of the system.
  if (!in.failure.ok()) return in.failure;
  if (!out.failure.ok()) return out.failure;
  return ok;
}

}  // namespace os
