// HTTP(S) transfers on libcurl: os::HttpGet and os::HttpDownloadToFile.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <curl/curl.h>

#include "platform/http_answer.h"
#include "platform/os.h"

namespace os {
namespace {

constexpr long kIdleIntervalMs = 100;
constexpr long kMaxRedirects = 20;
// libcurl's receive buffer: each read from the socket takes up to this much,
// which keeps the system calls per byte low; the sink still receives blocks
// of at most maxBlock bytes.
constexpr long kReceiveBufferBytes = 256 * 1024;

// Like curl, a private authority can be trusted through CURL_CA_BUNDLE or,
// failing that, SSL_CERT_FILE; with neither the system's store is used.
std::string CaBundleFromEnvironment() {
  for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
    if (auto value = GetEnvVar(name); value && !value->empty()) return *value;
  }
  return {};
}

void GlobalInitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Owns an easy handle and, while a transfer runs, a multi handle around it.
struct Transfer {
  CURL* easy = nullptr;
  CURLM* multi = nullptr;
  curl_slist* headers = nullptr;
  ~Transfer() {
    if (headers) curl_slist_free_all(headers);
    if (multi) {
      if (easy) curl_multi_remove_handle(multi, easy);
      curl_multi_cleanup(multi);
    }
    if (easy) curl_easy_cleanup(easy);
  }
};

// The options every method shares: address, agent, redirects, proxy choice,
// and the limits that make a dead or stalled server fail the method.
bool Configure(CURL* easy, const HttpRequest& request) {
  bool ok = curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str()) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_USERAGENT, request.userAgent.c_str()) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK;
  // Redirects are followed to http and https only, never to ftp:// or file://.
  ok = ok && curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, request.connectTimeoutSeconds) ==
                 CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT,
                                  std::max(request.lowSpeedBytesPerSecond, 1L)) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, request.stallSeconds) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
  if (const std::string bundle = CaBundleFromEnvironment(); !bundle.empty())
    ok = ok && curl_easy_setopt(easy, CURLOPT_CAINFO, bundle.c_str()) == CURLE_OK;
  if (request.direct) {
    ok = ok && curl_easy_setopt(easy, CURLOPT_NOPROXY, "*") == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_PROXY, "") == CURLE_OK;
  }
  return ok;
}

using SteadyClock = std::chrono::steady_clock;

struct SinkState {
  const HttpBlockSink* sink = nullptr;
  std::size_t maxBlock = 1;
  std::int64_t maxBytes = -1;
  std::int64_t received = 0;
  bool overCap = false;
  // The answer's headers, for the range check and the validator; each
  // answer of a redirect chain starts them anew.
  const HttpRequest* request = nullptr;
  CURL* easy = nullptr;
  std::string etag, lastModified, contentRange;
  bool answered = false;
  std::string refusal;       // why the answer was refused; empty when taken
  bool viaProxy = false;     // the last request went to a proxy, untunnelled
};

// Notes whether the last request went to a proxy: only then does libcurl
// send its target in absolute form ("GET http://site/path HTTP/1.1"). A
// tunnelled request shows in the CONNECT code instead.
int WatchRequest(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  if (type != CURLINFO_HEADER_OUT) return 0;
  const std::string_view header(data, size);
  const std::string_view method = header.substr(0, header.find(' '));
  const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
  const bool isMethod = !method.empty() && method.size() < header.size() &&
                        std::all_of(method.begin(), method.end(), upper);
  if (!isMethod || method == "CONNECT") return 0;  // a later piece of the header, or a tunnel
  const std::string_view target = header.substr(method.size() + 1);
  if (target.rfind("http://", 0) == 0 || target.rfind("https://", 0) == 0)
    static_cast<SinkState*>(user)->viaProxy = true;
  else if (target.rfind("/", 0) == 0)
    static_cast<SinkState*>(user)->viaProxy = false;
  return 0;
}

// The proxy's answer to the CONNECT of a tunnel; 0 when there was none.
long TunnelAnswer(CURL* easy) {
  long connectCode = 0;
  curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &connectCode);
  return connectCode;
}

// Why the final answer fails the transfer by its status; empty when it does not.
std::string StatusRefusal(const SinkState& state, long status) {
  const bool throughProxy = state.viaProxy || TunnelAnswer(state.easy) != 0;
  return ErrorStatusText(status, throughProxy ? AnswerRoute::ThroughProxy : AnswerRoute::Site);
}

size_t ReadHeader(char* data, size_t size, size_t count, void* user) {
  auto* state = static_cast<SinkState*>(user);
  const std::string_view line(data, size * count);
  if (line.rfind("HTTP/", 0) == 0) {
    state->etag.clear();
    state->lastModified.clear();
    state->contentRange.clear();
  }
  HeaderValue(line, "etag", state->etag) || HeaderValue(line, "last-modified", state->lastModified) ||
      HeaderValue(line, "content-range", state->contentRange);
  return size * count;
}

// Judges the final answer once, before its first body byte: an error status
// or a 206 for another part of the file stops the transfer, and the caller
// learns whether the body continues its bytes or starts the file anew. An
// error answer is refused before the caller hears of it, so what it holds
// stays as it was.
bool DeliverAnswer(SinkState& state) {
  if (state.answered) return state.refusal.empty();
  state.answered = true;
  long status = 0;
  curl_easy_getinfo(state.easy, CURLINFO_RESPONSE_CODE, &status);
  state.refusal = StatusRefusal(state, status);
  if (!state.refusal.empty()) return false;
  const RangeVerdict verdict = JudgeRangeAnswer(*state.request, status, state.contentRange);
  HttpAnswer answer;
  answer.continues = verdict == RangeVerdict::Continues;
  answer.refused = verdict == RangeVerdict::Mismatch;
  answer.validator = ChooseValidator(state.etag, state.lastModified);
  if (answer.refused) state.refusal = "the site answered with another part of the file";
  const bool wanted = !state.request->onAnswer || state.request->onAnswer(answer);
  return wanted && !answer.refused;
}

// Hands what libcurl delivers to the sink in blocks of at most maxBlock bytes;
// a refused block stops the transfer, and so does a body beyond the cap.
// The clock is not read here: the transfer loop sees the count grow.
size_t WriteToSink(char* data, size_t size, size_t count, void* user) {
  auto* state = static_cast<SinkState*>(user);
  const std::size_t total = size * count;
  if (!DeliverAnswer(*state)) return 0;
  // Beyond the cap only the first byte too many is handed on, then it stops.
  const bool capped = state->maxBytes >= 0 &&
                      state->received + static_cast<std::int64_t>(total) > state->maxBytes;
  const std::size_t deliver =
      capped ? static_cast<std::size_t>(state->maxBytes + 1 - state->received) : total;
  state->received += static_cast<std::int64_t>(deliver);
  for (std::size_t done = 0; done < deliver;) {
    const std::size_t n = std::min(state->maxBlock, deliver - done);
    if (!(*state->sink)(data + done, n)) return 0;
    done += n;
  }
  if (capped) {
    state->overCap = true;
    return 0;
  }
  return total;
}

// Asks for the rest of a file (Range, If-Range) and collects the answer's
// headers for the range check.
bool RequestRange(Transfer& t, const HttpRequest& request, SinkState& state) {
  bool ok = curl_easy_setopt(t.easy, CURLOPT_HEADERFUNCTION, ReadHeader) == CURLE_OK &&
            curl_easy_setopt(t.easy, CURLOPT_HEADERDATA, &state) == CURLE_OK;
  const std::string headers = RangeHeaders(request);
  for (std::size_t at = 0; ok && at < headers.size();) {
    const std::size_t end = headers.find("\r\n", at);
    t.headers = curl_slist_append(t.headers, headers.substr(at, end - at).c_str());
    ok = t.headers != nullptr;
    at = end + 2;
  }
  if (ok && t.headers) ok = curl_easy_setopt(t.easy, CURLOPT_HTTPHEADER, t.headers) == CURLE_OK;
  return ok;
}

// Drives the transfer through the multi interface, so that the idle callback
// runs about every 100 ms while no data arrives (the easy loop waits up to a
// second), until libcurl ends it: nullptr then, else why it was stopped here.
const char* RunTransfer(Transfer& t, const SinkState& state, const HttpRequest& request,
                        const HttpIdle& idle) {
  // libcurl's own low-speed check averages over several seconds; a body that
  // stops altogether is also caught here, after exactly stallSeconds.
  const auto stallLimit = std::chrono::seconds(std::max(request.stallSeconds, 1L));
  auto lastIdle = SteadyClock::now();
  auto lastData = lastIdle;
  std::int64_t seen = 0;  // bytes received when the clock was last read
  int running = 1;
  while (running > 0) {
    if (curl_multi_perform(t.multi, &running) != CURLM_OK) return "the transfer failed";
    if (running == 0) break;
    const auto now = SteadyClock::now();
    if (state.received != seen) {
      seen = state.received;
      lastData = now;
    }
    if (now - lastData > stallLimit) return "the site sent nothing for too long";
    if (now - lastIdle >= std::chrono::milliseconds(kIdleIntervalMs)) {
      lastIdle = now;
      if (idle && !idle()) return "the transfer was stopped";
    }
    if (curl_multi_poll(t.multi, nullptr, 0, kIdleIntervalMs, nullptr) != CURLM_OK)
      return "the transfer failed";
  }
  return nullptr;
}

// Why the transfer libcurl ended failed; empty when the whole body arrived.
std::string TransferOutcome(Transfer& t, SinkState& state, const char* errorText) {
  int queued = 0;
  while (CURLMsg* msg = curl_multi_info_read(t.multi, &queued)) {
    if (msg->msg != CURLMSG_DONE || msg->easy_handle != t.easy) continue;
    const CURLcode code = msg->data.result;
    if (!state.refusal.empty()) return state.refusal;
    if (code == CURLE_OK) {
      if (DeliverAnswer(state)) return {};
      return state.refusal.empty() ? "the transfer was stopped" : state.refusal;
    }
    if (state.overCap) return "the site sent more than expected";
    // A proxy that would not open the tunnel.
    if (const long tunnel = TunnelAnswer(t.easy); tunnel >= 400)
      return ErrorStatusText(tunnel, AnswerRoute::Proxy);
    // libcurl's detailed text ("Operation too slow. ...", "Failed to connect ...").
    return errorText[0] ? errorText : curl_easy_strerror(code);
  }
  return "the transfer failed";
}

}  // namespace

Status HttpGet(const HttpRequest& request, const HttpBlockSink& sink, const HttpIdle& idle) {
  GlobalInitOnce();
  const auto fail = [](const char* why) { return Status::Error(why); };
  char errorText[CURL_ERROR_SIZE] = {};  // outlives the handles that write it
  Transfer t;
  t.easy = curl_easy_init();
  if (!t.easy || !Configure(t.easy, request)) return fail("the transfer could not be set up");
  SinkState state;
  state.sink = &sink;
  state.maxBlock = std::max<std::size_t>(request.maxBlock, 1);
  state.maxBytes = request.maxBytes;
  state.request = &request;
  state.easy = t.easy;
  if (!RequestRange(t, request, state)) return fail("the transfer could not be set up");
  curl_easy_setopt(t.easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  curl_easy_setopt(t.easy, CURLOPT_WRITEFUNCTION, WriteToSink);
  curl_easy_setopt(t.easy, CURLOPT_WRITEDATA, &state);
  curl_easy_setopt(t.easy, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(t.easy, CURLOPT_DEBUGFUNCTION, WatchRequest);
  curl_easy_setopt(t.easy, CURLOPT_DEBUGDATA, &state);
  curl_easy_setopt(t.easy, CURLOPT_VERBOSE, 1L);  // what calls WatchRequest

  t.multi = curl_multi_init();
  if (!t.multi || curl_multi_add_handle(t.multi, t.easy) != CURLM_OK)
    return fail("the transfer could not be set up");
  if (const char* stopped = RunTransfer(t, state, request, idle)) return fail(stopped);
  const std::string failed = TransferOutcome(t, state, errorText);
  return failed.empty() ? Status() : Status::Error(failed);
}

Status HttpDownloadToFile(const HttpRequest& request, const std::string& path,
                          const HttpIdle& idle) {
  // Created fresh: a link planted at the path is removed, never written through.
  RemoveFile(path);
  StatusOr<File> file = File::Open(path, OpenFor::CreateNew);
  if (!file) return Status::Failed("cannot create " + path, file.status());
  Status written;
  const auto toFile = [&](const char* data, std::size_t size) {
    written = file->Write(data, size);
    return written.ok();
  };
  // The whole body in one call; the window is still kept alive while waiting.
  HttpRequest whole = request;
  whole.resumeFrom = 0;
  whole.ifRange.clear();
  whole.onAnswer = nullptr;
  Status received = HttpGet(whole, toFile, idle);
  if (!written.ok()) return Status::Failed("cannot write " + path, written);
  const Status closed = file->Close();
  if (!closed.ok() && received.ok()) return Status::Failed("cannot write " + path, closed);
  return received;
}

}  // namespace os
