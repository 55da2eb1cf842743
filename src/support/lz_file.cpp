#include "support/lz_file.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/os.h"
#include "support/temp_beside.h"

namespace {

constexpr unsigned char kSzddSignature[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
constexpr std::size_t kSzddHeaderSize = 14;  // signature, mode, missing character, length
constexpr std::size_t kLengthOffset = 10;
constexpr std::size_t kCopyBlock = 1 << 20;

// What the first bytes of a file say about it.
struct SzddHeader {
  bool szdd = false;        // it starts with the SZDD signature
  bool whole = false;       // the whole header is there
  std::int64_t length = 0;  // the expanded length the header announces
};

SzddHeader HeaderOf(const unsigned char* bytes, std::size_t size) {
  SzddHeader header;
  header.szdd = size >= sizeof kSzddSignature &&
                std::memcmp(bytes, kSzddSignature, sizeof kSzddSignature) == 0;
  header.whole = size >= kSzddHeaderSize;
  if (header.whole) {
    for (int i = 3; i >= 0; --i) header.length = header.length << 8 | bytes[kLengthOffset + i];
  }
  return header;
}

Status BadStream() { return Status::Error("not a whole compressed file"); }

// The system's cause of the failure that just happened.
Status SystemFailure() {
  const std::string cause = os::LastErrorText();
  return cause.empty() ? BadStream() : Status::Failed("cannot expand it", cause);
}

bool CopyWhole(os::File& in, os::File& out) {
  if (!in.Seek(0)) return false;
  const std::unique_ptr<char[]> buffer(new char[kCopyBlock]);
  for (;;) {
    const std::int64_t n = out.CopyFrom(in, buffer.get(), kCopyBlock);
    if (n <= 0) return n == 0;
  }
}

// Writes what source holds into out: expanded when it is SZDD, else as it is.
Status Fill(os::File& source, os::File& out, const SzddHeader& header) {
  if (!header.szdd) return CopyWhole(source, out) ? Status() : SystemFailure();
  if (!header.whole) return BadStream();
  if (!os::ExpandSzdd(source, out)) return SystemFailure();
  return out.Size() == header.length ? Status() : BadStream();
}

}  // namespace

Status ExpandLzFile(const std::string& source, const std::string& target) {
  std::optional<os::File> in = os::File::Open(source, os::OpenFor::ReadNoLink);
  if (!in) return SystemFailure();
  unsigned char head[kSzddHeaderSize] = {};
  const std::int64_t headBytes = ReadFull(*in, reinterpret_cast<char*>(head), sizeof head);
  if (headBytes < 0) return SystemFailure();

  TempBeside temp(target);
  if (!temp.file()) return SystemFailure();
  const SzddHeader header = HeaderOf(head, static_cast<std::size_t>(headBytes));
  const Status filled = Fill(*in, *temp.file(), header);
  if (!filled.ok()) return filled;
  if (!temp.Finish() || !os::SetPermissions(temp.path(), PermissionsForWritten(target, temp.path())) ||
      !os::RenameReplace(temp.path(), target))
    return SystemFailure();
  temp.Release();
  return Status();
}
