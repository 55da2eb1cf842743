// HTTP(S) transfers on libcurl: os::HttpGet and os::HttpDownloadToFile.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include <curl/curl.h>

#include "platform/os.h"

namespace os {
namespace {

constexpr long kIdleIntervalMs = 100;
constexpr long kMaxRedirects = 20;

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
  ~Transfer() {
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
  ok = ok && curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, request.connectTimeoutSeconds) ==
                 CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
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
  const HttpBlockSink* sink;
  std::size_t maxBlock;
  SteadyClock::time_point lastData;
};

// Hands what libcurl delivers to the sink in blocks of at most maxBlock bytes;
// a refused block stops the transfer.
size_t WriteToSink(char* data, size_t size, size_t count, void* user) {
  auto* state = static_cast<SinkState*>(user);
  const std::size_t total = size * count;
  if (total > 0) state->lastData = SteadyClock::now();
  for (std::size_t done = 0; done < total;) {
    const std::size_t n = std::min(state->maxBlock, total - done);
    if (!(*state->sink)(data + done, n)) return 0;
    done += n;
  }
  return total;
}

}  // namespace

bool HttpGet(const HttpRequest& request, const HttpBlockSink& sink, const HttpIdle& idle,
             std::string* failure) {
  // Why the transfer failed, for the run's account (a refused certificate, a
  // dead proxy and a stalled server must be told apart afterwards).
  char detail[CURL_ERROR_SIZE] = "";
  const auto fail = [&](const std::string& cause) {
    if (failure) *failure = detail[0] ? std::string(detail) : cause;
    return false;
  };
  GlobalInitOnce();
  Transfer t;
  t.easy = curl_easy_init();
  if (!t.easy) return fail("the transfer library cannot start");
  curl_easy_setopt(t.easy, CURLOPT_ERRORBUFFER, detail);
  if (!Configure(t.easy, request)) return fail("the request cannot be set up");
  SinkState state{&sink, std::max<std::size_t>(request.maxBlock, 1), SteadyClock::now()};
  const long bufferSize =
      static_cast<long>(std::clamp<std::size_t>(request.maxBlock, 1024, CURL_MAX_READ_SIZE));
  curl_easy_setopt(t.easy, CURLOPT_BUFFERSIZE, bufferSize);
  curl_easy_setopt(t.easy, CURLOPT_WRITEFUNCTION, WriteToSink);
  curl_easy_setopt(t.easy, CURLOPT_WRITEDATA, &state);

  // Driven through the multi interface so that the idle callback runs about
  // every 100 ms while no data arrives (the easy loop waits up to a second).
  t.multi = curl_multi_init();
  if (!t.multi || curl_multi_add_handle(t.multi, t.easy) != CURLM_OK)
    return fail("the transfer library cannot start");
  // libcurl's own low-speed check averages over several seconds; a body that
  // stops altogether is also caught here, after exactly stallSeconds.
  const auto stallLimit = std::chrono::seconds(std::max(request.stallSeconds, 1L));
  auto lastIdle = SteadyClock::now();
  int running = 1;
  while (running > 0) {
    if (curl_multi_perform(t.multi, &running) != CURLM_OK) return fail("transfer failed");
    if (running == 0) break;
    const auto now = SteadyClock::now();
    if (now - state.lastData > stallLimit)
      return fail("no data for " + std::to_string(stallLimit.count()) + " s");
    if (now - lastIdle >= std::chrono::milliseconds(kIdleIntervalMs)) {
      lastIdle = now;
      if (idle && !idle()) return fail("cancelled");
    }
    if (curl_multi_poll(t.multi, nullptr, 0, kIdleIntervalMs, nullptr) != CURLM_OK)
      return fail("transfer failed");
  }
  int queued = 0;
  while (CURLMsg* msg = curl_multi_info_read(t.multi, &queued)) {
    if (msg->msg != CURLMSG_DONE || msg->easy_handle != t.easy) continue;
    if (msg->data.result == CURLE_OK) return true;
    return fail(curl_easy_strerror(msg->data.result));
  }
  return fail("transfer failed");
}

bool HttpDownloadToFile(const HttpRequest& request, const std::string& path, const HttpIdle& idle,
                        std::string* failure) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    if (failure) *failure = "the target file cannot be created";
    return false;
  }
  const auto toFile = [file](const char* data, std::size_t size) {
    return std::fwrite(data, 1, size, file) == size;
  };
  // The whole body in one call; the window is still kept alive while waiting.
  const bool received = HttpGet(request, toFile, idle, failure);
  const bool closed = std::fclose(file) == 0;
  if (received && !closed && failure) *failure = "the target file cannot be written";
  return received && closed;
}

}  // namespace os
