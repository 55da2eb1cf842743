// The test override of the program's path, the same on every platform.
#include "platform/process_state.h"

#include <utility>

#include "platform/os.h"

namespace os {
namespace {

std::string& ExecutablePathOverride() {
  static std::string path;
  return path;
}

}  // namespace

void SetExecutablePathForTests(std::string path) {
  ExecutablePathOverride() = std::move(path);
}

std::optional<std::string> ExecutablePathForTests() {
  if (ExecutablePathOverride().empty()) return std::nullopt;
  return ExecutablePathOverride();
}

}  // namespace os
