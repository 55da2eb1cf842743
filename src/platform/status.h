#pragma once
// The outcome of an operation that can fail: OK, or a message that says what
// failed and why ("cannot write /app/tvq.exe: No space left on device"). It
// is returned up to the place that decides what the user sees, which puts
// the message into the status line and the run's account.

#include <string>
#include <utility>

class Status {
 public:
  Status() = default;  // OK
  static Status Error(std::string message) { return Status(std::move(message)); }
  // "what: cause", or what alone when the system gave no cause.
  static Status Failed(const std::string& what, const std::string& cause) {
    return Status(cause.empty() ? what : what + ": " + cause);
  }

  bool ok() const { return !failed_; }
  const std::string& message() const { return message_; }

 private:
  explicit Status(std::string message) : message_(std::move(message)), failed_(true) {}
  std::string message_;
  bool failed_ = false;
};
