#pragma once
// Sets or unsets an environment variable for as long as the object lives,
// then puts back what was there. Every test that changes the environment
// goes through this, so each leaves it as it found it.

#include <optional>
#include <string>

#include "platform/os.h"

class ScopedEnv {
 public:
  // Keeps the variable's value to put back; changes nothing yet.
  explicit ScopedEnv(std::string name) : name_(std::move(name)), saved_(os::GetEnvVar(name_)) {}
  ScopedEnv(std::string name, std::optional<std::string> value) : ScopedEnv(std::move(name)) {
    Set(value);
  }
  ~ScopedEnv() { Set(saved_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  // Sets the variable (nullopt: unsets it) until the object goes.
  void Set(const std::optional<std::string>& value) {
    if (value)
      os::SetEnvVar(name_, *value);
    else
      os::UnsetEnvVar(name_);
  }

 private:
  std::string name_;
  std::optional<std::string> saved_;
};
