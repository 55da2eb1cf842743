// LZ expansion of MS COMPRESS "SZDD" files (what LZCopy expands) through
// libmspack. The result is written to a temporary file beside the target and
// renamed over it only when it is complete: the decoder reports success on a
// truncated stream and ignores the length in the header, so the expanded size
// is checked against that length here (mend: a truncated .ex_ would otherwise
// be installed as a corrupt executable).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <mspack.h>

#include "platform/os.h"

namespace os {
namespace {

constexpr unsigned char kSzddSignature[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
constexpr std::size_t kSzddHeaderSize = 14;  // signature, mode, missing char, length
constexpr std::size_t kCopyBlock = 1 << 20;

// An open descriptor, closed when the object goes.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool Close() {
    if (fd_ < 0) return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
  }

 private:
  int fd_;
};

std::int64_t ReadFull(int fd, void* buffer, std::size_t size, off_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, size - done,
                              offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

bool WriteFull(int fd, const void* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, static_cast<const char*>(data) + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// libmspack reads and writes through descriptors opened here, so the source
// is the very file that was checked (no second open by name, no followed
// link). The "file name" handed to the decoder is the address of a Stream.
// The decoder writes its output one byte at a time, so writes are gathered.
struct Stream {
  int fd;
  std::string pending;
  bool failed = false;

  bool Flush() {
    failed = failed || !WriteFull(fd, pending.data(), pending.size());
    pending.clear();
    return !failed;
  }
};

mspack_file* StreamOpen(mspack_system*, const char* name, int) {
  auto* stream = reinterpret_cast<Stream*>(const_cast<char*>(name));
  if (::lseek(stream->fd, 0, SEEK_SET) < 0) return nullptr;
  return reinterpret_cast<mspack_file*>(stream);
}
void StreamClose(mspack_file*) {}  // the descriptors belong to the caller
int StreamRead(mspack_file* file, void* buffer, int bytes) {
  const int fd = reinterpret_cast<Stream*>(file)->fd;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, static_cast<std::size_t>(bytes));
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? -1 : static_cast<int>(n);
  }
}
int StreamWrite(mspack_file* file, void* buffer, int bytes) {
  auto* stream = reinterpret_cast<Stream*>(file);
  stream->pending.append(static_cast<const char*>(buffer), static_cast<std::size_t>(bytes));
  if (stream->pending.size() >= kCopyBlock && !stream->Flush()) return -1;
  return stream->failed ? -1 : bytes;
}
int StreamSeek(mspack_file* file, off_t offset, int mode) {
  auto* stream = reinterpret_cast<Stream*>(file);
  const int whence = mode == MSPACK_SYS_SEEK_START ? SEEK_SET
                     : mode == MSPACK_SYS_SEEK_CUR ? SEEK_CUR
                                                   : SEEK_END;
  return stream->Flush() && ::lseek(stream->fd, offset, whence) >= 0 ? 0 : -1;
}
off_t StreamTell(mspack_file* file) {
  auto* stream = reinterpret_cast<Stream*>(file);
  return stream->Flush() ? ::lseek(stream->fd, 0, SEEK_CUR) : -1;
}
void StreamMessage(mspack_file*, const char*, ...) {}
void* StreamAlloc(mspack_system*, std::size_t bytes) { return std::malloc(bytes); }
void StreamFree(void* p) { std::free(p); }
void StreamCopy(void* src, void* dst, std::size_t bytes) { std::memmove(dst, src, bytes); }

mspack_system kFdSystem = {StreamOpen, StreamClose,   StreamRead,  StreamWrite,
                           StreamSeek, StreamTell,    StreamMessage, StreamAlloc,
                           StreamFree, StreamCopy,    nullptr};

// Expands the SZDD stream of in into out; true when the decoder reports no
// error and out holds exactly the length the header announces.
bool ExpandSzdd(int in, int out) {
  int selftest = MSPACK_ERR_OK;
  MSPACK_SYS_SELFTEST(selftest);
  if (selftest != MSPACK_ERR_OK) return false;
  msszdd_decompressor* decoder = mspack_create_szdd_decompressor(&kFdSystem);
  if (!decoder) return false;
  Stream source{in, {}};
  Stream target{out, {}};
  target.pending.reserve(kCopyBlock);
  bool ok = false;
  if (msszddd_header* header = decoder->open(decoder, reinterpret_cast<const char*>(&source))) {
    const off_t expected = header->length;
    ok = header->format == MSSZDD_FMT_NORMAL &&
         decoder->extract(decoder, header, reinterpret_cast<const char*>(&target)) == MSPACK_ERR_OK &&
         target.Flush();
    decoder->close(decoder, header);
    struct stat st{};
    ok = ok && ::fstat(out, &st) == 0 && st.st_size == expected;
  }
  mspack_destroy_szdd_decompressor(decoder);
  return ok;
}

bool CopyUnchanged(int in, int out) {
  std::string buffer(kCopyBlock, '\0');
  off_t offset = 0;
  for (;;) {
    const std::int64_t n = ReadFull(in, buffer.data(), buffer.size(), offset);
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteFull(out, buffer.data(), static_cast<std::size_t>(n))) return false;
    offset += static_cast<off_t>(n);
  }
}

// Permission bits for the expanded file: those of a target it replaces,
// else by its first bytes (a program stays executable).
std::uint32_t TargetPermissions(const std::string& target, int out) {
  struct stat st{};
  if (::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  unsigned char head[4] = {};
  const std::int64_t n = ReadFull(out, head, sizeof head, 0);
  return NewFilePermissions(head, n > 0 ? static_cast<std::size_t>(n) : 0);
}

}  // namespace

bool LzExpandFile(const std::string& source, const std::string& target) {
  // A stream that does not decode leaves no system error behind; one that
  // cannot be written does (LastErrorText tells which).
  errno = 0;
  Fd in(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st{};
  if (in.get() < 0 || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;

  unsigned char header[kSzddHeaderSize] = {};
  const std::int64_t headerBytes = ReadFull(in.get(), header, sizeof header, 0);
  if (headerBytes < 0) return false;
  const bool szdd = headerBytes >= static_cast<std::int64_t>(sizeof kSzddSignature) &&
                    std::memcmp(header, kSzddSignature, sizeof kSzddSignature) == 0;

  std::string temp = target + ".lz~XXXXXX";
  Fd out(::mkostemp(temp.data(), O_CLOEXEC));
  if (out.get() < 0) return false;
  bool ok = szdd ? ExpandSzdd(in.get(), out.get()) : CopyUnchanged(in.get(), out.get());
  ok = ok && ::fchmod(out.get(), TargetPermissions(target, out.get())) == 0;
  ok = ok && ::fsync(out.get()) == 0;
  ok = out.Close() && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    const int code = errno;
    ::unlink(temp.c_str());
    errno = code;
  }
  return ok;
}

}  // namespace os
