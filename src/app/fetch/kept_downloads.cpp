#include "app/fetch/kept_downloads.h"

#include <algorithm>
#include <set>

#include "app/context/names.h"
#include "platform/os.h"
#include "support/fileutil.h"
#include "support/strfn.h"

namespace {

constexpr std::string_view kRecordHeader = "tvqlupd kept download 1";
constexpr const char* kDataSuffix = ".data";
constexpr const char* kRecordSuffix = ".record";
constexpr const char* kNewSuffix = ".new";

// A fixed-length name for a listed name; the record holds the listed name
// itself, so two names that meet here only displace each other's kept bytes.
std::string StemOf(std::string_view listedName) { return HashHex(listedName); }

std::string FolderPath() { return WithTrailingDelimiter(KeptFolder()); }
std::string RecordPath(const std::string& name) { return FolderPath() + StemOf(name) + kRecordSuffix; }

bool Recordable(std::string_view field) {
  return field.find_first_of("\r\n") == std::string_view::npos;
}

// The value of "key=value" when line has that key.
bool Field(std::string_view line, std::string_view key, std::string& value) {
  if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != '=')
    return false;
  value.assign(line.substr(key.size() + 1));
  return true;
}

bool ReadNumber(const std::string& text, std::int64_t& value) {
  if (text.empty()) return false;
  std::size_t used = 0;
  try {
    value = std::stoll(text, &used);
  } catch (...) {
    return false;
  }
  return used == text.size();
}

// Whether the whole file at path can be read: exactly size bytes.
bool ReadsBackWhole(const std::string& path, std::int64_t size) {
  StatusOr<os::File> file = os::File::Open(path, os::OpenFor::Read);
  if (!file) return false;
  std::vector<char> buffer(kCopyBufferSize);
  std::int64_t total = 0;
  for (;;) {
    const StatusOr<std::int64_t> n = file->Read(buffer.data(), buffer.size());
    if (!n) return false;
    if (*n == 0) return total == size;
    total += *n;
  }
}

std::optional<KeptRecord> ReadRecord(const std::string& name) {
  constexpr std::size_t kMaxRecord = 65536;  // a record is a few hundred bytes
  StatusOr<os::File> file = os::File::Open(RecordPath(name), os::OpenFor::Read);
  if (!file) return std::nullopt;
  std::string text(kMaxRecord, '\0');
  const StatusOr<std::int64_t> n = file->Read(text.data(), text.size());
  if (!n || *n == 0 || static_cast<std::size_t>(*n) == text.size()) return std::nullopt;
  text.resize(static_cast<std::size_t>(*n));
  return ParseKeptRecord(text);
}

}  // namespace

std::string FormatKeptRecord(const KeptRecord& r) {
  const KeptIdentity& id = r.identity;
  if (!Recordable(id.site) || !Recordable(id.name) || !Recordable(r.validator)) return {};
  return std::string(kRecordHeader) + "\nsite=" + id.site + "\nname=" + id.name +
         "\nsize=" + std::to_string(id.size) + "\nchecksum=" + std::to_string(id.checksum) +
         "\nvalidator=" + r.validator + "\nverified=" + (r.verified ? "1" : "0") + "\nend\n";
}

std::optional<KeptRecord> ParseKeptRecord(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) return std::nullopt;  // torn: no line ends it
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  if (lines.size() != 8 || lines[0] != kRecordHeader || lines[7] != "end") return std::nullopt;
  KeptRecord r;
  std::string size, checksum, verified;
  if (!Field(lines[1], "site", r.identity.site) || !Field(lines[2], "name", r.identity.name) ||
      !Field(lines[3], "size", size) || !Field(lines[4], "checksum", checksum) ||
      !(Field(lines[5], "validator", r.validator) || lines[5] == "validator=") ||
      !Field(lines[6], "verified", verified))
    return std::nullopt;
  if (!ReadNumber(size, r.identity.size) || !ReadNumber(checksum, r.identity.checksum) ||
      (verified != "0" && verified != "1") || r.identity.name.empty())
    return std::nullopt;
  r.verified = verified == "1";
  return r;
}

std::string KeptFolder() { return WithTrailingDelimiter(WorkDirectory()) + ".kept"; }

std::string KeptDataPath(const std::string& listedName) {
  return FolderPath() + StemOf(listedName) + kDataSuffix;
}

KeptState KeptStateOf(const KeptIdentity& identity) {
  KeptState state;
  const std::optional<KeptRecord> record = ReadRecord(identity.name);
  const os::FileInfo data = os::StatPath(KeptDataPath(identity.name));
  const bool usable = record && identity.size >= 0 && record->identity == identity &&
                      data.isRegular && data.size <= identity.size &&
                      ReadsBackWhole(KeptDataPath(identity.name), data.size);
  if (!usable) {
    DiscardKept(identity.name);
    return state;
  }
  state.whole = data.size == identity.size;
  state.verified = state.whole && record->verified;
  state.validator = record->validator;
  return state;
}

bool WriteKeptRecord(const KeptRecord& record) {
  const std::string path = RecordPath(record.identity.name);
  const std::string fresh = path + kNewSuffix;
  const std::string text = FormatKeptRecord(record);
  os::RemoveFile(fresh);
  StatusOr<os::File> file = os::File::Open(fresh, os::OpenFor::CreateNew);
  const bool written = !text.empty() && file && file->Write(text.data(), text.size()).ok() &&
                       file->Close().ok() && os::RenameReplace(fresh, path).ok();
  if (!written) {
    os::RemoveFile(fresh);
    os::RemoveFile(path);
  }
  return written;
}

void DiscardKept(const std::string& listedName) {
  os::RemoveFile(RecordPath(listedName));
  os::RemoveFile(KeptDataPath(listedName));
}

void KeepOnly(const std::vector<KeptIdentity>& listed) {
  std::set<std::string> keep;
  for (const KeptIdentity& identity : listed) {
    const std::optional<KeptRecord> record = ReadRecord(identity.name);
    if (!record || !(record->identity == identity)) continue;
    keep.insert(StemOf(identity.name) + kDataSuffix);
    keep.insert(StemOf(identity.name) + kRecordSuffix);
  }
  // Anything else goes: bytes of files no longer listed, torn records, and
  // links or other entries the program never makes (removed, not followed).
  // In name order, so that a run's removals come in the same order every time.
  std::vector<os::DirEntry> entries = os::ListDirectory(KeptFolder());
  std::sort(entries.begin(), entries.end(),
            [](const os::DirEntry& a, const os::DirEntry& b) { return a.name < b.name; });
  for (const os::DirEntry& entry : entries) {
    if (keep.count(entry.name) && entry.isRegular) continue;
    const std::string path = FolderPath() + entry.name;
    if (os::StatPath(path).isDirectory) continue;
    os::RemoveFile(path);
  }
}

void ForgetKeptDownloads() { KeepOnly({}); }
