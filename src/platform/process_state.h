#pragma once
// State of the process that every backend shares (see process_state.cpp).

#include <optional>
#include <string>

namespace os {

// The path set by SetExecutablePathForTests; nothing when none is set.
std::optional<std::string> ExecutablePathForTests();

}  // namespace os
