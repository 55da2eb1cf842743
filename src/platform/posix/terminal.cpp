// A secret read from the terminal without echo: os::ReadSecretLine.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/os.h"

namespace os {

std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  const int fd = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  termios saved{};
  const bool isTerminal = tcgetattr(fd, &saved) == 0;
  if (isTerminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ICANON;
    tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  [[maybe_unused]] ssize_t w = write(fd, prompt.data(), prompt.size());
  std::string line;
  char c = 0;
  while (read(fd, &c, 1) == 1 && c != '\n') {
    if (c != '\r') line += c;
  }
  if (isTerminal) tcsetattr(fd, TCSAFLUSH, &saved);
  w = write(fd, "\n", 1);
  close(fd);
  return line;
}

}  // namespace os
