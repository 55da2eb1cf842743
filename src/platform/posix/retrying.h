#pragma once
// Shared by the Linux backend files.

#include <cerrno>

namespace os::posix {

// Runs a system call again while a signal interrupts it; returns its result.
template <class Call>
long Retrying(Call call) {
  long rc;
  do {
    rc = static_cast<long>(call());
  } while (rc == -1 && errno == EINTR);
  return rc;
}

}  // namespace os::posix
