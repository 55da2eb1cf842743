#pragma once
// The transfer layer: copies one file from an internet address to a local
// file, trying the preconfigured connection (proxies from the environment),
// the direct connection (no proxy) and a plain one-call download, in that
// order, until one succeeds. Counts progress, obeys Cancel, and computes the
// byte total of the update being downloaded.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/context/run_context.h"
#include "platform/status.h"
#include "support/gathered_writer.h"

inline constexpr int kInternetOpenTypePreconfig = 0;
inline constexpr int kInternetOpenTypeDirect = 1;
inline constexpr const char* kTransferUserAgent = "MARL/TORQUIN TVQ Update";
inline constexpr std::size_t kTransferBlockSize = 8192;

// Limits that make a dead, stalled or trickling server fail a method instead
// of holding the run. Tests shorten them.
struct TransferSettings {
  long connectTimeoutSeconds = 30;     // the connection must be made within this
  // A realistic floor: a site that drips a byte now and then fails the method.
  long stallSeconds = 30;              // averaged over this long, fewer than
  long lowSpeedBytesPerSecond = 1024;  // this many bytes a second fail a method
  // All transfers of one run together end within this: once it is spent,
  // every transfer fails at once (a stalling site ends the run in minutes).
  std::int64_t runBudgetSeconds = 480;
};
const TransferSettings& CurrentTransferSettings();
// Also starts the run's transfer time anew.
void SetTransferSettings(const TransferSettings& settings);
// Starts the run's transfer time (the first transfer starts it otherwise).
void StartTransferBudget();
// Whether the run's transfer time is spent.
bool TransferBudgetSpent();

// Sees the bytes of a fetch as they are written to its target, in order and
// in the pieces written, so that they can be checked without reading the
// file again. Restart is called whenever a method begins writing the target
// afresh; passesThrough tells whether that method's bytes will be handed on
// (the last-resort method writes the file itself, and they are not).
class FetchObserver : public PieceObserver {
 public:
  virtual void Restart(bool passesThrough) = 0;
};

// A file continued where an earlier transfer of it stopped. The target holds
// the first bytes of a file of `total` bytes that the server named
// `validator`; with an empty validator the file is fetched whole.
struct TransferResume {
  std::int64_t total = -1;
  std::string validator;
  // Told, before the first byte a transfer writes, the validator of the
  // bytes the target now receives (empty: they can never be continued).
  // False stops the transfer.
  std::function<bool(const std::string& validator)> onStart;
};

// One transfer with the given access type (kInternetOpenTypePreconfig or
// kInternetOpenTypeDirect). The target is created or truncated first; every
// block of at most 8192 bytes is, given a progress, added to it
// as it arrives (which also pumps the window) and Cancel is looked at; the
// blocks are written to the target a mebibyte at a time. While
// no data arrives the window is pumped about every 100 ms. OK when the
// whole body arrived and was written; otherwise why not ("cannot write
// /tmp/x: No space left on device", "the site sent more than expected",
// the transfer's own cause), also on Cancel.
// An answer with an error status (400 or more) fails, with the status
// named; nothing of its body is written, and a continued target keeps the
// bytes it held.
// The target is created fresh: a link standing there is removed, never
// written through. With maxBytes >= 0 a body longer than maxBytes stops the
// transfer and fails it (the target then holds more than maxBytes bytes).
// An observer, when given, sees every byte of the file, the kept ones of a
// continued file included. With resume, a target that holds part of the file
// is continued: only the rest is asked for, and the target is started anew
// when the server sends the whole file instead; the cap counts the bytes
// already there.
Status InternetFetch(int accessType, const std::string& url, const std::string& targetPath,
                     RunProgress* progress, std::int64_t maxBytes = -1,
                     FetchObserver* observer = nullptr, TransferResume* resume = nullptr);

// Tries the three methods in order until one succeeds, and returns the last
// method's outcome; none is tried when Cancel was already requested or the
// run's transfer time is spent.
// The progress is put back before each further method, so a failed
// method's bytes are not counted twice. A body beyond maxBytes fails the
// fetch without trying further methods: the site itself sent too much.
// With resume, each method continues what the last one left; the last-resort
// method cannot continue and fetches the whole file.
Status FetchFile(const std::string& url, const std::string& targetPath, RunProgress* progress,
                 std::int64_t maxBytes = -1, FetchObserver* observer = nullptr,
                 TransferResume* resume = nullptr);

// As FetchFile, uncounted and unobserved, for a file that is never empty
// (the update list): an empty answer fails its method as well ("the site
// sent an empty answer"), so the next method is tried.
Status FetchNonEmptyFile(const std::string& url, const std::string& targetPath,
                         std::int64_t maxBytes);

// Copies a file of a file:// site, continuing a target that holds the first
// bytes of it (resume as for InternetFetch; the validator is the source's
// size and date). Only an ordinary file is read, and never more than one
// byte past listedSize (when >= 0). Progress is counted, Cancel obeyed.
Status CopyLocalFile(const std::string& source, const std::string& targetPath,
                     std::int64_t listedSize, TransferResume* resume, RunProgress& progress);

// Sums the sizes of the entries of a <files> section (line breaks already
// removed), logs "total bytes to be downloaded (cur set): N" and returns the
// sum.
std::int64_t CountCurrentSetBytes(std::string_view files);
