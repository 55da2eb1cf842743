#pragma once
// Sets or unsets an environment variable for as long as the object lives,
// then puts back what was there.

#include <optional>
#include <string>

#include "platform/os.h"

class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value)
      : name_(std::move(name)), saved_(os::GetEnvVar(name_)) {
    Set(value);
  }
  ~ScopedEnv() { Set(saved_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
    if (value)
      os::SetEnvVar(name_, *value);
    else
      os::UnsetEnvVar(name_);
  }
  std::string name_;
  std::optional<std::string> saved_;
};
