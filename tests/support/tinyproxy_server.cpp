#include "support/tinyproxy_server.h"

#include <unistd.h>

#include <sstream>

#include "support/temp_dir.h"

TinyproxyServer::TinyproxyServer(const std::string& upstream) {
  server_.Start([&](int port) {
    const std::string d = server_.dir();
    std::ostringstream c;
    c << "Port " << port << "\n"
      << "Listen 127.0.0.1\n"
      << "Timeout 60\n"
      << "LogFile \"" << d << "/tinyproxy.log\"\n"
      << "LogLevel Connect\n"
      << "MaxClients 20\n"
      << "Allow 127.0.0.1\n";
    if (!upstream.empty()) c << "Upstream http " << upstream << "\n";
    // As root it would otherwise warn and guess; as anyone else it ignores
    // these and keeps the user it was started as.
    if (geteuid() == 0)
      c << "User " << EffectiveUserName() << "\nGroup " << EffectiveGroupName() << "\n";
    WriteFile(d + "/tinyproxy.conf", c.str());
    // -d: stay in the foreground.
    return std::vector<std::string>{"/usr/bin/tinyproxy", "-d", "-c", d + "/tinyproxy.conf"};
  });
}

std::string TinyproxyServer::Url() const {
  return "http://127.0.0.1:" + std::to_string(server_.port()) + "/";
}

std::vector<std::string> TinyproxyServer::Requests() const {
  static const std::string kMark = "]: Request (file descriptor ";
  std::vector<std::string> requests;
  std::istringstream in(ReadFile(server_.Path("tinyproxy.log")));
  for (std::string line; std::getline(in, line);) {
    const auto at = line.find(kMark);
    if (at == std::string::npos) continue;
    const auto colon = line.find("): ", at);
    if (colon != std::string::npos) requests.push_back(line.substr(colon + 3));
  }
  return requests;
}
