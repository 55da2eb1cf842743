// The program's recorded parameters and the test override of its path, the
// same on every platform.
#include "platform/process_state.h"

#include <utility>
#include <vector>

#include "platform/os.h"

namespace os {
namespace {

std::vector<std::string>& StoredArguments() {
  static std::vector<std::string> args;
  return args;
}

std::string& ExecutablePathOverride() {
  static std::string path;
  return path;
}

}  // namespace

void SetArguments(std::vector<std::string> args) {
  StoredArguments() = std::move(args);
}

const std::vector<std::string>& Arguments() {
  return StoredArguments();
}

void SetExecutablePathForTests(std::string path) {
  ExecutablePathOverride() = std::move(path);
}

std::optional<std::string> ExecutablePathForTests() {
  if (ExecutablePathOverride().empty()) return std::nullopt;
  return ExecutablePathOverride();
}

}  // namespace os
