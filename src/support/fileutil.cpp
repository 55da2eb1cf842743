#include "support/fileutil.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "platform/os.h"
#include "support/contexts.h"
#include "support/strfn.h"
#include "support/temp_beside.h"
#include "support/textfile.h"
#include "support/ui_hooks.h"

namespace {

constexpr std::size_t kChecksumBlock = 32768;
constexpr std::size_t kCompareBlock = 524288;
constexpr std::int64_t kRetryPauseMs = 50;
constexpr std::int64_t kWriteBehind = 4 << 20;  // bytes copied between flush starts

// Index where the file name of a path begins (after the last delimiter).
std::size_t NameStart(const std::string& path) {
  for (std::size_t i = path.size(); i > 0; --i)
    if (IsPathDelim(path[i - 1])) return i;
  return 0;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty() || IsPathDelim(dir.back())) return dir + name;
  return dir + kPathDelim + name;
}

// A directory text without trailing delimiters ("/" stays), for comparing.
std::string DirKey(std::string dir) {
  while (dir.size() > 1 && IsPathDelim(dir.back())) dir.pop_back();
  return os::kConventions.namesIgnoreCase ? UpStr(dir) : dir;
}

// "*" and "*.*" mean every file, as on Windows; other masks match without
// regard to case.
bool NameMatches(const std::string& name, const std::string& pattern) {
  if (pattern.empty() || pattern == "*" || pattern == "*.*") return true;
  return WildMatch(UpStr(name), UpStr(pattern));
}

// Names of the ordinary, non-hidden files matching a mask, sorted.
std::vector<std::string> MatchingFiles(const std::string& mask) {
  const std::size_t start = NameStart(mask);
  const std::string pattern = mask.substr(start);
  std::vector<std::string> names;
  for (const auto& e : os::ListDirectory(mask.substr(0, start)))
    if (e.isRegular && !e.isHidden && NameMatches(e.name, pattern)) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

std::unique_ptr<char[]> Allocate(std::size_t size) {
  return std::unique_ptr<char[]>(new (std::nothrow) char[size]);
}

struct CopySettings {
  bool keepDate;
  std::size_t bufferSize;
  CopyAbortCallback abortCallback;
  bool replaceInUse;
  bool flush;  // the copy reaches the disk before it takes the target's place
};

std::string& ProgramNameText() {
  static std::string name;
  return name;
}

int pumpDepth = 0;

}  // namespace

// The program's own checksum: a running sum mixed, byte by byte, with the
// run-time library's linear congruential generator reseeded from the sum.
void StreamChecksum::Feed(const unsigned char* p, std::size_t n) {
  std::int64_t s = sum_;
  std::uint32_t seed = seed_;
  std::uint32_t count = count_;
  for (const unsigned char* end = p + n; p != end; ++p) {
    if (s > 9999999) s = -4;
    if (s < -9999999) s = 4;
    s += static_cast<std::int64_t>(count) + *p;
    seed = seed * 134775813u + 1u;
    s += static_cast<std::int64_t>((std::uint64_t{seed} * 99999999u) >> 32);
    seed = static_cast<std::uint32_t>(s);
    if (++count == 999999999u) count = 0;
  }
  sum_ = s;
  seed_ = seed;
  count_ = count;
}

std::int32_t StreamChecksum::Reduced(std::int64_t s) {
  while (s < -999999999) s += 999999999;
  while (s > 999999999) s -= 999999999;
  return static_cast<std::int32_t>(s % 999999999);
}

std::int32_t NoChecksum() {
  return kNoChecksum;
}

std::int32_t FileSizeOf(const std::string& path) {
  auto file = os::File::Open(path, os::OpenFor::Read);
  const std::int64_t size = file ? file->Size() : -1;
  if (size < 0) return 0;
  return static_cast<std::int32_t>(std::min<std::int64_t>(size, INT32_MAX));
}

std::int64_t FileSize64(const std::string& path) {
  auto file = os::File::Open(path, os::OpenFor::Read);
  const std::int64_t size = file ? file->Size() : -1;
  return size < 0 ? 0 : size;
}

std::int32_t ChecksumOfBytes(std::string_view bytes) {
  StreamChecksum sum;
  sum.Feed(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  return sum.Result();
}

StatusOr<std::int32_t> FileChecksumOf(const std::string& path) {
  auto file = os::File::Open(path, os::OpenFor::Read);
  if (!file) return file.status();
  StreamChecksum sum;
  std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[kChecksumBlock]);
  if (!block) return Status::Error("out of memory");
  for (;;) {
    const StatusOr<std::int64_t> n = file->Read(block.get(), kChecksumBlock);
    if (!n) return n.status();
    if (*n == 0) break;
    sum.Feed(block.get(), static_cast<std::size_t>(*n));
  }
  return sum.Result();
}

std::int32_t FileChecksum(const std::string& path) { return FileChecksumOf(path).value_or(0); }

bool FileExists(const std::string& path) {
  return os::FileExists(path);
}

Status FileOpenable(const std::string& path) {
  return os::CanOpen(path, FileOpenMode() != 0);
}

Status DeleteFileChecked(const std::string& path) {
  if (Status openable = FileOpenable(path); !openable.ok()) return openable;
  return os::RemoveFile(path);
}

bool RenameFileChecked(const std::string& oldPath, const std::string& newPath) {
  return os::RenameNoReplace(oldPath, newPath).ok();
}

std::int64_t FileDate(const std::string& path) {
  // The date of what the path leads to: that is the date a touch changes.
  const os::FileInfo info = os::StatTarget(path);
  return info.exists && !info.isDirectory ? info.modifiedSeconds : -1;
}

namespace {

// OK when the file at path can be written now: it is a file (not a
// directory, not missing) that no other process holds.
Status Writable(const std::string& path) {
  return os::CanOpen(path, true);
}

// Why the file at path has no date: it is missing or a directory.
Status WhyNoDate(const std::string& path) {
  const Status writable = Writable(path);
  return writable.ok() ? Status::Error("it has no date") : writable;
}

// Creates or truncates the file at path unless another process uses it.
Status CreateEmptyOnce(const std::string& path) {
  // A file in use elsewhere is not truncated under its user.
  if (os::StatPath(path).exists) {
    if (Status writable = Writable(path); !writable.ok()) return writable;
  }
  StatusOr<os::File> file = os::File::Open(path, os::OpenFor::CreateTruncate);
  return file ? file->Close() : file.status();
}

}  // namespace

Status SetFileDateChecked(const std::string& path, std::int64_t date) {
  const std::int64_t current = FileDate(path);
  if (current < 0) return WhyNoDate(path);
  if (current != date) {
    if (Status writable = Writable(path); !writable.ok()) return writable;
    if (Status set = os::SetModifiedSeconds(path, date); !set.ok()) return set;
  }
  if (FileDate(path) != date) return Status::Error("the file system keeps another date");
  return Status();
}

Status TouchFile(const std::string& path, bool createIfMissing) {
  if (FileDate(path) < 0) return createIfMissing ? CreateEmptyFile(path) : WhyNoDate(path);
  if (Status writable = Writable(path); !writable.ok()) return writable;
  return os::SetModifiedNow(path);
}

Status CheckTouchable(const std::string& path) {
  const std::int64_t before = FileDate(path);
  if (before < 0) return WhyNoDate(path);
  const Status touched = TouchFile(path, false);
  const Status restored = SetFileDateChecked(path, before);
  return touched.ok() ? restored : touched;
}

Status CreateEmptyFile(const std::string& path) {
  for (int attempt = 1;; ++attempt) {
    const Status created = CreateEmptyOnce(path);
    if (created.ok() || attempt == 3) return created;
    os::SleepMs(100);
  }
}

bool FilesEqual(const std::string& a, const std::string& b) {
  auto fa = os::File::Open(a, os::OpenFor::Read);
  auto fb = os::File::Open(b, os::OpenFor::Read);
  if (!fa || !fb) return false;
  const std::int64_t size = fa->Size();
  if (size < 0 || size != fb->Size()) return false;
  auto ba = Allocate(kCompareBlock);
  auto bb = Allocate(kCompareBlock);
  if (!ba || !bb) return false;
  for (;;) {
    const StatusOr<std::int64_t> na = ReadFull(*fa, ba.get(), kCompareBlock);
    const StatusOr<std::int64_t> nb = ReadFull(*fb, bb.get(), kCompareBlock);
    if (!na || !nb || *na != *nb) return false;
    if (std::memcmp(ba.get(), bb.get(), static_cast<std::size_t>(*na)) != 0) return false;
    if (*na < static_cast<std::int64_t>(kCompareBlock)) return true;
  }
}

Status CopyFileBuffered(const std::string& source, const std::string& target, bool keepDate,
                        std::size_t bufferSize, const CopyAbortCallback& abortCallback) {
  return CopyFileOver(source, target, keepDate, bufferSize, abortCallback, false);
}

namespace {

// Copies the rest of in after a first block of `first` bytes, block by
// block, inside the kernel where it can; with how.flush the disk starts
// writing behind the copy, so the final flush waits less. Cancel is asked
// after every block.
Status CopyRest(os::File& in, os::File& out, char* buffer, std::size_t bufferSize,
                std::int64_t first, const CopySettings& how, const std::string& target) {
  const auto& abort = how.abortCallback;
  const Status stopped = Status::Error("the copy was stopped");
  if (abort && abort()) return stopped;
  std::int64_t written = first;
  std::int64_t flushedTo = 0;
  // A short first block was the whole file; later blocks may come short
  // before the end, so only 0 ends the copy.
  for (bool more = first == static_cast<std::int64_t>(bufferSize); more;) {
    const StatusOr<std::int64_t> n = out.CopyFrom(in, buffer, bufferSize);
    if (!n) return Status::Failed("cannot write beside " + target, n.status());
    if (*n == 0) break;
    written += *n;
    if (how.flush && written - flushedTo >= kWriteBehind) {
      out.BeginSync(flushedTo, written - flushedTo);
      flushedTo = written;
    }
    if (abort && abort()) return stopped;
  }
  return Status();
}

// Opens the source of a copy and tells what it is (from). Only an ordinary
// file is copied, also when a link leads to it (a settings file is often
// one); a directory is not.
StatusOr<os::File> OpenCopySource(const std::string& source, os::FileInfo& from) {
  StatusOr<os::File> in = os::File::Open(source, os::OpenFor::Read);
  if (!in) return Status::Failed("cannot read " + source, in.status());
  from = os::StatTarget(source);
  if (!from.isRegular) return Status::Error("cannot read " + source);
  return in;
}

// Whether a copy may take target's place: not over a directory, and
// unless replaceInUse not over a file in use (as on Windows).
Status CheckCopyTarget(const std::string& target, const os::FileInfo& to, bool replaceInUse) {
  if (to.isDirectory) return Status::Error(target + " is a directory");
  if (!to.exists || !to.isRegular || replaceInUse) return Status();
  const Status writable = os::CanOpen(target, true);
  return writable.ok() ? writable : Status::Failed(target + " is in use", writable);
}

// The finished copy's permission bits (and with keepDate the source's
// date), once it is flushed (how.flush) or closed.
Status FinishCopy(TempBeside& temp, std::uint32_t permissions, const CopySettings& how,
                  std::int64_t date, const std::string& target) {
  Status done = how.flush ? temp.Finish() : temp.Close();
  if (done.ok()) done = os::SetPermissions(temp.path(), permissions);
  if (!done.ok()) return Status::Failed("cannot write beside " + target, done);
  if (!how.keepDate) return Status();
  const Status dated = os::SetModifiedSeconds(temp.path(), date);
  return dated.ok() ? dated : Status::Failed("cannot date " + target, dated);
}

// Copies source into a new file beside target, with the permission bits the
// target will need (and the source's date with keepDate), flushed to the
// disk with flush. Sets copy to the new file's path; on failure the cause,
// with nothing left behind.
Status CopyBeside(const std::string& source, const std::string& target, const CopySettings& how,
                  std::string& copy) {
  os::FileInfo from;
  StatusOr<os::File> in = OpenCopySource(source, from);
  if (!in) return in.status();

  std::size_t bufferSize = how.bufferSize;
  std::unique_ptr<char[]> buffer;
  for (; bufferSize > 1 && !(buffer = Allocate(bufferSize)); bufferSize /= 2) {
  }
  if (!buffer) return Status::Error("out of memory");

  // An existing target's permission bits carry over. A link at the target
  // is replaced, never written through.
  const os::FileInfo to = os::StatPath(target);
  if (Status replaceable = CheckCopyTarget(target, to, how.replaceInUse); !replaceable.ok())
    return replaceable;

  const StatusOr<std::int64_t> n = ReadFull(*in, buffer.get(), bufferSize);
  if (!n) return Status::Failed("cannot read " + source, n.status());
  const std::uint32_t permissions =
      PermissionsForTarget(to, buffer.get(), static_cast<std::size_t>(*n));

  // The copy goes to a temporary file that takes the target's place only
  // when complete, so a failed copy never leaves a truncated target.
  TempBeside temp(target);
  os::File* out = temp.file();
  if (!out) return Status::Failed("cannot create a file beside " + target, temp.failure());
  if (Status written = out->Write(buffer.get(), static_cast<std::size_t>(*n)); !written.ok())
    return Status::Failed("cannot write beside " + target, written);
  const Status rest = CopyRest(*in, *out, buffer.get(), bufferSize, *n, how, target);
  if (!rest.ok()) return rest;
  if (Status finished = FinishCopy(temp, permissions, how, from.modifiedSeconds, target);
      !finished.ok())
    return finished;
  copy = temp.Release();
  return Status();
}

// Renames a finished copy over its target; a copy that cannot take its
// place is removed.
Status PutInPlace(const std::string& copy, const std::string& target) {
  const Status renamed = os::RenameReplace(copy, target);
  if (renamed.ok()) return renamed;
  os::RemoveFile(copy);
  return Status::Failed("cannot replace " + target, renamed);
}

}  // namespace

Status CopyFileOver(const std::string& source, const std::string& target, bool keepDate,
                    std::size_t bufferSize, const CopyAbortCallback& abortCallback,
                    bool replaceInUse) {
  try {
    const CopySettings how{keepDate, bufferSize, abortCallback, replaceInUse, true};
    std::string copy;
    const Status copied = CopyBeside(source, target, how, copy);
    return copied.ok() ? PutInPlace(copy, target) : copied;
  } catch (...) {
    return Status::Error("the copy of " + source + " failed");
  }
}

CopyBatch::~CopyBatch() {
  for (const auto& [copy, target] : staged_) os::RemoveFile(copy);
}

Status CopyBatch::Add(const std::string& source, const std::string& target,
                     const CopyAbortCallback& abortCallback) {
  try {
    const CopySettings how{false, kCopyBufferSize, abortCallback, false, false};
    std::string copy;
    const Status copied = CopyBeside(source, target, how, copy);
    if (copied.ok()) staged_.emplace_back(std::move(copy), target);
    return copied;
  } catch (...) {
    return Status::Error("the copy of " + source + " failed");
  }
}

Status CopyBatch::Commit() {
  std::vector<std::string> copies;
  for (const auto& [copy, target] : staged_) copies.push_back(copy);
  if (Status flushed = os::SyncFiles(copies); !flushed.ok()) {
    const std::string where = staged_.empty() ? std::string() : DirOf(staged_.front().second);
    return Status::Failed("cannot flush the new files in " + where, flushed);
  }
  std::vector<std::pair<std::string, std::string>> staged = std::move(staged_);
  staged_.clear();
  Status status;
  for (const auto& [copy, target] : staged) {
    if (!status.ok()) {
      os::RemoveFile(copy);
    } else {
      status = PutInPlace(copy, target);
    }
  }
  return status;
}

bool IsCopyLeftover(std::string_view name) {
  // ".NAME.tvqDIGITS.tmp", as TempBeside makes them.
  if (name.size() < 1 + kTempMark.size() + 1 + kTempExt.size() || name.front() != '.' ||
      !EndsWith(name, kTempExt))
    return false;
  name.remove_suffix(kTempExt.size());
  std::size_t digits = 0;
  while (digits < name.size() && name[name.size() - 1 - digits] >= '0' &&
         name[name.size() - 1 - digits] <= '9')
    ++digits;
  if (digits == 0) return false;
  name.remove_suffix(digits);
  return EndsWith(name, kTempMark) && name.size() > kTempMark.size() + 1;
}

int RemoveCopyLeftovers(const std::string& dir) {
  int removed = 0;
  for (const os::DirEntry& entry : os::ListDirectory(dir)) {
    if (entry.isRegular && IsCopyLeftover(entry.name) &&
        os::RemoveFile(JoinPath(dir, entry.name)).ok())
      ++removed;
  }
  return removed;
}

Status CopyFileRetry(const std::string& source, const std::string& target, bool keepDate,
                     std::size_t bufferSize, const CopyAbortCallback& abortCallback,
                     bool replaceInUse) {
  const Status first = CopyFileOver(source, target, keepDate, bufferSize, abortCallback, replaceInUse);
  if (first.ok() || (abortCallback && abortCallback())) return first;
  os::SleepMs(kRetryPauseMs);
  return CopyFileOver(source, target, keepDate, bufferSize, abortCallback, replaceInUse);
}

bool CopyFileVerified(const std::string& source, const std::string& target, bool keepDate) {
  auto attempt = [&] {
    return CopyFileRetry(source, target, keepDate, kCopyBufferSize, nullptr).ok() &&
           FilesEqual(source, target);
  };
  if (attempt()) return true;
  os::SleepMs(kRetryPauseMs);
  return attempt();
}

bool CopyFiles(const std::string& sourceMask, const std::string& targetDir,
               const std::string& namePattern, const CopyAbortCallback& abortCallback,
               bool keepDate) {
  const std::string sourceDir = sourceMask.substr(0, NameStart(sourceMask));
  if (DirKey(sourceDir) == DirKey(targetDir) && namePattern.empty()) return true;
  bool result = true;
  for (const auto& name : MatchingFiles(sourceMask)) {
    std::string targetName = name;
    if (!namePattern.empty())
      targetName = HasExt(namePattern) || !HasExt(name) ? namePattern : namePattern + "." + ExtOf(name);
    if (!CopyFileRetry(sourceDir + name, JoinPath(targetDir, targetName), keepDate,
                       kCopyBufferSize, abortCallback).ok())
      result = false;
    if (abortCallback && abortCallback()) return false;
  }
  return result;
}

bool DeleteFilesOlderThan(const std::string& mask, std::int64_t date) {
  const std::string dir = mask.substr(0, NameStart(mask));
  bool result = true;
  for (const auto& name : MatchingFiles(mask)) {
    const std::string path = dir + name;
    if ((date == 0 || FileDate(path) < date) && !DeleteFileChecked(path).ok()) result = false;
  }
  return result;
}

bool SetPermissionsByContent(const std::string& path) {
  StatusOr<os::File> file = os::File::Open(path, os::OpenFor::Read);
  if (!file) return false;
  char head[4] = {};
  const StatusOr<std::int64_t> n = file->Read(head, sizeof head);
  file->Close();
  if (!n) return false;
  return os::SetPermissions(path, os::NewFilePermissions(head, static_cast<std::size_t>(*n))).ok();
}

std::string ReadTextFile(const std::string& path, std::string_view separator) {
  try {
    TextFile file;
    if (!file.OpenRead(path).ok()) return {};
    std::string text;
    std::string line;
    // Files of 10 bytes or more are measured first, so the text is sized once.
    if (file.Size() >= 10) {
      std::size_t length = 0;
      while (file.ReadLine(line)) length += (length > 0 ? separator.size() : 0) + line.size();
      text.reserve(length);
      if (!file.Seek(0)) return {};
    }
    while (file.ReadLine(line)) {
      if (!text.empty()) text += separator;
      text += line;
    }
    return text;
  } catch (...) {
    return {};
  }
}

std::int32_t FileDayNumber(const std::string& path) {
  const std::int64_t date = FileDate(path);
  return date < 0 ? -1 : os::LocalDayNumber(date);
}

bool DirExists(const std::string& path) {
  return os::DirectoryExists(path);
}

bool MakeDir(const std::string& path) {
  return os::MakeDirectory(path).ok();
}

bool ForceDirs(const std::string& path) {
  return os::MakeDirectories(path).ok();
}

bool EnsureDir(const std::string& path) {
  return DirExists(path) || MakeDir(path);
}

std::string ProgramPath(bool withDir, bool withExt) {
  std::string path = os::ExecutablePath();
  if (!withDir) path = path.substr(NameStart(path));
  return withExt ? path : StripExt(path);
}

std::string ProgramDir(bool withBackslash) {
  const std::string dir = DirOf(os::ExecutablePath());
  return withBackslash ? WithTrailingDelimiter(dir) : dir;
}

std::string GetEnv(const std::string& name) {
  return os::GetEnvVar(name).value_or(std::string());
}

namespace {
// The first of the variables that is set and not empty, else the fallback.
std::string FirstSet(std::initializer_list<const char*> names, const std::string& fallback) {
  for (const char* name : names)
    if (std::string value = GetEnv(name); !value.empty()) return value;
  return fallback;
}
}  // namespace

std::string TempDir() {
  return FirstSet({"TEMP", "TMPDIR"}, "/tmp");
}

std::string AppDataDir() {
  return FirstSet({"AppData", "XDG_CONFIG_HOME"}, JoinPath(os::HomeDir(), ".config"));
}

std::string CacheDir() {
  const std::string home = os::HomeDir();
  return FirstSet({"LOCALAPPDATA", "XDG_CACHE_HOME"}, home.empty() ? home : JoinPath(home, ".cache"));
}

std::string ProgramFilesDir() {
  return GetEnv("PROGRAMFILES");
}

const std::string& ProgramName() {
  // Until main sets it, the name follows the executable path (which tests
  // may replace).
  if (!ProgramNameText().empty()) return ProgramNameText();
  static std::string derived;
  derived = ProgramPath(false, false);
  return derived;
}

void SetProgramName(std::string name) {
  ProgramNameText() = std::move(name);
}

std::string UpdateIdOf(std::string_view text) {
  std::string id = ShortStr(text);
  if (id.empty()) return id;
  if (const int p = PosText("ID=", id, 1); p > 0) id = RestFrom(id, p + 4);
  id.erase(0, std::min(id.find_first_not_of(" \""), id.size()));
  if (const auto quote = id.find('"'); quote != std::string::npos) id.erase(quote);
  if (const auto stars = id.find("***"); stars != std::string::npos) id.erase(stars);
  const std::string upper = UpStr(id);
  const std::string own = UpStr(ProgramName());
  if (!own.empty() && StartsWith(upper, own))
    id.erase(0, own.size());
  else if (StartsWith(upper, "ZARB"))
    id.erase(0, 4);
  else if (StartsWith(upper, "TVQ"))
    id.erase(0, 3);
  return TrimCharLeft(id, ' ');
}

bool Pause(int ms) {
  // Sleeps: a busy wait would only burn a core.
  if (ms > 0) os::SleepMs(ms);
  return true;
}

bool PumpMessagesFor(int ms) {
  // Handles what arrives for ms milliseconds, sleeping briefly in between
  // instead of spinning.
  const std::int64_t end = os::TickMs() + (ms & 0xFFFF);
  bool handled = false;
  for (;;) {
    handled = CurrentUserInterface().PumpMessages(-1) || handled;
    const std::int64_t now = os::TickMs();
    if (now >= end) return handled;
    os::SleepMs(std::min<std::int64_t>(10, end - now));
  }
}

bool PumpMessages(int ms) {
  struct Depth {
    Depth() { ++pumpDepth; }
    ~Depth() { --pumpDepth; }
  } depth;
  try {
    return ms < 0 ? CurrentUserInterface().PumpMessages(-1) : PumpMessagesFor(ms);
  } catch (...) {
    return false;
  }
}

int PumpMessagesDepth() {
  return pumpDepth;
}

bool KeyDown(int virtualKey) {
  return CurrentUserInterface().KeyDown(virtualKey);
}

bool ShiftDown() {
  return KeyDown(kVkShift);
}

bool CtrlDown() {
  return KeyDown(kVkControl);
}

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  return CurrentUserInterface().MessageBox(text, caption, flags);
}

std::string CommandLineWord(const std::string& path) {
  return path.find_first_of(" \t") == std::string::npos ? path : "\"" + path + "\"";
}

Status StartDetached(const std::string& commandLine) {
  return os::StartProgram(commandLine);
}
