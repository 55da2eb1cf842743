#include "support/http_test_server.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <utility>

#include <httplib.h>

namespace {

constexpr std::size_t kServeChunk = 65536;

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

struct HttpTestServer::Fault {
  enum class Kind {
    Body, Bodies, ErrorPage, Drop, Stall, Slow, Redirect, Endless, IgnoreRange, LieAboutRange
  } kind = Kind::Body;
  std::vector<std::string> bodies;
  std::size_t bodyIndex = 0;
  std::size_t bytes = 0;
  int times = 0;
  int delayMs = 0;
  std::string target;
  int status = 404;
  long startShift = 0;
  long totalShift = 0;
};

const std::string& HttpTestServer::ErrorPage() {
  static const std::string page =
      "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>\n"
      "<body><h1>Not Found</h1><p>The requested URL was not found on this server.</p></body>"
      "</html>\n";
  return page;
}

int HttpTestServer::DeadPort() {
  // A server started and stopped at once: the kernel does not hand its port
  // out again soon.
  HttpTestServer probe("/nonexistent");
  return probe.Port();
}

HttpTestServer::HttpTestServer(std::string root)
    : root_(std::move(root)), server_(std::make_unique<httplib::Server>()) {
  server_->Get(R"(.*)", [this](const httplib::Request& req, httplib::Response& res) {
    Handle(req, res);
  });
  // Each answer closes its connection: a client that keeps idle connections
  // for later (WinInet does) would otherwise hold the server's stop for its
  // keep-alive time.
  server_->set_keep_alive_max_count(1);
  port_ = server_->bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) SleepMs(1);
}

HttpTestServer::~HttpTestServer() {
  stopping_ = true;
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string HttpTestServer::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

std::string HttpTestServer::Url(const std::string& name) const {
  return BaseUrl() + name;
}

void HttpTestServer::SetFault(const std::string& name, Fault fault) {
  auto shared = std::make_shared<Fault>(std::move(fault));
  std::lock_guard<std::mutex> lock(mutex_);
  faults_[name] = std::move(shared);
}

void HttpTestServer::SetBody(const std::string& name, const std::string& body) {
  SetBodies(name, {body});
}

void HttpTestServer::SetBodies(const std::string& name, std::vector<std::string> bodies) {
  Fault f;
  f.kind = Fault::Kind::Bodies;
  f.bodies = std::move(bodies);
  SetFault(name, std::move(f));
}

void HttpTestServer::ServeErrorPage(const std::string& name, int status) {
  Fault f;
  f.kind = Fault::Kind::ErrorPage;
  f.status = status;
  SetFault(name, std::move(f));
}

void HttpTestServer::DropAfter(const std::string& name, std::size_t bytes, int times) {
  Fault f;
  f.kind = Fault::Kind::Drop;
  f.bytes = bytes;
  f.times = times;
  SetFault(name, std::move(f));
}

void HttpTestServer::Stall(const std::string& name, std::size_t bytes) {
  Fault f;
  f.kind = Fault::Kind::Stall;
  f.bytes = bytes;
  SetFault(name, std::move(f));
}

void HttpTestServer::Slow(const std::string& name, std::size_t chunk, int delayMs) {
  Fault f;
  f.kind = Fault::Kind::Slow;
  f.bytes = std::max<std::size_t>(chunk, 1);
  f.delayMs = delayMs;
  SetFault(name, std::move(f));
}

void HttpTestServer::Redirect(const std::string& name, const std::string& target) {
  Fault f;
  f.kind = Fault::Kind::Redirect;
  f.target = target;
  SetFault(name, std::move(f));
}

void HttpTestServer::RedirectTo(const std::string& name, const std::string& url) {
  Redirect(name, url);
}

void HttpTestServer::Endless(const std::string& name) {
  Drip(name, 0);
}

void HttpTestServer::Drip(const std::string& name, int bytesPerSecond) {
  Fault f;
  f.kind = Fault::Kind::Endless;
  f.bytes = static_cast<std::size_t>(std::max(bytesPerSecond, 0));  // 0: as fast as it goes
  SetFault(name, std::move(f));
}

void HttpTestServer::IgnoreRange(const std::string& name) {
  Fault f;
  f.kind = Fault::Kind::IgnoreRange;
  SetFault(name, std::move(f));
}

void HttpTestServer::LieAboutRange(const std::string& name, long startShift, long totalShift) {
  Fault f;
  f.kind = Fault::Kind::LieAboutRange;
  f.startShift = startShift;
  f.totalShift = totalShift;
  SetFault(name, std::move(f));
}

std::size_t HttpTestServer::BytesSent(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = sent_.find(name);
  return it == sent_.end() ? 0 : it->second;
}

void HttpTestServer::CountSent(const std::string& name, std::size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  sent_[name] += bytes;
}

void HttpTestServer::ClearFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.clear();
}

std::vector<HttpTestServer::Request> HttpTestServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

int HttpTestServer::RequestCount(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count_if(requests_.begin(), requests_.end(),
                                        [&](const Request& r) { return r.name == name; }));
}

void HttpTestServer::Handle(const httplib::Request& req, httplib::Response& res) {
  const std::string name = req.path.rfind('/', 0) == 0 ? req.path.substr(1) : req.path;
  Fault fault;
  bool faulty = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back({name, req.get_header_value("User-Agent"), req.get_header_value("Range"),
                         req.get_header_value("If-Range")});
    auto it = faults_.find(name);
    if (it != faults_.end()) {
      Fault& f = *it->second;
      if (f.kind == Fault::Kind::Drop && f.times <= 0) {
        faults_.erase(it);  // served whole from now on
      } else {
        if (f.kind == Fault::Kind::Drop) --f.times;
        fault = f;
        if (f.kind == Fault::Kind::Bodies && f.bodyIndex + 1 < f.bodies.size()) ++f.bodyIndex;
        faulty = true;
      }
    }
  }

  if (faulty && fault.kind == Fault::Kind::Bodies) {
    res.set_content(fault.bodies.empty() ? std::string() : fault.bodies[fault.bodyIndex],
                    "text/plain");
    return;
  }
  if (faulty && fault.kind == Fault::Kind::Redirect) {
    const bool absolute = fault.target.find("://") != std::string::npos;
    res.set_redirect(absolute ? fault.target : "/" + fault.target);
    return;
  }
  if (faulty && fault.kind == Fault::Kind::Endless) {
    const std::size_t perSecond = fault.bytes;
    res.set_chunked_content_provider(
        "application/octet-stream", [this, perSecond](std::size_t offset, httplib::DataSink& sink) {
          if (stopping_ || offset >= kEndlessLimit) return false;
          // A drip sends its bytes one at a time, spread over each second.
          const std::string block = perSecond > 0 ? std::string(1, 'x') : std::string(kServeChunk, 'x');
          if (perSecond > 0) SleepMs(static_cast<int>(1000 / perSecond));
          if (!sink.write(block.data(), block.size())) return false;
          endlessSent_ += block.size();
          return true;
        });
    return;
  }
  const std::filesystem::path path = std::filesystem::path(root_) / name;
  std::error_code ec;
  const bool servable = (!faulty || fault.kind != Fault::Kind::ErrorPage) &&
                        name.find("..") == std::string::npos &&
                        std::filesystem::is_regular_file(path, ec);
  if (!servable) {
    res.status = faulty && fault.kind == Fault::Kind::ErrorPage ? fault.status : 404;
    res.set_content(ErrorPage(), "text/html");
    return;
  }
  if (ServeRange(req, res, name, faulty ? &fault : nullptr)) return;
  const std::size_t size = std::filesystem::file_size(path, ec);
  auto in = std::make_shared<std::ifstream>(path, std::ios::binary);
  std::size_t limit = size;
  std::size_t chunk = kServeChunk;
  if (faulty && (fault.kind == Fault::Kind::Drop || fault.kind == Fault::Kind::Stall))
    limit = std::min(size, fault.bytes);
  if (faulty && fault.kind == Fault::Kind::Slow) chunk = fault.bytes;
  res.set_content_provider(
      size, "application/octet-stream",
      [this, in, name, limit, chunk, fault, faulty](std::size_t offset, std::size_t length,
                                               httplib::DataSink& sink) {
        if (offset >= limit) {
          if (faulty && fault.kind == Fault::Kind::Stall) {
            while (!stopping_) SleepMs(10);
          }
          return false;  // drops the connection
        }
        if (faulty && fault.kind == Fault::Kind::Slow && offset > 0) SleepMs(fault.delayMs);
        std::string buffer(std::min({length, chunk, limit - offset}), '\0');
        in->seekg(static_cast<std::streamoff>(offset));
        in->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (in->gcount() <= 0) return false;
        CountSent(name, static_cast<std::size_t>(in->gcount()));
        return sink.write(buffer.data(), static_cast<std::size_t>(in->gcount()));
      });
}

namespace {

// "bytes=N-" -> N; -1 for anything else.
long long RangeStart(const std::string& range) {
  if (range.rfind("bytes=", 0) != 0 || range.empty() || range.back() != '-') return -1;
  try {
    return std::stoll(range.substr(6, range.size() - 7));
  } catch (...) {
    return -1;
  }
}

}  // namespace

// The ETag on every file answer; a Range request answered here (the rest of
// the file, or the whole when If-Range names another ETag or a mode says
// so). False when the answer is left to the plain file path.
bool HttpTestServer::ServeRange(const httplib::Request& req, httplib::Response& res,
                                const std::string& name, const Fault* fault) {
  const std::filesystem::path path = std::filesystem::path(root_) / name;
  std::error_code ec;
  const auto size = static_cast<long long>(std::filesystem::file_size(path, ec));
  const auto stamp = std::filesystem::last_write_time(path, ec).time_since_epoch().count();
  const std::string etag = "\"" + std::to_string(size) + "-" + std::to_string(stamp) + "\"";
  res.set_header("ETag", etag);
  const long long start = RangeStart(req.get_header_value("Range"));
  const std::string ifRange = req.get_header_value("If-Range");
  const bool ignore = fault && fault->kind == Fault::Kind::IgnoreRange;
  const bool lie = fault && fault->kind == Fault::Kind::LieAboutRange;
  if (!req.has_header("Range")) return false;
  const bool partial = start >= 0 && start < size && !ignore && (ifRange.empty() || ifRange == etag);
  const long long from = partial ? start : 0;
  res.status = partial ? 206 : 200;
  if (partial) {
    const long long shownStart = from + (lie ? fault->startShift : 0);
    const long long shownTotal = size + (lie ? fault->totalShift : 0);
    res.set_header("Content-Range", "bytes " + std::to_string(shownStart) + "-" +
                                        std::to_string(shownTotal - 1) + "/" +
                                        std::to_string(shownTotal));
  }
  // Sent chunked, so the library does not apply the Range itself.
  const std::size_t chunk = fault && fault->kind == Fault::Kind::Slow ? fault->bytes : kServeChunk;
  const int delayMs = fault && fault->kind == Fault::Kind::Slow ? fault->delayMs : 0;
  // A drop or a stall cuts this answer after its first fault->bytes bytes.
  const bool cut = fault && (fault->kind == Fault::Kind::Drop || fault->kind == Fault::Kind::Stall);
  const bool stall = cut && fault->kind == Fault::Kind::Stall;
  auto left = std::make_shared<std::size_t>(cut ? fault->bytes : std::numeric_limits<std::size_t>::max());
  auto in = std::make_shared<std::ifstream>(path, std::ios::binary);
  in->seekg(static_cast<std::streamoff>(from));
  res.set_chunked_content_provider(
      "application/octet-stream",
      [this, in, name, chunk, delayMs, left, stall](std::size_t, httplib::DataSink& sink) {
        if (stopping_) return false;
        if (*left == 0) {
          while (stall && !stopping_) SleepMs(10);
          return false;  // drops the connection
        }
        if (delayMs > 0) SleepMs(delayMs);
        std::string buffer(std::min(chunk, *left), '\0');
        in->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<std::size_t>(std::max<std::streamsize>(in->gcount(), 0));
        if (got == 0) {
          sink.done();
          return true;
        }
        *left -= got;
        CountSent(name, got);
        return sink.write(buffer.data(), got);
      });
  return true;
}
