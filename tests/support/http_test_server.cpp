#include "support/http_test_server.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <utility>

#include <httplib.h>

namespace {

constexpr std::size_t kServeChunk = 65536;

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

struct HttpTestServer::Fault {
  enum class Kind { Body, Bodies, ErrorPage, Drop, Stall, Slow, Redirect, Endless } kind = Kind::Body;
  std::vector<std::string> bodies;
  std::size_t bodyIndex = 0;
  std::size_t bytes = 0;
  int times = 0;
  int delayMs = 0;
  std::string target;
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
  server_->Get(R"(/(.*))", [this](const httplib::Request& req, httplib::Response& res) {
    Handle(req, res);
  });
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

void HttpTestServer::SetBody(const std::string& name, const std::string& body) {
  SetBodies(name, {body});
}

void HttpTestServer::SetBodies(const std::string& name, std::vector<std::string> bodies) {
  auto f = std::make_shared<Fault>();
  f->kind = Fault::Kind::Bodies;
  f->bodies = std::move(bodies);
  std::lock_guard<std::mutex> lock(mutex_);
  faults_[name] = f;
}

void HttpTestServer::ServeErrorPage(const std::string& name) {
  auto f = std::make_shared<Fault>();
  f->kind = Fault::Kind::ErrorPage;
  std::lock_guard<std::mutex> lock(mutex_);
  faults_[name] = f;
}

void HttpTestServer::DropAfter(const std::string& name, std::size_t bytes, int times) {
  auto f = std::make_shared<Fault>();
  f->kind = Fault::Kind::Drop;
  f->bytes = bytes;
  f->times = times;
  std::lock_guard<std::mutex> lock(mutex_);
  faults_[name] = f;
}

void HttpTestServer::Stall(const std::string& name, std::size_t bytes) {
  auto f = std::make_shared<Fault>();
  f->kind = Fault::Kind::Stall;
  f->bytes = bytes;
  std::lock_guard<std::mutex> lock(mutex_);
  faults_[name] = f;
}

void HttpTestServer::Slow(const std::string& name, std::size_t chunk, int delayMs) {
  auto f = std::make_shared<Fault>();
  f->kind = Fault::Kind::Slow;
  f->bytes = std::max<std::size_t>(chunk, 1);
  f->delayMs = delayMs;
  std::lock_guard<std::mutex> lock(mutex_);
  faults_[name] = f;
}

void HttpTestServer::Redirect(const std::string& name, const std::string& target) {
  auto f = std::make_shared<Fault>();
  f->kind = Fault::Kind::Redirect;
  f->target = target;
  std::lock_guard<std::mutex> lock(mutex_);
  faults_[name] = f;
}

void HttpTestServer::RedirectTo(const std::string& name, const std::string& url) {
  Redirect(name, url);
}

void HttpTestServer::Endless(const std::string& name) {
  Drip(name, 0);
}

void HttpTestServer::Drip(const std::string& name, int bytesPerSecond) {
  auto f = std::make_shared<Fault>();
  f->kind = Fault::Kind::Endless;
  f->bytes = static_cast<std::size_t>(std::max(bytesPerSecond, 0));  // 0: as fast as it goes
  std::lock_guard<std::mutex> lock(mutex_);
  faults_[name] = f;
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
  const std::string name = req.path.empty() ? std::string() : req.path.substr(1);
  Fault fault;
  bool faulty = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back({name, req.get_header_value("User-Agent")});
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
    res.status = 404;
    res.set_content(ErrorPage(), "text/html");
    return;
  }
  const std::size_t size = std::filesystem::file_size(path, ec);
  auto in = std::make_shared<std::ifstream>(path, std::ios::binary);
  std::size_t limit = size;
  std::size_t chunk = kServeChunk;
  if (faulty && (fault.kind == Fault::Kind::Drop || fault.kind == Fault::Kind::Stall))
    limit = std::min(size, fault.bytes);
  if (faulty && fault.kind == Fault::Kind::Slow) chunk = fault.bytes;
  res.set_content_provider(
      size, "application/octet-stream",
      [this, in, limit, chunk, fault, faulty](std::size_t offset, std::size_t length,
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
        return sink.write(buffer.data(), static_cast<std::size_t>(in->gcount()));
      });
}
