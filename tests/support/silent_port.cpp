#include "support/silent_port.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
void CloseSocket(Socket s) { ::closesocket(s); }
void MakeNonBlocking(Socket s) {
  u_long on = 1;
  ::ioctlsocket(s, FIONBIO, &on);
}
// Winsock must be started in each process that uses it.
void StartSockets() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
void CloseSocket(Socket s) { ::close(s); }
void MakeNonBlocking(Socket s) { ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK); }
void StartSockets() {}
#endif

}  // namespace

SilentPort::SilentPort() {
  StartSockets();
  const Socket s = ::socket(AF_INET, SOCK_STREAM, 0);
  socket_ = static_cast<std::intptr_t>(s);
  if (s == kNoSocket) return;
  MakeNonBlocking(s);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ::bind(s, reinterpret_cast<sockaddr*>(&addr), len);
  ::listen(s, 8);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
}

SilentPort::~SilentPort() {
  if (static_cast<Socket>(socket_) != kNoSocket) CloseSocket(static_cast<Socket>(socket_));
}

bool SilentPort::WasReached() {
  const Socket client = ::accept(static_cast<Socket>(socket_), nullptr, nullptr);
  if (client == kNoSocket) return false;
  CloseSocket(client);
  return true;
}
