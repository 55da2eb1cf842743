// Environment, home directory and the user's language setting on Linux.
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/os.h"

namespace os {
namespace {

// Turns the outcome of a libc call into the result: the text, or nothing.
std::optional<std::string> TextOrNothing(const char* value) {
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace

std::optional<std::string> GetEnvVar(const std::string& name) {
  return TextOrNothing(::getenv(name.c_str()));
}

void SetEnvVar(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

void UnsetEnvVar(const std::string& name) {
  ::unsetenv(name.c_str());
}

std::string HomeDir() {
  if (auto home = GetEnvVar("HOME"); home && !home->empty()) return *home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
    return {};
  return TextOrNothing(found->pw_dir).value_or(std::string());
}

std::string CurrentAccount() {
  return std::to_string(::geteuid());
}

std::string UserLanguageSetting() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (auto value = GetEnvVar(name); value && !value->empty()) return *value;
  }
  return {};
}

}  // namespace os
