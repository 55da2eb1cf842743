// The system's texts for failures: posix::ErrorText and posix::Failure.
#include "platform/posix/error.h"

#include <cstring>

namespace os::posix {

std::string ErrorText(int code) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be in buffer.
  return std::string(::strerror_r(code, buffer, sizeof buffer));
}

Status Failure(int code) {
  return Status::Error(ErrorText(code));
}

}  // namespace os::posix
