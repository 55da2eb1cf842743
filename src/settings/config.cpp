#include "settings/config.h"

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"
#include "platform/status.h"
#include "settings/settings_env.h"
#include "support/fileutil.h"
#include "support/strfn.h"
#include "support/textfile.h"

namespace {

// The one settings store of the process.
struct Store {
  std::string chain;         // settings files, ";"-separated, top first
  std::uint8_t index = 1;    // 1-based chain entry of the file last opened
  bool topOnly = false;      // searches look into the top file only
  bool found = true;         // whether the last search found its key
  std::string override;      // while non-empty, CfgFileName returns it
  std::optional<std::string> commandLineFile;  // the settings file the switches name
  bool initialised = false;
  bool cleanupRegistered = false;
  bool workingFiles = false; // writes go to working files only (see config.h)
  // Set when a settings file that exists could not be read: what the store
  // answers since then may be defaults, so nothing is written any more.
  std::string readFailure;
  TextFile file;             // the only open settings file
};

// Never destroyed, so that clean-ups at program end may still use it.
Store& St() {
  static Store& store = *new Store;
  return store;
}

constexpr std::size_t kMaxChainEntries = 255;  // the index is one byte

void RequireInit() {
  if (!St().initialised) {
    std::cerr << "settings store used before CfgInit\n";
    std::exit(222);
  }
}

void CloseStoreFile() {
  if (St().file.CurrentMode() != TextFile::Mode::Closed) St().file.Close();
}

void CleanUpAtExit() {
  CloseStoreFile();
  St().chain.clear();
}

char UpChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool HasWildcard(std::string_view s) {
  return s.find_first_of("*?") != std::string_view::npos;
}

// Key and default of a key specification "Key=Default".
std::string_view SpecKey(std::string_view keySpec) { return keySpec.substr(0, keySpec.find('=')); }
std::string_view SpecDefault(std::string_view keySpec) {
  std::size_t eq = keySpec.find('=');
  return eq == std::string_view::npos ? std::string_view() : keySpec.substr(eq + 1);
}

// A key prepared for matching against many lines.
class KeyMatcher {
 public:
  explicit KeyMatcher(std::string_view key)
      : up_(UpStr(key)), shortUp_(ShortStr(up_)), wild_(HasWildcard(shortUp_)) {}

  // Whether line answers the key; value receives the text after the line's
  // first "=" when it does.
  bool Answers(std::string_view line, std::string& value) const {
    std::size_t eq = line.find('=');
    // A line without "=" (a separator such as "*****", a comment) answers
    // no key; taken as a pattern it would answer every key.
    if (eq == std::string_view::npos) return false;
    if (!ExactMatch(line) && !WildcardMatch(line.substr(0, eq))) return false;
    value.assign(line.substr(eq + 1));
    return true;
  }

 private:
  // The line begins with the key followed by "=" or ":=", letter case aside.
  bool ExactMatch(std::string_view line) const {
    if (line.size() <= up_.size()) return false;
    for (std::size_t i = 0; i < up_.size(); ++i)
      if (UpChar(line[i]) != up_[i]) return false;
    char next = line[up_.size()];
    return next == '=' || (next == ':' && line.size() > up_.size() + 1 && line[up_.size() + 1] == '=');
  }

  // Either side, as a wildcard pattern, matches the other (both upper-cased
  // and cut to short strings).
  bool WildcardMatch(std::string_view keyPart) const {
    if (shortUp_.empty() || keyPart.empty()) return false;
    std::string_view cut = keyPart.substr(0, kShortStrMax);
    if (!wild_ && !HasWildcard(cut)) {
      // Without wildcards on either side a pattern matches only itself.
      if (cut.size() != shortUp_.size()) return false;
      for (std::size_t i = 0; i < cut.size(); ++i)
        if (UpChar(cut[i]) != shortUp_[i]) return false;
      return true;
    }
    std::string part = UpStr(cut);
    return WildMatch(part, shortUp_) || WildMatch(shortUp_, part);
  }

  std::string up_;
  std::string shortUp_;
  bool wild_;
};

std::size_t ChainEntryCount() {
  std::size_t n = 1;
  for (char c : St().chain)
    if (c == ';') ++n;
  return n < kMaxChainEntries ? n : kMaxChainEntries;
}

// A chain entry's file: the entry with the extension "INI" when it has none.
// An entry that names something other than a file (a directory, a device)
// stays as it is, so that it counts as a file that cannot be opened instead
// of leading to a stray "NAME.INI" beside it.
std::string ChainEntryFile(int n) {
  const std::string entry = WordNr(n, St().chain, ";");
  const os::FileInfo info = os::StatTarget(entry);
  if (info.exists && !info.isRegular) return entry;
  return AddDefaultExt(entry, "INI");
}

std::string CurrentFileName() { return ChainEntryFile(St().index); }

// Makes the name of a file just created or renamed in place durable.
Status SyncDirectoryOf(const std::string& path) {
  const std::string dir = DirOf(path);
  return os::SyncDirectory(dir.empty() ? "." : dir);
}

// Remembers the first read failure of the store, with the system's text.
void NoteReadFailure(const std::string& path, const std::string& cause) {
  std::string& failure = St().readFailure;
  if (failure.empty())
    failure = Status::Failed("cannot read settings file \"" + path + "\"", cause).message();
}

// A missing file holds no settings; one that exists but cannot be opened or
// read is a read failure, never an empty file. OK when the file is open.
Status OpenCurrentForReading() {
  CloseStoreFile();
  const std::string path = CurrentFileName();
  if (!CfgFileIsUsable(path)) return Status::Error("it is not a regular file");
  const Status opened = St().file.OpenRead(path);
  if (!opened.ok() && os::StatPath(path).exists) NoteReadFailure(path, opened.message());
  return opened;
}

// Closes the file read by a search, noting a read error it met.
void CloseAfterReading() {
  if (St().file.IoError()) NoteReadFailure(CurrentFileName(), St().file.Failure().message());
  CloseStoreFile();
}

// Whether the file's last byte ends a line (true for a missing or empty file).
bool EndsWithLineEnd(const std::string& path) {
  auto f = os::File::Open(path, os::OpenFor::Read);
  if (!f) return true;
  std::int64_t size = f->Size();
  if (size <= 0) return true;
  char last = 0;
  if (!f->Seek(size - 1).ok()) return true;
  const StatusOr<std::int64_t> n = f->Read(&last, 1);
  if (!n || *n != 1) return true;
  return last == '\n' || last == '\r';
}

// Searches the chain for the key; sets the found flag and the current
// file index (1 after a failed search). The file is closed afterwards.
bool Search(const KeyMatcher& key, std::string& value) {
  Store& s = St();
  s.found = false;
  value.clear();
  s.index = 1;
  const std::size_t count = ChainEntryCount();
  std::string line;
  for (;;) {
    if (OpenCurrentForReading().ok()) {
      while (s.file.ReadLine(line)) {
        if (key.Answers(line, value)) {
          s.found = true;
          break;
        }
      }
      CloseAfterReading();
    }
    if (s.found) return true;
    value.clear();
    s.index = s.topOnly ? 1 : static_cast<std::uint8_t>(s.index % count + 1);
    if (s.index == 1) return false;
  }
}

std::string GetStr(std::string_view keySpec) {
  RequireInit();
  std::string value;
  if (!Search(KeyMatcher(SpecKey(keySpec)), value)) return std::string(SpecDefault(keySpec));
  return value;
}

// Appends key=value to the current file (the top file after a failed
// search). The line is flushed to the disk at once.
Status Append(std::string_view key, std::string_view value) {
  Store& s = St();
  CloseStoreFile();
  const std::string path = CurrentFileName();
  if (!CfgFileIsUsable(path)) return Status::Error("\"" + path + "\" is not a regular file");
  // A last line without its line end would swallow the appended key.
  std::string text = EndsWithLineEnd(path) ? std::string() : std::string("\r\n");
  text.append(key).append("=").append(value).append("\r\n");
  Status open = s.file.OpenAppend(path);
  // Only a missing file is created here: never truncate a settings file
  // that merely failed to open.
  const bool created = !open.ok() && !os::StatPath(path).exists;
  if (created) open = s.file.OpenWrite(path);
  if (!open.ok()) return Status::Failed("cannot open \"" + path + "\"", open);
  // Flushed now, so a crash before the next look-up cannot lose it; a new
  // file's name is made durable too.
  const bool sent = s.file.Write(text) && (s.workingFiles ? s.file.Flush() : s.file.Sync());
  Status written = sent ? Status() : s.file.Failure();
  if (written.ok() && created && !s.workingFiles) written = SyncDirectoryOf(path);
  if (!written.ok()) return Status::Failed("cannot write \"" + path + "\"", written);
  return Status();
}

// Copies the file being read (in) to out with the key's first line given
// the value; whether a line was. Failures stay with the files.
bool CopyReplacing(TextFile& in, TextFile& out, const KeyMatcher& key, std::string_view value) {
  bool replaced = false;
  bool ok = true;
  std::string line;
  std::string ignored;
  while (ok && in.ReadLine(line)) {
    if (!replaced && key.Answers(line, ignored)) {
      replaced = true;
      std::string newLine(std::string_view(line).substr(0, line.find('=')));
      newLine.append("=").append(value);
      ok = out.WriteLine(newLine);
    } else {
      ok = out.WriteLine(line);
    }
  }
  return replaced;
}

// Puts the rewritten file temp in path's place. A settings file is replaced
// atomically, never deleted first, and its name made durable. A working
// file may be: renaming over it would make the file system flush it, and
// losing it only leaves the settings as they were.
Status PutRewrittenInPlace(const std::string& temp, const std::string& path, bool workingFile) {
  Status done;
  if (workingFile) {
    done = os::RemoveFile(path);
    if (done.ok()) done = os::RenameNoReplace(temp, path);
  } else {
    done = os::RenameReplace(temp, path);
    if (done.ok()) done = SyncDirectoryOf(path);
  }
  return done.ok() ? done : Status::Failed("cannot replace \"" + path + "\"", done);
}

// Rewrites the current file with the key's first line replaced. The new
// content goes to the "$CF" file, reaches the disk, and then takes the
// settings file's place in one atomic rename.
Status Rewrite(const KeyMatcher& key, std::string_view value) {
  Store& s = St();
  // A settings file kept as a link is rewritten where the link leads, so the
  // link stays (renaming over it would replace it by a copy).
  const std::string path = os::ResolveLinks(CurrentFileName());
  const auto failed = [&](const std::string& what, const Status& cause) {
    return Status::Failed(what + " \"" + path + "\"", cause);
  };
  // A settings file the user may not write stays as it is; the rename below
  // would otherwise replace it regardless of its protection.
  if (Status writable = os::CanOpen(path, true); !writable.ok())
    return failed("cannot write", writable);
  if (Status opened = OpenCurrentForReading(); !opened.ok()) return failed("cannot read", opened);
  const std::string temp = ForceExt(path, "$CF");
  TextFile out;
  if (Status opened = out.OpenWrite(temp); !opened.ok()) {
    CloseStoreFile();
    return failed("cannot write beside", opened);
  }
  os::FileInfo info = os::StatPath(path);
  if (info.isRegular) os::SetPermissions(temp, info.permissions);

  const bool replaced = CopyReplacing(s.file, out, key, value);
  const bool readWhole = !s.file.IoError();
  CloseAfterReading();
  // out keeps the first failure of its writes, its flush and its close.
  const bool flushed = replaced && readWhole && (s.workingFiles ? out.Flush() : out.Sync());
  out.Close();
  const Status status =
      !readWhole            ? Status::Error(s.readFailure)
      : !out.Failure().ok() ? Status::Failed("cannot write \"" + temp + "\"", out.Failure())
      : !flushed            ? Status::Error("cannot replace \"" + path + "\"")  // the key is gone
                            : PutRewrittenInPlace(temp, path, s.workingFiles);
  if (!status.ok()) os::RemoveFile(temp);
  return status;
}

// Runs op with the top-only mode on (which also makes the top file the
// current one), then puts the mode back; putting back "on" selects the top
// file again.
template <typename Op>
bool InTopOnly(const Op& op) {
  Store& s = St();
  const bool saved = s.topOnly;
  s.topOnly = true;
  s.index = 1;
  const bool result = op();
  s.topOnly = saved;
  if (saved) s.index = 1;
  return result;
}

// Conversion as the runtime does it: leading blanks, optional sign, "$" or
// "0x" for hexadecimal; true only when the whole text converted.
bool ParseInt64(std::string_view t, std::int64_t& out) {
  std::size_t i = 0;
  while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  int base = 10;
  if (i < t.size() && t[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size()) return false;
  std::uint64_t v = 0;
  const std::uint64_t limit = base == 16 ? std::numeric_limits<std::uint64_t>::max()
                                         : std::uint64_t{1} << 63;
  for (; i < t.size(); ++i) {
    char c = t[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    if (v > (limit - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(base)) return false;
    v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
  }
  if (base == 10 && !negative && v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
    return false;
  out = negative ? static_cast<std::int64_t>(0 - v) : static_cast<std::int64_t>(v);
  return true;
}

}  // namespace

std::string CfgProgramSettingsFileName() { return ForceExt(ProgramPath(true, true), "INI"); }

std::string CfgDefaultFileName() {
  std::string name = CfgProgramSettingsFileName();
  const std::string programFiles = ProgramFilesDir();
  // Without a program-files directory no path lies under it.
  if (programFiles.empty()) return name;
  const std::string progDir = WithTrailingDelimiter(programFiles);
  if (!StartsWith(UpStr(name), UpStr(progDir))) return name;
  if (Contains(UpStr(name), "UPD.")) return name;
  const std::string appData = AppDataDir();
  if (appData.empty()) return name;
  name = WithTrailingDelimiter(appData) + name.substr(progDir.size());
  ForceDirs(DirOf(name));  // a failure shows when the file is used
  return name;
}

std::string CfgFileName() {
  if (!St().override.empty()) return St().override;
  return St().commandLineFile.value_or(CfgDefaultFileName());
}

std::string CfgOverride() { return St().override; }
void CfgSetOverride(std::string_view fileName) { St().override = fileName; }

bool CfgFileIsUsable(const std::string& path) {
  // A FIFO would block the program and a device would be read without end.
  const os::FileInfo info = os::StatTarget(path);
  return !info.exists || info.isRegular;
}

namespace {

// A switch changes the setting its key names for good, when the settings
// hold that key; "/Key" without a value stores an empty one.
void ApplySwitchSettings(const std::vector<std::string>& switches) {
  for (const std::string& sw : switches)
    if (!sw.empty() && CfgKeyExists(sw.substr(0, sw.find('=')))) CfgPutAssignment(sw);
}

}  // namespace

void CfgInit(const CommandLineOptions& commandLine) {
  Store& s = St();
  if (s.initialised) return;
  s.initialised = true;
  s.commandLineFile = commandLine.settingsFile;
  s.chain = CfgFileName();
  if (!s.cleanupRegistered) {
    s.cleanupRegistered = true;
    std::atexit(CleanUpAtExit);
  }
  ApplySwitchSettings(commandLine.switches);
}

bool CfgInitialised() { return St().initialised; }

void CfgSetWorkingFileWrites(bool on) { St().workingFiles = on; }

void CfgResetForTests() {
  CloseStoreFile();
  Store& s = St();
  s.chain.clear();
  s.index = 1;
  s.topOnly = false;
  s.found = true;
  s.override.clear();
  s.commandLineFile.reset();
  s.initialised = false;
  s.workingFiles = false;
  s.readFailure.clear();
}

std::string CfgGetStr(std::string_view keySpec) { return GetStr(keySpec); }

std::string CfgGetStrDef(std::string_view keySpec) {
  std::string value = GetStr(keySpec);
  if (value.empty()) value = SpecDefault(keySpec);
  return value;
}

bool CfgFound() { return St().found; }

bool CfgKeyExists(std::string_view keySpec) {
  GetStr(ShortStr(SpecKey(keySpec)));
  return St().found;
}

bool CfgKeyExistsInTop(std::string_view keySpec) {
  return InTopOnly([&] { return CfgKeyExists(keySpec); });
}

bool CfgReadInt(std::string_view keySpec, std::int32_t& n) {
  std::string t = ShortStr(GetStr(keySpec));
  if (t.empty()) return false;
  std::int64_t v = 0;
  if (!ParseInt64(t, v)) return false;
  bool hex = t.find_first_of("$xX") != std::string::npos;
  if (hex && v >= 0 && v <= std::int64_t{0xFFFFFFFF}) {
    n = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    return true;
  }
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    return false;
  n = static_cast<std::int32_t>(v);
  return true;
}

bool CfgReadUInt(std::string_view keySpec, std::uint32_t& n) {
  std::string t = ShortStr(GetStr(keySpec));
  if (t.empty()) return false;
  std::int64_t v = 0;
  if (!ParseInt64(t, v)) return false;
  n = static_cast<std::uint32_t>(static_cast<std::uint64_t>(v));
  return true;
}

std::int32_t CfgGetInt(std::string_view keySpec) {
  std::int32_t n = 0;
  CfgReadInt(keySpec, n);
  return n;
}

bool CfgReadBool(std::string_view keySpec, bool& b) {
  std::string t = ShortStr(UpStr(CfgGetStrDef(keySpec)));
  if (t.empty()) return false;
  b = false;
  StrToBool(t, b);
  return true;
}

bool CfgIsValue(std::string_view keySpec, bool expected) {
  bool b = false;
  return CfgReadBool(keySpec, b) && b == expected;
}

bool CfgIsTrue(std::string_view keySpec) { return CfgIsValue(keySpec, true); }

Status CfgStore(std::string_view key, std::string_view value) {
  RequireInit();
  // One line a key: a line break in a value would write lines of its own.
  if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
    return Status::Error("the value for " + ShortStr(key) + " holds a line break or NUL; nothing was written");
  const std::string cut = ShortStr(key);
  const KeyMatcher matcher(SpecKey(cut));
  std::string current;
  const bool found = Search(matcher, current);
  // What a file that could not be read holds is unknown: appending could
  // write a key twice, rewriting could lose what was not read.
  if (!St().readFailure.empty()) return Status::Error(St().readFailure);
  if (!found) return Append(cut, value);
  if (current == value) return Status();
  return Rewrite(matcher, value);
}

bool CfgPutStr(std::string_view key, std::string_view value) { return CfgStore(key, value).ok(); }

Status CfgReadStatus() {
  const std::string& failure = St().readFailure;
  return failure.empty() ? Status() : Status::Error(failure);
}

bool CfgPutStrInTop(std::string_view key, std::string_view value) {
  return InTopOnly([&] { return CfgPutStr(key, value); });
}

bool CfgPutInt(std::string_view key, std::int32_t value) { return CfgPutStr(key, IntStr(value)); }

bool CfgPutAssignment(std::string_view assignment) {
  return CfgPutStr(SpecKey(assignment), SpecDefault(assignment));
}

void CfgPushFile(std::string_view fileName) {
  St().chain = std::string(fileName) + ";" + St().chain;
}

void CfgPopFile() {
  std::string& chain = St().chain;
  std::size_t semi = chain.find(';');
  if (semi != std::string::npos) chain.erase(0, semi + 1);
}

std::string CfgChain() { return St().chain; }

std::string CfgTopFileName() { return ChainEntryFile(1); }
