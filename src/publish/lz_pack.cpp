#include "publish/lz_pack.h"

#include "platform/os.h"
#include "support/fileutil.h"
#include "support/lz_file.h"
#include "support/strfn.h"

namespace {

constexpr std::int64_t kSmallestPackable = 16;

// Packs source into target with mscompress, which writes NAME_ beside its input.
Status Compress(const std::string& source, const std::string& target, const std::string& scratch) {
  const std::string input = scratch + "input";
  const Status copied = CopyFileBuffered(source, input, false, kCopyBufferSize, nullptr);
  if (!copied.ok()) return copied;
  int exitCode = -1;
  const Status ran = os::RunAndWait({"mscompress", input}, exitCode);
  os::RemoveFile(input);
  if (!ran.ok()) return Status::Failed("cannot pack " + source, ran.message() + " (Debian package mscompress)");
  if (exitCode != 0 || !os::RenameReplace(input + "_", target).ok()) {
    os::RemoveFile(input + "_");
    return Status::Error("cannot pack " + source + ": mscompress failed (exit code " + std::to_string(exitCode) + ")");
  }
  return Status();
}

}  // namespace

Status PackForUpdate(const std::string& source, const std::string& target, const std::string& scratchDir) {
  const std::string scratch = WithTrailingDelimiter(scratchDir);
  const Status packed = FileSize64(source) < kSmallestPackable
                            ? CopyFileBuffered(source, target, false, kCopyBufferSize, nullptr)
                            : Compress(source, target, scratch);
  if (!packed.ok()) return packed;
  const std::string check = scratch + "expanded";
  const Status expanded = ExpandLzFile(target, check);
  const bool same = expanded.ok() && FilesEqual(check, source);
  os::RemoveFile(check);
  if (same) return Status();
  os::RemoveFile(target);
  return Status::Failed("packing " + source + " gave a file that does not expand to it", expanded.message());
}
