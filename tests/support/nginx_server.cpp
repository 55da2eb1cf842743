#include "support/nginx_server.h"

#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "support/temp_dir.h"

NginxServer::NginxServer(const std::string& root, long bytesPerSecond) {
  Start(root, nullptr, bytesPerSecond);
}

NginxServer::NginxServer(const std::string& root, const TlsFiles& tls) : tls_(true) {
  Start(root, &tls, 0);
}

void NginxServer::Start(const std::string& root, const TlsFiles* tls, long bytesPerSecond) {
  server_.Start([&](int port) {
    const std::string d = server_.dir();
    std::ostringstream c;
    c << "daemon off;\n"
      << "worker_processes 1;\n"
      << "pid " << d << "/nginx.pid;\n"
      << "error_log " << d << "/error.log info;\n";
    // As root the workers would become "nobody", who cannot read the test's
    // private directories; they keep the user the tests run as instead.
    if (geteuid() == 0) c << "user " << EffectiveUserName() << " " << EffectiveGroupName() << ";\n";
    c << "events { worker_connections 64; }\n"
      << "http {\n"
      << "  log_format tvq '$request_method $uri $status|$http_user_agent|$http_via';\n"
      << "  access_log " << d << "/access.log tvq;\n"
      << "  log_format sent '$uri $status $body_bytes_sent';\n"
      << "  access_log " << d << "/sent.log sent;\n"
      << "  default_type application/octet-stream;\n";
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
      c << "  " << temp << "_temp_path " << d << "/" << temp << ";\n";
    c << "  server {\n"
      << "    listen 127.0.0.1:" << port << (tls ? " ssl" : "") << ";\n"
      << "    root " << root << ";\n";
    if (bytesPerSecond > 0) c << "    limit_rate " << bytesPerSecond << ";\n";
    if (tls) {
      c << "    ssl_certificate " << tls->certificate << ";\n"
        << "    ssl_certificate_key " << tls->key << ";\n";
    }
    c << "  }\n}\n";
    WriteFile(d + "/nginx.conf", c.str());
    // -e: the error log before the configuration is read is ours too.
    return std::vector<std::string>{"/usr/sbin/nginx", "-p", d, "-c", d + "/nginx.conf",
                                    "-e", d + "/error.log"};
  });
}

std::string NginxServer::Url(const std::string& path) const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port()) + "/" +
         path;
}

namespace {

// nginx logs a request only after its answer went out, so a client can be
// ahead of the log: reads until there are atLeast entries, for up to 5 s.
template <typename Read>
auto ReadAtLeast(std::size_t atLeast, const Read& read) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    auto entries = read();
    if (entries.size() >= atLeast || std::chrono::steady_clock::now() >= deadline) return entries;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace

std::vector<std::string> NginxServer::LogLines(const std::string& log) const {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(server_.Path(log)));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> NginxServer::Requests(std::size_t atLeast) const {
  return ReadAtLeast(atLeast, [&] { return LogLines("access.log"); });
}

std::vector<NginxServer::Answer> NginxServer::Answers(const std::string& path,
                                                      std::size_t atLeast) const {
  return ReadAtLeast(atLeast, [&] {
    std::vector<Answer> answers;
    for (const std::string& line : LogLines("sent.log")) {
      std::istringstream fields(line);
      std::string uri;
      Answer answer;
      if (fields >> uri >> answer.status >> answer.bytes && uri == path) answers.push_back(answer);
    }
    return answers;
  });
}
