// The SZDD decoder on Linux: libmspack's, reading and writing through the
// program's open files. The container around it (header, length check, the
// file beside the target) is portable: support/lz_file.cpp.

#include <cerrno>
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
// gathered.
struct Stream {
  File* file;
  std::string pending;
  bool failed = false;

  bool Flush() {
    failed = failed || !file->Write(pending.data(), pending.size());
    pending.clear();
    return !failed;
  }
};

Stream* StreamOf(mspack_file* file) { return reinterpret_cast<Stream*>(file); }

mspack_file* StreamOpen(mspack_system*, const char* name, int) {
  auto* stream = reinterpret_cast<Stream*>(const_cast<char*>(name));
  return stream->file->Seek(0) ? reinterpret_cast<mspack_file*>(stream) : nullptr;
}
void StreamClose(mspack_file*) {}  // the files belong to the caller
int StreamRead(mspack_file* file, void* buffer, int bytes) {
  return static_cast<int>(StreamOf(file)->file->Read(buffer, static_cast<std::size_t>(bytes)));
}
int StreamWrite(mspack_file* file, void* buffer, int bytes) {
  Stream* stream = StreamOf(file);
  stream->pending.append(static_cast<const char*>(buffer), static_cast<std::size_t>(bytes));
  if (stream->pending.size() >= kWriteBlock && !stream->Flush()) return -1;
  return stream->failed ? -1 : bytes;
}
int StreamSeek(mspack_file* file, off_t offset, int mode) {
  Stream* stream = StreamOf(file);
  if (!stream->Flush()) return -1;
  const std::int64_t base = mode == MSPACK_SYS_SEEK_START ? 0
                            : mode == MSPACK_SYS_SEEK_CUR ? stream->file->Position()
                                                          : stream->file->Size();
  return base >= 0 && stream->file->Seek(base + offset) ? 0 : -1;
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

bool ExpandSzdd(File& source, File& target) {
  // A stream that does not decode leaves no system error behind.
  errno = 0;
  int selftest = MSPACK_ERR_OK;
  MSPACK_SYS_SELFTEST(selftest);
  if (selftest != MSPACK_ERR_OK) return false;
  msszdd_decompressor* decoder = mspack_create_szdd_decompressor(&kFileSystem);
  if (!decoder) return false;
  Stream in{&source, {}};
  Stream out{&target, {}};
  out.pending.reserve(kWriteBlock);
  bool ok = false;
  if (msszddd_header* header = decoder->open(decoder, reinterpret_cast<const char*>(&in))) {
    ok = header->format == MSSZDD_FMT_NORMAL &&
         decoder->extract(decoder, header, reinterpret_cast<const char*>(&out)) == MSPACK_ERR_OK &&
         out.Flush();
    decoder->close(decoder, header);
  }
  mspack_destroy_szdd_decompressor(decoder);
  return ok;
}

}  // namespace os
