#pragma once
// A real server program run for a test as a foreground child: its generated
// configuration and its logs live in a directory of their own under the build
// folder (build/test-servers/<kind>-XXXXXX), it listens on a free 127.0.0.1
// port, and it is stopped with SIGTERM when the object goes. The directory is
// removed then unless the test failed, so that its logs can be read.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/process_runner.h"

// The names of the effective user and group, for a server's user directive
// when the tests run as root (its workers must read the test's files).
std::string EffectiveUserName();
std::string EffectiveGroupName();

class ServerProcess {
 public:
  explicit ServerProcess(const std::string& kind);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Picks a free port (HttpTestServer::DeadPort), lets prepare write the
  // configuration for it and return the command line, starts it and waits
  // until the port accepts connections. A port taken meanwhile is retried
  // with another. False when the server did not come up (see failure()).
  bool Start(const std::function<std::vector<std::string>(int port)>& prepare);
  // Stops the server (SIGTERM, then waits); safe to call twice.
  void Stop();

  bool ok() const { return port_ > 0; }
  int port() const { return port_; }
  const std::string& dir() const { return dir_; }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& failure() const { return failure_; }

 private:
  std::string dir_;
  int port_ = 0;
  std::string failure_;
  std::unique_ptr<RunningProcess> process_;
};
