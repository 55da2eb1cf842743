#include "support/temp_beside.h"

#include "support/strfn.h"

TempBeside::TempBeside(const std::string& target) {
  static unsigned serial = 0;
  const std::string name = FileNameOf(target);
  const std::string dir = target.substr(0, target.size() - name.size());
  const std::string base = "." + name.substr(0, 200) + std::string(kTempMark);
  for (int attempt = 0; attempt < 8 && !made_; ++attempt) {
    path_ = dir + base + std::to_string((os::TickMs() + ++serial * 7919) % 1000000) +
            std::string(kTempExt);
    StatusOr<os::File> file = os::File::Open(path_, os::OpenFor::CreateNew, 0600);
    made_ = file.ok();
    failure_ = file.status();
    if (made_) file_ = std::move(*file);
  }
}

TempBeside::~TempBeside() {
  if (!made_) return;
  file_.Close();
  // Windows removes no read-only file: one made read-only for its target
  // is made writable first.
  if (!os::RemoveFile(path_).ok() && os::SetPermissions(path_, 0600).ok()) os::RemoveFile(path_);
}

Status TempBeside::Finish() {
  const Status synced = file_.Sync();
  const Status closed = file_.Close();
  return synced.ok() ? closed : synced;
}

std::string TempBeside::Release() {
  file_.Close();
  made_ = false;
  return path_;
}

StatusOr<std::int64_t> ReadFull(os::File& file, char* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const StatusOr<std::int64_t> n = file.Read(buffer + got, size - got);
    if (!n) return n;
    if (*n == 0) break;
    got += static_cast<std::size_t>(*n);
  }
  return static_cast<std::int64_t>(got);
}

std::uint32_t PermissionsForTarget(const os::FileInfo& replaced, const char* head,
                                   std::size_t size) {
  return replaced.exists && replaced.isRegular ? replaced.permissions
                                               : os::NewFilePermissions(head, size);
}

std::uint32_t PermissionsForWritten(const std::string& target, const std::string& written) {
  char head[4] = {};
  StatusOr<os::File> file = os::File::Open(written, os::OpenFor::Read);
  const StatusOr<std::int64_t> n = file ? ReadFull(*file, head, sizeof head) : std::int64_t{0};
  return PermissionsForTarget(os::StatPath(target), head, n && *n > 0 ? static_cast<std::size_t>(*n) : 0);
}
