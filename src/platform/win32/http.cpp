// HTTP(S) transfers on WinInet and URLMON: os::HttpGet and os::HttpDownloadToFile.
// The blocking library calls run on a worker thread that does nothing but
// wait for the library; the sink, the idle callback and every decision stay
// on the calling (window) thread. That thread wakes about every 100 ms, so
// the window is pumped and Cancel honoured while no data arrives, and a dead
// or stalled server fails the method instead of holding the run for ever.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

// wide.h brings <windows.h> with the backend's macro settings.
#include "platform/win32/wide.h"
#include <urlmon.h>
#include <wininet.h>

#include "platform/http_answer.h"
#include "platform/os.h"

namespace os {
namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr auto kIdleInterval = std::chrono::milliseconds(100);
// Reads: what is available, growing up to kMaxRead while WinInet's buffer
// stays full. Each read is also kept to what arrived in about kReadSpan at the
// last read's pace, so a server that slows down keeps reaching the caller.
constexpr DWORD kFullBuffer = 8192;
constexpr DWORD kMaxRead = 1 << 20;
constexpr auto kReadSpan = std::chrono::milliseconds(20);
// How far the worker may read ahead of the sink.
constexpr std::size_t kMaxQueuedBytes = 1 << 20;
constexpr std::size_t kSpareBlocks = 4;
// A fresh copy from the server every time, and none kept: the update list is
// read twice to see that it is stable, which a cached copy would defeat.
constexpr DWORD kOpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

DWORD Milliseconds(long seconds) {
  return static_cast<DWORD>(std::clamp<long>(seconds, 1, 24 * 3600) * 1000);
}

// Connect and receive time-outs of a WinInet handle; a null handle sets the
// process-wide values that URLMON's own sessions take.
void SetTimeouts(HINTERNET handle, const HttpRequest& request) {
  DWORD connect = Milliseconds(request.connectTimeoutSeconds);
  DWORD receive = Milliseconds(request.stallSeconds);
  InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
  InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &receive, sizeof receive);
  InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
}

// Watches a transfer from the calling thread: calls idle about every 100 ms
// and decides when a server fails the method -- no connection within
// connectTimeoutSeconds, no byte for stallSeconds, or fewer than
// lowSpeedBytesPerSecond bytes a second averaged over a stallSeconds window. The library's own time-outs are not relied on alone:
// Wine's WinInet ignores the connect time-out.
class Watch {
 public:
  Watch(const HttpRequest& request, const HttpIdle& idle)
      : idle_(idle),
        connect_(std::chrono::seconds(std::max(request.connectTimeoutSeconds, 1L))),
        stall_(std::chrono::seconds(std::max(request.stallSeconds, 1L))),
        floorBytes_(static_cast<std::uint64_t>(std::max(request.stallSeconds, 1L)) *
                    static_cast<std::uint64_t>(std::max(request.lowSpeedBytesPerSecond, 1L))),
        start_(SteadyClock::now()),
        lastData_(start_),
        windowStart_(lastData_),
        lastIdle_(lastData_) {}

  void Received(std::uint64_t bytes) {
    if (bytes == 0) return;
    lastData_ = SteadyClock::now();
    windowBytes_ += bytes;
  }

  // False when the transfer must stop: not connected in time, stalled, too
  // slow, or idle refused; Reason() then says which.
  bool Tick(bool connected) {
    const auto now = SteadyClock::now();
    if (!connected && now - start_ > connect_) return Stop("no connection could be made in time");
    if (now - lastData_ > stall_) return Stop("the site sent nothing for too long");
    if (now - windowStart_ >= stall_) {
      if (windowBytes_ < floorBytes_) return Stop("the site sends too slowly");
      windowStart_ = now;
      windowBytes_ = 0;
    }
    if (now - lastIdle_ >= kIdleInterval) {
      lastIdle_ = now;
      if (idle_ && !idle_()) return Stop("the transfer was stopped");
    }
    return true;
  }
  const char* Reason() const { return reason_; }

  SteadyClock::time_point NextWake() const { return lastIdle_ + kIdleInterval; }

 private:
  bool Stop(const char* reason) {
    reason_ = reason;
    return false;
  }
  const char* reason_ = "";
  const HttpIdle& idle_;
  const SteadyClock::duration connect_;
  const SteadyClock::duration stall_;
  const std::uint64_t floorBytes_;
  const SteadyClock::time_point start_;
  SteadyClock::time_point lastData_;
  SteadyClock::time_point windowStart_;
  SteadyClock::time_point lastIdle_;
  std::uint64_t windowBytes_ = 0;
};

// A WinInet handle, closed when the object goes.
class InetHandle {
 public:
  explicit InetHandle(HINTERNET handle) : handle_(handle) {}
  ~InetHandle() {
    if (handle_) InternetCloseHandle(handle_);
  }
  InetHandle(const InetHandle&) = delete;
  InetHandle& operator=(const InetHandle&) = delete;
  HINTERNET get() const { return handle_; }

 private:
  HINTERNET handle_;
};

// What the WinInet worker and the calling thread share. Only the worker
// touches its handles: a handle closed from another thread may be handed out
// again at once, and the worker's next call would then read another
// transfer's data. A worker that was given up ends within its time-outs; the
// calling thread does not wait for it.
struct InetFetch {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> blocks;  // read, not yet handed to the sink
  // Blocks the sink is done with, for the worker to read into again: fresh
  // megabyte buffers cost the system a page fault for every page.
  std::vector<std::string> spare;
  std::size_t queuedBytes = 0;
  bool abort = false;      // set by the calling thread when it gives up
  bool connected = false;  // a connection to the server (or proxy) stands
  bool finished = false;   // set by the worker when it has ended
  bool complete = false;   // ... after the whole body was read
  bool answered = false;   // the answer's headers are in `answer`
  HttpAnswer answer;
  std::string failure;     // ... or why it ended early (the system's text)

  void MarkConnected() {
    std::lock_guard<std::mutex> lock(mutex);
    connected = true;
  }
  // A buffer of want bytes, a spare one when there is one.
  std::string Buffer(DWORD want) {
    std::string block;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!spare.empty()) {
        block = std::move(spare.back());
        spare.pop_back();
      }
    }
    block.resize(want);
    return block;
  }
  bool Aborted() {
    std::lock_guard<std::mutex> lock(mutex);
    return abort;
  }
  void Abort() {
    std::lock_guard<std::mutex> lock(mutex);
    abort = true;
    changed.notify_all();
  }
};

// WinInet's progress reports (on the worker thread); the context is the
// transfer's InetFetch, which outlives its handles.
void CALLBACK OnInetStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
  if (context && (status == INTERNET_STATUS_CONNECTED_TO_SERVER ||
                  status == INTERNET_STATUS_SENDING_REQUEST ||
                  status == INTERNET_STATUS_RECEIVING_RESPONSE))
    reinterpret_cast<InetFetch*>(context)->MarkConnected();
}

// The text of an error code from a module's message table or the system's;
// empty when neither has one.
std::string ModuleErrorText(const wchar_t* module, DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                       FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   ::GetModuleHandleW(module), code, 0, reinterpret_cast<wchar_t*>(&text), 0,
                                   nullptr);
  std::wstring message = n > 0 && text ? std::wstring(text, n) : std::wstring();
  if (text) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
    message.pop_back();
  return win32::Utf8(message);
}

// What a certificate or secure-channel failure means, said as the Linux
// backend's transfer library says it ("SSL certificate problem: ..."), in
// English like that library's texts, so that the account reads alike on
// both systems; empty for any other code. host: the site's host name, for
// the failure that is about the name.
std::string CertificateFailureText(DWORD code, const std::string& host) {
  const auto problem = [code](const std::string& what) {
    return "SSL certificate problem: " + what + " (error " + std::to_string(code) + ")";
  };
  switch (code) {
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
      return problem("the certificate's name does not match the site's host name '" + host + "'");
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
      return problem("the certificate has expired or is not yet valid");
    case ERROR_INTERNET_INVALID_CA: return problem("the certificate is not issued by a trusted authority");
    // Also what a chain reports whose issuer is not in the store at all.
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
      return problem("the certificate's revocation could not be checked (its issuer is unknown, or "
                     "its revocation list could not be reached)");
    case ERROR_INTERNET_SEC_CERT_NO_REV: return problem("the certificate's revocation could not be checked");
    case ERROR_INTERNET_SEC_CERT_REVOKED: return problem("the certificate has been revoked");
    case ERROR_INTERNET_SEC_INVALID_CERT: return problem("the certificate is invalid");
    case ERROR_INTERNET_SEC_CERT_ERRORS: return problem("the certificate has more than one fault");
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
      return "SSL problem: the secure channel could not be set up (error " + std::to_string(code) + ")";
    default: return {};
  }
}

// WinInet's text for an error code: a certificate failure named as above,
// else WinInet's own message table where the system has one, else the
// well-known meaning of the common codes.
std::string InetErrorText(DWORD code, const std::string& host) {
  if (std::string certificate = CertificateFailureText(code, host); !certificate.empty())
    return certificate;
  const std::string message = ModuleErrorText(L"wininet.dll", code);
  if (!message.empty()) return message + " (error " + std::to_string(code) + ")";
  switch (code) {
    case ERROR_INTERNET_TIMEOUT: return "the request timed out (error 12002)";
    case ERROR_INTERNET_NAME_NOT_RESOLVED: return "the server name could not be resolved (error 12007)";
    case ERROR_INTERNET_CANNOT_CONNECT: return "the connection to the server could not be made (error 12029)";
    case ERROR_INTERNET_CONNECTION_ABORTED: return "the connection was aborted (error 12030)";
    case ERROR_INTERNET_CONNECTION_RESET: return "the connection was reset (error 12031)";
    case ERROR_HTTP_INVALID_SERVER_RESPONSE: return "the server's answer could not be read (error 12152)";
    default: return "WinInet error " + std::to_string(code);
  }
}

// The length the server announced, or -1 when it announced none.
std::int64_t AnnouncedLength(HINTERNET request) {
  wchar_t text[32] = {};
  DWORD size = sizeof text;
  DWORD index = 0;
  if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, &index)) return -1;
  wchar_t* end = nullptr;
  const unsigned long long length = std::wcstoull(text, &end, 10);
  return end != text && *end == L'\0' ? static_cast<std::int64_t>(length) : -1;
}

// A header of the answer as the server wrote it; empty when it sent none.
std::string AnswerHeader(HINTERNET request, DWORD which) {
  wchar_t text[1024] = {};
  DWORD size = sizeof text - sizeof(wchar_t);
  DWORD index = 0;
  if (!HttpQueryInfoW(request, which, text, &size, &index)) return {};
  return win32::Utf8(text);
}

// True for an address whose scheme is http or https, the only ones a
// transfer may be sent on to.
bool IsWebAddress(std::wstring_view address) {
  const auto starts = [&](std::wstring_view scheme) {
    return address.size() >= scheme.size() &&
           std::equal(scheme.begin(), scheme.end(), address.begin(),
                      [](wchar_t a, wchar_t b) { return std::towlower(b) == a; });
  };
  return starts(L"http://") || starts(L"https://");
}

// Whether the request went through a proxy. WinInet does not tell whether
// the proxy made an answer or passed on the site's.
AnswerRoute RouteOf(HINTERNET request) {
  DWORD flags = 0;
  DWORD size = sizeof flags;
  const bool known = InternetQueryOptionW(request, INTERNET_OPTION_REQUEST_FLAGS, &flags, &size);
  if (!known) return AnswerRoute::Unknown;
  return (flags & INTERNET_REQFLAG_VIA_PROXY) != 0 ? AnswerRoute::ThroughProxy : AnswerRoute::Site;
}

// Judges the answer's headers (the status, the range check and the
// validator) and hands them to the calling thread. Empty when the body may
// be read, else why not: an error status, a 206 for another part, or a
// redirect WinInet left unfollowed (it follows http and https itself, never
// another protocol). An error answer never reaches the calling thread.
std::string TakeAnswer(InetFetch& fetch, HINTERNET request, const HttpRequest& asked) {
  DWORD status = 0;
  DWORD size = sizeof status;
  DWORD index = 0;
  HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index);
  if (status >= 400) return ErrorStatusText(static_cast<long>(status), RouteOf(request));
  if (status >= 300 && status < 400 && !AnswerHeader(request, HTTP_QUERY_LOCATION).empty())
    return "the site redirected to an address that is not http or https";
  const RangeVerdict verdict = JudgeRangeAnswer(
      asked, static_cast<long>(status), AnswerHeader(request, HTTP_QUERY_CONTENT_RANGE));
  std::lock_guard<std::mutex> lock(fetch.mutex);
  fetch.answer.continues = verdict == RangeVerdict::Continues;
  fetch.answer.refused = verdict == RangeVerdict::Mismatch;
  fetch.answer.validator = ChooseValidator(AnswerHeader(request, HTTP_QUERY_ETAG),
                                           AnswerHeader(request, HTTP_QUERY_LAST_MODIFIED));
  fetch.answered = true;
  fetch.changed.notify_all();
  return fetch.answer.refused ? "the site answered with another part of the file" : std::string();
}

// Keeps WinInet's text for the call that just failed; false.
bool Failed(std::string& failure) {
  failure = InetErrorText(::GetLastError(), {});
  return false;
}

// Reads the body into the queue. True at its end when the server sent as
// many bytes as it announced (in Content-Length, or for a part of a file in
// Content-Range): WinInet reports a dropped connection as a normal end of
// the body, a chunked one included.
bool ReadInto(InetFetch& fetch, HINTERNET request, std::string& failure) {
  std::int64_t announced = AnnouncedLength(request);
  if (announced < 0) announced = ContentRangeLength(AnswerHeader(request, HTTP_QUERY_CONTENT_RANGE));
  std::int64_t total = 0;
  DWORD burst = 0;
  DWORD paced = kMaxRead;  // what the last read's pace allows in kReadSpan
  for (;;) {
    // A read waits until its buffer is full, so it asks for what is there:
    // a slow server's bytes reach the caller at once. While the server keeps
    // WinInet's buffer full, reads grow, which cuts the cost per byte: each
    // WinInet call is a round trip through the system.
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request, &available, 0, 0)) return Failed(failure);
    burst = available >= kFullBuffer
                ? std::clamp<DWORD>(std::min(burst * 2, paced), kFullBuffer, kMaxRead)
                : 0;
    const DWORD want = std::max<DWORD>({available, burst, 1});
    std::string block = fetch.Buffer(want);
    DWORD count = 0;
    const auto start = SteadyClock::now();
    if (!InternetReadFile(request, block.data(), want, &count)) return Failed(failure);
    if (count == 0) {
      if (announced < 0 || total == announced) return true;
      failure = "the connection ended before the whole body arrived";
      return false;
    }
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - start);
    paced = static_cast<DWORD>(std::min<std::int64_t>(
        kMaxRead, std::int64_t{count} * std::chrono::microseconds(kReadSpan).count() /
                      std::max<std::int64_t>(took.count(), 1)));
    total += count;
    block.resize(count);
    std::unique_lock<std::mutex> lock(fetch.mutex);
    fetch.changed.wait(lock, [&] { return fetch.abort || fetch.queuedBytes < kMaxQueuedBytes; });
    if (fetch.abort) return false;
    fetch.queuedBytes += count;
    fetch.blocks.push_back(std::move(block));
    fetch.changed.notify_all();
  }
}

// The parts of an http or https address that a request needs.
struct Target {
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring object;  // path and query
  bool secure = false;
};

std::optional<Target> CrackAddress(const std::string& url) {
  const std::wstring address = win32::Wide(url);
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = 1;  // non-zero: report where each part lies
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (address.empty() ||
      !InternetCrackUrlW(address.c_str(), static_cast<DWORD>(address.size()), 0, &parts) ||
      (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) ||
      parts.dwHostNameLength == 0)
    return std::nullopt;
  Target target;
  target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  target.port = parts.nPort;
  if (parts.lpszUrlPath) target.object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) target.object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (target.object.empty()) target.object = L"/";
  target.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return target;
}

// The worker: a session with the request's access type, then a GET request
// sent and its body read. This is what InternetOpenUrl does, in steps, so
// that the time-outs are set on the request before it is sent.
void ReadBody(const std::shared_ptr<InetFetch>& fetch, const HttpRequest& request) {
  std::string failure;
  const std::optional<Target> target = CrackAddress(request.url);
  const auto finish = [&](bool complete) {
    // The call that failed last left its code (none after an abort).
    const DWORD code = complete || !failure.empty() ? 0 : ::GetLastError();
    if (code != ERROR_SUCCESS) failure = InetErrorText(code, target ? win32::Utf8(target->host) : "");
    std::lock_guard<std::mutex> lock(fetch->mutex);
    fetch->finished = true;
    fetch->complete = complete && !fetch->abort;
    fetch->failure = failure;
    fetch->changed.notify_all();
  };
  const std::wstring agent = win32::Wide(request.userAgent);
  const DWORD access = request.direct ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PRECONFIG;
  if (!target) {
    failure = "not an http or https address";
    return finish(false);
  }
  InetHandle root(InternetOpenW(agent.c_str(), access, nullptr, nullptr, 0));
  if (!root.get()) return finish(false);
  SetTimeouts(root.get(), request);
  InternetSetStatusCallbackW(root.get(), OnInetStatus);
  const auto context = reinterpret_cast<DWORD_PTR>(fetch.get());
  InetHandle connection(InternetConnectW(root.get(), target->host.c_str(), target->port, nullptr,
                                         nullptr, INTERNET_SERVICE_HTTP, 0, context));
  if (!connection.get()) return finish(false);
  if (fetch->Aborted()) {
    failure = "the transfer was stopped";
    return finish(false);
  }
  SetTimeouts(connection.get(), request);
  const wchar_t* accept[] = {L"*/*", nullptr};
  const DWORD flags = kOpenUrlFlags | (target->secure ? INTERNET_FLAG_SECURE : 0);
  InetHandle sent(HttpOpenRequestW(connection.get(), L"GET", target->object.c_str(), nullptr,
                                   nullptr, accept, flags, context));
  if (!sent.get()) return finish(false);
  SetTimeouts(sent.get(), request);
  // Asks for the rest of a file (Range, If-Range) when it continues one.
  const std::wstring headers = win32::Wide(RangeHeaders(request));
  if (!HttpSendRequestW(sent.get(), headers.empty() ? nullptr : headers.c_str(),
                        static_cast<DWORD>(headers.size()), nullptr, 0))
    return finish(false);
  if (!fetch->Aborted()) failure = TakeAnswer(*fetch, sent.get(), request);
  if (!failure.empty()) return finish(false);
  finish(!fetch->Aborted() && ReadInto(*fetch, sent.get(), failure));
}

// What the URLMON worker and the calling thread share.
struct UrlDownload {
  std::mutex mutex;
  std::condition_variable changed;
  ULONG progress = 0;           // bytes URLMON last reported
  ULONG announced = 0;          // the length the server announced; 0: none
  bool connected = false;       // URLMON is past connecting
  bool redirectRefused = false; // the site sent it on to another protocol
  DWORD errorStatus = 0;        // the answer's status when 400 or more
  IBinding* binding = nullptr;  // the running download, for Abort
  bool abort = false;
  bool finished = false;
  HRESULT result = E_FAIL;

  void Abort() {
    IBinding* running = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex);
      abort = true;
      running = binding;
      if (running) running->AddRef();
    }
    // Outside the lock: URLMON may call back into OnStopBinding from Abort.
    if (running) {
      running->Abort();
      running->Release();
    }
  }
};

// Reports URLMON's progress to the calling thread and refuses to go on once
// the transfer was given up. It also sees each answer's status: URLMON does
// not follow a redirect to another protocol, and would otherwise save the
// redirect's own body as the file; and it saves an error page as if it were
// the file.
class BindCallback final : public IBindStatusCallback, public IHttpNegotiate {
 public:
  explicit BindCallback(UrlDownload& download) : download_(download) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
      *object = static_cast<IBindStatusCallback*>(this);
      AddRef();
      return S_OK;
    }
    if (riid == IID_IHttpNegotiate) {
      *object = static_cast<IHttpNegotiate*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* binding) override {
    std::lock_guard<std::mutex> lock(download_.mutex);
    if (download_.abort) return E_ABORT;
    if (binding) binding->AddRef();
    download_.binding = binding;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG status,
                                       LPCWSTR text) override {
    std::lock_guard<std::mutex> lock(download_.mutex);
    // A redirect is followed only to http or https (text: the new address).
    if (status == BINDSTATUS_REDIRECTING && !IsWebAddress(text ? text : L"")) {
      download_.redirectRefused = true;
      return E_ABORT;
    }
    if (status == BINDSTATUS_SENDINGREQUEST || status == BINDSTATUS_MIMETYPEAVAILABLE ||
        status == BINDSTATUS_REDIRECTING || status == BINDSTATUS_BEGINDOWNLOADDATA)
      download_.connected = true;
    if (status == BINDSTATUS_BEGINDOWNLOADDATA || status == BINDSTATUS_DOWNLOADINGDATA ||
        status == BINDSTATUS_ENDDOWNLOADDATA) {
      download_.progress = progress;
      download_.announced = std::max(download_.announced, progressMax);
      download_.changed.notify_all();
    }
    return download_.abort ? E_ABORT : S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override {
    std::lock_guard<std::mutex> lock(download_.mutex);
    if (download_.binding) download_.binding->Release();
    download_.binding = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO*) override {
    if (flags) *flags |= BINDF_GETNEWESTVERSION;  // never a cached copy
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

  HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* extra) override {
    if (extra) *extra = nullptr;
    return S_OK;
  }
  // A redirect that reaches this point was not followed; an error answer
  // stops the download.
  HRESULT STDMETHODCALLTYPE OnResponse(DWORD status, LPCWSTR, LPCWSTR, LPWSTR* extra) override {
    if (extra) *extra = nullptr;
    if (status < 300) return S_OK;
    std::lock_guard<std::mutex> lock(download_.mutex);
    if (status >= 400)
      download_.errorStatus = status;
    else
      download_.redirectRefused = true;
    return E_ABORT;
  }

 private:
  ~BindCallback() = default;
  UrlDownload& download_;
  std::atomic<ULONG> references_{1};
};

// The worker: one blocking URLDownloadToFile call in its own COM apartment.
void DownloadFile(const std::shared_ptr<UrlDownload>& download, const std::wstring& address,
                  const std::wstring& path) {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  auto* callback = new BindCallback(*download);
  HRESULT result = address.empty() || path.empty()
                       ? E_INVALIDARG
                       : URLDownloadToFileW(nullptr, address.c_str(), path.c_str(), 0, callback);
  callback->Release();
  // Success is a written file: URLMON may report S_OK for a target it could
  // not create (a missing directory).
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (result == S_OK &&
      (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0))
    result = E_FAIL;
  if (SUCCEEDED(init)) CoUninitialize();
  std::lock_guard<std::mutex> lock(download->mutex);
  download->result = result;
  download->finished = true;
  download->changed.notify_all();
}

// Why URLDownloadToFile failed, with the system's text where it has one.
// URLMON names a refused connection only as a failed download: one that
// never got past connecting says so. A certificate that does not verify
// also ends before connecting is reported; it is named as WinInet's are.
std::string DownloadFailureText(HRESULT result, bool connected) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
  if (result == INET_E_INVALID_CERTIFICATE)
    return std::string("SSL certificate problem: the certificate is invalid or not trusted (") + code + ")";
  if (!connected || result == INET_E_CANNOT_CONNECT)
    return std::string("the connection to the server could not be made (") + code + ")";
  const std::string message = ModuleErrorText(L"urlmon.dll", static_cast<DWORD>(result));
  return "the download failed: " + (message.empty() ? std::string("error ") + code : message + " (" + code + ")");
}

// URLMON takes its user agent and time-outs from process-wide settings.
void ApplySessionSettings(const HttpRequest& request) {
  std::string agent = request.userAgent;
  UrlMkSetSessionOption(URLMON_OPTION_USERAGENT, agent.data(), static_cast<DWORD>(agent.size()), 0);
  SetTimeouts(nullptr, request);
}

// Starts a worker thread; nullopt when the system has none to give.
template <class Work>
std::optional<std::thread> StartWorker(Work&& work) {
  try {
    return std::thread(std::forward<Work>(work));
  } catch (const std::system_error&) {
    return std::nullopt;
  }
}

}  // namespace

namespace {

// What the worker has brought since the calling thread last looked.
struct FetchProgress {
  bool finished = false;
  bool complete = false;
  bool connected = false;
  std::optional<HttpAnswer> answer;  // the answer, the first time it is there
  std::string failure;
};

// Waits until the worker has read something, ended, or the watch wants to
// look; hands the blocks already delivered back for reuse and takes the new
// ones into ready.
FetchProgress TakeWhatArrived(InetFetch& fetch, Watch& watch, std::deque<std::string>& ready,
                              bool answerTaken) {
  FetchProgress progress;
  std::unique_lock<std::mutex> lock(fetch.mutex);
  fetch.changed.wait_until(lock, watch.NextWake(),
                           [&] { return fetch.finished || !fetch.blocks.empty(); });
  for (std::string& block : ready)
    if (fetch.spare.size() < kSpareBlocks) fetch.spare.push_back(std::move(block));
  ready.clear();
  ready.swap(fetch.blocks);
  fetch.queuedBytes = 0;
  progress.finished = fetch.finished;
  progress.complete = fetch.complete;
  progress.failure = fetch.failure;
  progress.connected = fetch.connected;
  if (fetch.answered && !answerTaken) progress.answer = fetch.answer;
  fetch.changed.notify_all();
  return progress;
}

// Hands blocks to the sink in pieces of at most maxBlock bytes; the sink
// receives at most maxBytes + 1 bytes, then the transfer fails.
class CappedDelivery {
 public:
  CappedDelivery(const HttpBlockSink& sink, const HttpRequest& request)
      : sink_(sink),
        maxBlock_(std::max<std::size_t>(request.maxBlock, 1)),
        cap_(request.maxBytes < 0 ? UINT64_MAX : static_cast<std::uint64_t>(request.maxBytes) + 1) {}
  // False when the sink refused a piece or the cap was reached.
  bool Deliver(const std::string& block) {
    for (std::size_t done = 0; done < block.size(); done += maxBlock_) {
      const std::size_t piece = static_cast<std::size_t>(
          std::min<std::uint64_t>({maxBlock_, block.size() - done, cap_ - delivered_}));
      const bool accepted = sink_(block.data() + done, piece);
      delivered_ += piece;
      if (delivered_ >= cap_) overCap_ = true;
      if (!accepted || overCap_) return false;
    }
    return true;
  }
  bool overCap() const { return overCap_; }

 private:
  const HttpBlockSink& sink_;
  const std::size_t maxBlock_;
  const std::uint64_t cap_;
  std::uint64_t delivered_ = 0;
  bool overCap_ = false;
};

}  // namespace

Status HttpGet(const HttpRequest& request, const HttpBlockSink& sink, const HttpIdle& idle) {
  const auto fail = [](const std::string& why) { return Status::Error(why); };
  auto fetch = std::make_shared<InetFetch>();
  std::optional<std::thread> worker = StartWorker([fetch, request] { ReadBody(fetch, request); });
  if (!worker) return fail("the transfer could not be set up");
  // Ends the transfer early: the worker ends on its own, within its time-outs.
  const auto abandon = [&](const std::string& why) {
    fetch->Abort();
    worker->detach();
    return fail(why);
  };
  CappedDelivery delivery(sink, request);
  Watch watch(request, idle);
  std::deque<std::string> ready;
  bool answerTaken = false;
  for (;;) {
    const FetchProgress progress = TakeWhatArrived(*fetch, watch, ready, answerTaken);
    // The answer is judged before its first byte is handed on.
    if (progress.answer) {
      answerTaken = true;
      const bool wanted = !request.onAnswer || request.onAnswer(*progress.answer);
      if (progress.answer->refused) return abandon("the site answered with another part of the file");
      if (!wanted) return abandon("the transfer was stopped");
    }
    bool accepted = true;
    for (const std::string& block : ready) {
      watch.Received(block.size());
      if (!(accepted = delivery.Deliver(block))) break;
    }
    if (accepted && progress.finished) {
      worker->join();
      if (progress.complete) return Status();
      return fail(progress.failure.empty() ? "the connection ended before the whole body arrived"
                                           : progress.failure);
    }
    if (delivery.overCap()) return abandon("the site sent more than expected");
    if (!accepted) return abandon("the transfer was stopped");
    if (!watch.Tick(progress.connected)) return abandon(watch.Reason());
  }
}

Status HttpDownloadToFile(const HttpRequest& request, const std::string& path,
                          const HttpIdle& idle) {
  const auto fail = [](const std::string& why) { return Status::Error(why); };
  // Created fresh: whatever stands at the path is removed first.
  ::DeleteFileW(win32::WidePath(path).c_str());
  ApplySessionSettings(request);
  auto download = std::make_shared<UrlDownload>();
  std::optional<std::thread> worker =
      StartWorker([download, address = win32::Wide(request.url), target = win32::WidePath(path)] {
        DownloadFile(download, address, target);
      });
  if (!worker) return fail("the transfer could not be set up");
  const auto overCap = [&](std::uint64_t bytes) {
    return request.maxBytes >= 0 && bytes > static_cast<std::uint64_t>(request.maxBytes);
  };
  Watch watch(request, idle);
  ULONG seen = 0;
  for (;;) {
    bool connected = false;
    {
      std::unique_lock<std::mutex> lock(download->mutex);
      download->changed.wait_until(lock, watch.NextWake(),
                                   [&] { return download->finished || download->progress != seen; });
      watch.Received(static_cast<ULONG>(download->progress - seen));
      seen = download->progress;
      connected = download->connected;
      if (download->finished) {
        const HRESULT result = download->result;
        const ULONG announced = download->announced;
        const bool redirectRefused = download->redirectRefused;
        const DWORD errorStatus = download->errorStatus;
        lock.unlock();
        worker->join();
        if (redirectRefused) return fail("the site redirected to an address that is not http or https");
        // URLMON does not say whether a proxy took part.
        if (errorStatus != 0) {
          ::DeleteFileW(win32::WidePath(path).c_str());
          return fail(ErrorStatusText(static_cast<long>(errorStatus), AnswerRoute::Unknown));
        }
        if (result != S_OK) return fail(DownloadFailureText(result, connected));
        const std::int64_t size = StatPath(path).size;
        if (overCap(static_cast<std::uint64_t>(size))) return fail("the site sent more than expected");
        // URLMON reports a connection dropped mid-body as a success.
        if (announced > 0 && size < static_cast<std::int64_t>(announced))
          return fail("the connection ended before the whole body arrived (" + std::to_string(size) + " of " +
                      std::to_string(announced) + " bytes)");
        return Status();
      }
    }
    const bool tooMuch = overCap(seen);
    if (tooMuch || !watch.Tick(connected)) {
      download->Abort();
      worker->detach();  // ends on its own, within its time-outs
      return fail(tooMuch ? "the site sent more than expected" : watch.Reason());
    }
  }
}

}  // namespace os
