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

// The failure of a system call while expanding, with its cause.
Status SystemFailure(const Status& cause) { return Status::Failed("cannot expand it", cause); }

Status CopyWhole(os::File& in, os::File& out) {
  if (Status rewound = in.Seek(0); !rewound.ok()) return rewound;
  const std::unique_ptr<char[]> buffer(new char[kCopyBlock]);
  for (;;) {
    const StatusOr<std::int64_t> n = out.CopyFrom(in, buffer.get(), kCopyBlock);
    if (!n) return n.status();
    if (*n == 0) return Status();
  }
}

// Writes what source holds into out: expanded when it is SZDD, else as it is.
Status Fill(os::File& source, os::File& out, const SzddHeader& header) {
  if (!header.szdd) {
    const Status copied = CopyWhole(source, out);
    return copied.ok() ? copied : SystemFailure(copied);
  }
  if (!header.whole) return BadStream();
  const StatusOr<bool> expanded = os::ExpandSzdd(source, out);
  if (!expanded) return SystemFailure(expanded.status());
  if (!*expanded) return BadStream();
  return out.Size() == header.length ? Status() : BadStream();
}

// Makes the expanded file durable and puts it in target's place.
Status PutInPlace(TempBeside& temp, const std::string& target) {
  Status done = temp.Finish();
  if (done.ok()) done = os::SetPermissions(temp.path(), PermissionsForWritten(target, temp.path()));
  if (done.ok()) done = os::RenameReplace(temp.path(), target);
  if (!done.ok()) return SystemFailure(done);
  temp.Release();
  return Status();
}

}  // namespace

Status ExpandLzFile(const std::string& source, const std::string& target) {
  StatusOr<os::File> in = os::File::Open(source, os::OpenFor::ReadNoLink);
  if (!in) return SystemFailure(in.status());
  unsigned char head[kSzddHeaderSize] = {};
  const StatusOr<std::int64_t> headBytes =
      ReadFull(*in, reinterpret_cast<char*>(head), sizeof head);
  if (!headBytes) return SystemFailure(headBytes.status());

  TempBeside temp(target);
  if (!temp.file()) return SystemFailure(temp.failure());
  const SzddHeader header = HeaderOf(head, static_cast<std::size_t>(*headBytes));
  const Status filled = Fill(*in, *temp.file(), header);
  if (!filled.ok()) return filled;
  return PutInPlace(temp, target);
}
