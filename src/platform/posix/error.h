#pragma once
// The system's texts for failures, shared by the Linux backend files: each
// failed call's errno becomes a Status right where the call failed.

#include <string>

#include "platform/status.h"

namespace os::posix {

// The system's text for an error code ("No space left on device").
std::string ErrorText(int code);
// A failed Status whose message is the system's text for code.
Status Failure(int code);

}  // namespace os::posix
