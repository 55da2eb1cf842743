#pragma once
// A TCP port on 127.0.0.1 that takes connections into its backlog and never
// answers: tells whether a client tried to reach it.
//
//   SilentPort silent;
//   Fetch("ftp://127.0.0.1:" + std::to_string(silent.Port()) + "/f");
//   EXPECT_FALSE(silent.WasReached());

#include <cstdint>

class SilentPort {
 public:
  SilentPort();
  ~SilentPort();
  SilentPort(const SilentPort&) = delete;
  SilentPort& operator=(const SilentPort&) = delete;

  int Port() const { return port_; }
  // True when a connection waits in the backlog (taken and closed).
  bool WasReached();

 private:
  std::intptr_t socket_ = -1;
  int port_ = 0;
};
