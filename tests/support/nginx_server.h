#pragma once
// nginx (Debian's nginx-light) serving a directory on 127.0.0.1 for a test,
// over HTTP, or over HTTPS with a given certificate and key. It runs in the
// foreground with a generated configuration; configuration, pid file, temp
// paths and logs stay in its directory under the build folder, so the
// system's own nginx is never touched and no root is needed.

#include <cstdint>
#include <string>
#include <vector>

#include "support/server_process.h"

struct TlsFiles {
  std::string certificate;  // PEM, the server's certificate
  std::string key;          // PEM, its private key
};

class NginxServer {
 public:
  // Serves root over HTTP; with bytesPerSecond > 0 each answer's body at
  // about that rate.
  explicit NginxServer(const std::string& root, long bytesPerSecond = 0);
  // Serves root over HTTPS with tls.
  NginxServer(const std::string& root, const TlsFiles& tls);

  bool ok() const { return server_.ok(); }
  const std::string& failure() const { return server_.failure(); }
  int port() const { return server_.port(); }
  // "http://127.0.0.1:N/" or "https://127.0.0.1:N/", then path.
  std::string Url(const std::string& path = "") const;
  // One line per request served: "GET /path STATUS|user agent|Via header".
  // nginx logs a request only after its answer went out, so a client can be
  // ahead of the log: with atLeast, waits up to 5 s for that many lines.
  std::vector<std::string> Requests(std::size_t atLeast = 0) const;
  // The answers for one path, in order: status and body bytes sent (a cut
  // answer counts what went out). Waits as Requests does.
  struct Answer {
    int status = 0;
    std::uintmax_t bytes = 0;
  };
  std::vector<Answer> Answers(const std::string& path, std::size_t atLeast = 0) const;

 private:
  void Start(const std::string& root, const TlsFiles* tls, long bytesPerSecond);
  std::vector<std::string> LogLines(const std::string& log) const;
  ServerProcess server_{"nginx"};
  bool tls_ = false;
};
