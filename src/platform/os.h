#pragma once
// The one interface between the program and the operating system. Everything
// that touches the machine -- files, directories, processes, environment,
// clock and sleeps, HTTP, LZ expansion, locale, signals -- goes through here.
// No POSIX or Windows type appears in this header: paths and texts are
// std::string (bytes, UTF-8 on Linux), times are integers, handles are small
// classes of this header. Failures are results, never exceptions. An
// operation whose failure the program explains returns a Status (or a
// StatusOr) whose message is the system's text for the cause ("No space left
// on device"), never empty; the caller says what failed:
// Status::Failed("cannot write " + path, written). Functions that say so
// return a whole message instead.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/status.h"

namespace os {

// How this system writes paths and names and runs batch files. Windows
// delimits with '\' (and ':' after a drive letter, so "file:///C:/upd/" names
// a drive), ignores the case of names and runs ".bat" files itself; Linux
// delimits with '/', keeps case, and runs the shell scripts an update
// delivers with /bin/sh. The portable code asks here instead of testing the
// platform itself.
struct Conventions {
  char pathDelimiter;                  // written between a directory and a name
  std::string_view pathDelimiters;     // every character that ends a directory part
  std::string_view directorySeparators;  // every character the file calls take between directories
  bool driveLetters;                   // paths may start with "C:"
  bool namesIgnoreCase;
  std::string_view batchExtension;     // of the batch file a run may start
  std::string_view batchInterpreter;   // put before a batch file's name to start it
};
#ifdef _WIN32
inline constexpr Conventions kConventions{'\\', "\\:", "\\/", true, true, ".bat", ""};
#else
inline constexpr Conventions kConventions{'/', "/", "/", false, false, ".sh", "/bin/sh "};
#endif

// The parameters 1..count that main received, as UTF-8: argv itself on Linux;
// on Windows the process's wide command line split as Windows does (argv is in
// the ANSI code page there). On Windows this also makes the console show the
// program's UTF-8 text.
std::vector<std::string> ArgumentsFromMain(int argc, char** argv);

// Full path of the running executable as it was started (/proc/self/exe as
// read when the program loads, the module's file name on Windows) unless set.
std::string ExecutablePath();
void SetExecutablePathForTests(std::string path);  // empty: back to the real one

std::optional<std::string> GetEnvVar(const std::string& name);
void SetEnvVar(const std::string& name, const std::string& value);
void UnsetEnvVar(const std::string& name);
std::string HomeDir();
// The account this process runs as, as the system names it: the effective
// user id on Linux ("1000"), the user's SID on Windows ("S-1-5-21-...").
std::string CurrentAccount();

// All waits of the program go through the installed clock, so tests can swap
// in a virtual clock that returns at once and records every sleep.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t NowMs() = 0;           // monotonic milliseconds
  virtual void SleepMs(std::int64_t ms) = 0;  // blocks (virtual: records)
};
Clock& SystemClock();
void SetClock(Clock* clock);  // nullptr restores the system clock
Clock& CurrentClock();        // the installed clock, else the system clock
std::int64_t TickMs();
void SleepMs(std::int64_t ms);

// Wall-clock time now, seconds since the Unix epoch.
std::int64_t WallTimeSeconds();
// Whole days since 30 December 1899 of the local date of a Unix time.
std::int32_t LocalDayNumber(std::int64_t unixSeconds);

struct FileInfo {
  bool exists = false;
  bool isRegular = false;   // an ordinary file (a symbolic link is not followed)
  bool isDirectory = false;
  bool isSymlink = false;
  std::int64_t size = 0;
  std::int64_t modifiedSeconds = 0;  // Unix time of the last modification
  std::uint32_t permissions = 0;     // permission bits (0777 mask)
};
// Information about path itself (a symbolic link is reported as a link).
FileInfo StatPath(const std::string& path);
// Information about what path leads to (a symbolic link is followed).
FileInfo StatTarget(const std::string& path);
// The path with every symbolic link resolved; the path itself when it
// cannot be resolved (for example when it does not exist).
std::string ResolveLinks(const std::string& path);
bool FileExists(const std::string& path);  // exists and is not a directory
bool DirectoryExists(const std::string& path);

// CreateNew makes a file that must not exist yet; a symbolic link at the
// path is not followed (for temporary files beside a target). ReadNoLink
// reads an ordinary file that path names itself: a symbolic link (on
// Windows any reparse point) at path fails the open.
enum class OpenFor { Read, ReadNoLink, ReadWrite, CreateTruncate, Append, CreateNew };

// An open file. Move-only; closes on destruction.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens path (a directory is not a file: it fails); Append creates the
  // file when it is missing. CreateTruncate and CreateNew create with
  // permissions 0666 less umask unless newPermissions is given (umask
  // applies to it too).
  static StatusOr<File> Open(const std::string& path, OpenFor mode,
                             std::optional<std::uint32_t> newPermissions = std::nullopt);
  bool IsOpen() const { return handle_ >= 0; }
  // Bytes read (0 at end of file). Retries interrupted reads.
  StatusOr<std::int64_t> Read(void* buffer, std::size_t size);
  // OK when every byte was written.
  Status Write(const void* data, std::size_t size);
  Status Seek(std::int64_t position);
  std::int64_t Position();  // -1 on error
  std::int64_t Size();      // -1 on error
  Status Sync();            // flush to the disk
  // Starts writing a range of the file to the disk without waiting, so that
  // a later Sync has less left to wait for. Only a hint: may do nothing.
  void BeginSync(std::int64_t offset, std::int64_t length);
  // Copies up to size bytes from source's position to this file's position,
  // inside the kernel where it can, else through buffer (at least size
  // bytes). Bytes copied; 0 at the end of source.
  StatusOr<std::int64_t> CopyFrom(File& source, void* buffer, std::size_t size);
  Status Close();  // fails when closing reported an error

 private:
  friend StatusOr<bool> ExpandSzdd(File& source, File& target);  // hands the handles to the decoder
  explicit File(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = -1;
};

// OK when path can be opened now for reading (write = false) or for writing
// (write = true); else why not. A running executable and a file on which
// another process holds an exclusive lock are not openable for writing: they
// are in use. On Windows "in use" is a sharing violation: a running program,
// or a file open elsewhere without write sharing.
Status CanOpen(const std::string& path, bool write);
// Holds an exclusive lock on a file as long as the object lives (used by tests
// and tools to mark a file as in use). On Windows the file is held open
// without write or delete sharing: others may read it, not write, replace or
// delete it.
class FileLock {
 public:
  static std::optional<FileLock> Exclusive(const std::string& path);
  FileLock(FileLock&& other) noexcept;
  ~FileLock();
 private:
  explicit FileLock(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = -1;
};

// One update run per installation. Acquire takes, without waiting, the lock
// of lockFile, a file in the application directory that only accounts able
// to change that directory can open: it is created when missing, readable
// and writable by its owner only (Linux: 0600, a wider mode of one's own
// file is narrowed; Windows: an access list for its owner, SYSTEM and
// Administrators), opened for writing, never through a link, and never
// removed. The system releases the lock when the process ends, however it
// ends, so a lock left by a killed run never blocks.
class RunLock {
 public:
  // Held: this run's. Busy: another run holds it. Denied: this account may
  // not open or create the file (it cannot change the installation).
  // Failed: something else (a link, no file, the system's cause).
  enum class State { Held, Busy, Denied, Failed };
  static RunLock Acquire(const std::string& lockFile);
  RunLock(RunLock&& other) noexcept
      : state_(other.state_), cause_(std::move(other.cause_)), handle_(other.handle_) {
    other.handle_ = -1;
  }
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;
  RunLock& operator=(RunLock&&) = delete;
  ~RunLock();
  State state() const { return state_; }
  // Why the lock is not held when Denied or Failed: the system's cause,
  // with the file's path.
  const std::string& cause() const { return cause_; }

 private:
  RunLock(State state, std::string cause) : state_(state), cause_(std::move(cause)) {}
  State state_;
  std::string cause_;
  std::intptr_t handle_ = -1;
};

// Makes the entries of a directory (names created, renamed, removed in it)
// durable. On Windows the file system journals its directory changes and
// there is nothing to flush: OK.
Status SyncDirectory(const std::string& path);
// Makes the content of every file of paths durable (all on one file system).
// Linux flushes the file system once; Windows flushes each file.
Status SyncFiles(const std::vector<std::string>& paths);

Status RemoveFile(const std::string& path);
// Gives the file at existing a second name, newPath (a hard link), on the
// same volume; fails when newPath exists or the volume has no such links.
bool LinkFile(const std::string& existing, const std::string& newPath);
// Renames old to new; fails when new exists.
Status RenameNoReplace(const std::string& oldPath, const std::string& newPath);
// Renames old over new in one atomic step, replacing new.
Status RenameReplace(const std::string& oldPath, const std::string& newPath);
Status SetModifiedSeconds(const std::string& path, std::int64_t unixSeconds);
Status SetModifiedNow(const std::string& path);
Status SetPermissions(const std::string& path, std::uint32_t permissions);
// Permissions for a new file whose content starts with the given bytes:
// 0777 less umask for "#!" or the ELF magic, else 0666 less umask. On Windows
// only the owner's write bit means something (the read-only attribute).
std::uint32_t NewFilePermissions(const void* head, std::size_t size);

Status MakeDirectory(const std::string& path);    // one level
// With every missing parent; OK when the directory exists already.
Status MakeDirectories(const std::string& path);
bool RemoveDirectory(const std::string& path); // empty directory only
// Makes path (its parent exists) a directory of this account that no other
// account can reach, creating it when missing: on Linux mode 0700; on Windows
// it keeps the access list it inherits from the user's profile. Fails, with
// a whole message that names path and the cause, when anything else stands
// there: a link (never followed), a file, a directory of another account
// ("... belongs to another user"), or when the system refuses.
Status MakePrivateDirectory(const std::string& path);
bool ChangeDirectory(const std::string& path);
std::string CurrentDirectory();

struct DirEntry {
  std::string name;
  bool isRegular = false;  // ordinary file, not a link, not a directory
  bool isHidden = false;   // name begins with '.'
};
// Entries of a directory (without "." and ".."); empty when it cannot be read.
std::vector<DirEntry> ListDirectory(const std::string& path);

// Starts a command line without waiting (Windows quoting rules: blanks
// separate, double quotes group). A name without directory is looked up in
// the current directory, then PATH; without extension ".exe" is tried too.
// The child is detached (own session, standard streams on /dev/null) and
// reaped. Files starting with "#!" or the ELF magic are executed directly.
// On Windows the system finds and starts the program as StartDetached does (a
// batch file runs in the command interpreter), without a console.
// OK when the program was started; else why not.
Status StartProgram(const std::string& commandLine);
// Runs a program with these arguments (argv[0] is looked up in PATH; no
// shell, no quoting), its standard streams those of this process, and waits
// for it to end. Its exit code; a failed Status (a whole message) when it
// could not be started or did not exit by itself.
Status RunAndWait(const std::vector<std::string>& argv, int& exitCode);
// Splits a command line as Windows does (exposed for tests).
std::vector<std::string> SplitCommandLine(const std::string& commandLine);
[[noreturn]] void ExitProcess(int code);

// Ctrl-C and SIGTERM (on Windows Ctrl-C, Ctrl-Break and closing the console,
// through a console control handler): after WatchInterrupts, each raises a
// counter that the console display polls as if Cancel had been pressed.
void WatchInterrupts();
int InterruptsReceived();

bool StandardErrorIsTerminal();

// Writes prompt to the terminal and reads one line from it with echo off
// (line end removed), for a password. nullopt when the process has none.
std::optional<std::string> ReadSecretLine(const std::string& prompt);

// The user's language setting: the first of LC_ALL, LC_MESSAGES, LANG that is
// set and not empty; empty when none is. On Windows the abbreviated name of
// the user's default language ("DEU", "FRA", "ENU").
std::string UserLanguageSetting();

// What a server's answer says about its body, known once its headers arrived.
struct HttpAnswer {
  // The body continues the bytes the caller holds (a 206 whose Content-Range
  // starts at resumeFrom and names resumeTotal); false: the body is the
  // whole file from its first byte.
  bool continues = false;
  // A 206 for another part or another size of the file: the transfer fails
  // and nothing of its body is handed on; what the caller holds is suspect.
  bool refused = false;
  // The file's strong ETag, else its Last-Modified date; empty when the
  // server named neither. Sent back as If-Range to continue it later.
  std::string validator;
};
// Called once, before the first byte of the body is handed on (or at the end
// of a body that has none, or when the answer is refused); return false to
// stop the transfer. Not called for an answer with an error status.
using HttpAnswerSink = std::function<bool(const HttpAnswer& answer)>;

struct HttpRequest {
  std::string url;
  bool direct = false;  // false: proxies from the environment; true: no proxy
  std::string userAgent;
  long connectTimeoutSeconds = 30;
  // Speed floor: a transfer that averages fewer than lowSpeedBytesPerSecond
  // bytes a second over stallSeconds fails (also one that stops altogether).
  long stallSeconds = 60;
  long lowSpeedBytesPerSecond = 1;
  std::size_t maxBlock = 8192;
  // Byte cap: once more than maxBytes bytes of body arrived the transfer
  // stops and fails; the sink (or the file) receives exactly maxBytes + 1
  // bytes then, so the caller can tell. Negative: no cap.
  std::int64_t maxBytes = -1;
  // Continuing a file: with resumeFrom > 0 the request asks for the body from
  // that byte on (Range) on condition that the file is still the one the
  // validator ifRange names (If-Range). A 206 whose Content-Range does not
  // start at resumeFrom or names another total than resumeTotal (when >= 0)
  // is refused: it fails the transfer before any byte is handed on. Any other
  // answer is the whole file. HttpDownloadToFile ignores these fields.
  std::int64_t resumeFrom = 0;
  std::int64_t resumeTotal = -1;
  std::string ifRange;
  HttpAnswerSink onAnswer;  // may be empty
};
// Every transfer follows redirects to http:// and https:// addresses only; a
// redirect to any other scheme (ftp, file, ...) fails the transfer.
// Receives the body in blocks of at most maxBlock bytes. Return false to stop
// the transfer (write error or cancel).
using HttpBlockSink = std::function<bool(const char* data, std::size_t size)>;
// Called about every 100 ms while the transfer waits for data; return false
// to cancel.
using HttpIdle = std::function<bool()>;
// OK when the whole body was received; otherwise why not (the transfer
// library's or the system's text). An answer with an error status (400 or
// more) fails the transfer before any of its body is handed on, with the
// status named and whether a proxy took part ("the site answered 503 Service
// Unavailable", "the proxy answered 502 Bad Gateway"). HTTPS
// peers are verified against the system's certificate store (on Linux the
// bundle named by CURL_CA_BUNDLE or else SSL_CERT_FILE instead, when set); a
// certificate that does not verify fails the transfer with its cause, in
// English on both systems ("SSL certificate problem: ...").
Status HttpGet(const HttpRequest& request, const HttpBlockSink& sink, const HttpIdle& idle);
// The last-resort method: a plain one-call download of url into path, no
// progress reported; idle as for HttpGet. path is created fresh: whatever
// stands there (a file, a symbolic link) is removed first, never written
// through. The byte cap and speed floor of the request apply, and an error
// status fails it as in HttpGet: nothing of that answer's body is kept.
Status HttpDownloadToFile(const HttpRequest& request, const std::string& path,
                          const HttpIdle& idle = nullptr);

// Decodes the MS COMPRESS "SZDD" stream of source, read from its first byte,
// into target, a new empty file (libmspack on Linux, LZ32 on Windows). The
// decoders take a truncated stream for a whole one and ignore the length in
// the header: comparing it is the caller's part. Whether the stream decoded
// (false: the stream itself is bad); fails with the system's cause when
// reading or writing failed (a full disk, a read error).
StatusOr<bool> ExpandSzdd(File& source, File& target);

}  // namespace os
