#pragma once
// tinyproxy as an HTTP proxy on 127.0.0.1 for a test: foreground, generated
// configuration and log in its directory under the build folder, so the
// system's proxy configuration is never touched and no root is needed.

#include <string>
#include <vector>

#include "support/server_process.h"

class TinyproxyServer {
 public:
  // With upstream ("host:port"), every request goes on to that proxy instead
  // of the site; when it cannot be reached, tinyproxy answers 502, to a
  // plain request and to a CONNECT alike.
  explicit TinyproxyServer(const std::string& upstream = "");

  bool ok() const { return server_.ok(); }
  const std::string& failure() const { return server_.failure(); }
  // "http://127.0.0.1:N/", for http_proxy and https_proxy.
  std::string Url() const;
  // The request lines it received, as "GET http://host/path HTTP/1.1" or
  // "CONNECT host:port HTTP/1.1".
  std::vector<std::string> Requests() const;

 private:
  ServerProcess server_{"tinyproxy"};
};
