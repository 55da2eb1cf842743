#pragma once
// The outcome of an operation that can fail: OK, or a message that says what
// failed and why ("cannot write /app/tvq.exe: No space left on device"). It
// is returned up to the place that decides what the user sees, which puts
// the message into the status line and the run's account.

#include <optional>
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
  // "what: the cause's message": a failure explained by the one below it.
  static Status Failed(const std::string& what, const Status& cause) {
    return Failed(what, cause.message());
  }

  bool ok() const { return !failed_; }
  const std::string& message() const { return message_; }

 private:
  explicit Status(std::string message) : message_(std::move(message)), failed_(true) {}
  std::string message_;
  bool failed_ = false;
};

// A value, or the failed Status that says why there is none.
template <class T>
class StatusOr {
 public:
  StatusOr(T value) : value_(std::move(value)) {}
  // failure is a failed Status.
  StatusOr(Status failure) : status_(std::move(failure)) {}

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  // OK while there is a value; else why there is none.
  const Status& status() const { return status_; }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T value_or(T fallback) const& { return value_ ? *value_ : std::move(fallback); }
  T value_or(T fallback) && { return value_ ? std::move(*value_) : std::move(fallback); }

 private:
  std::optional<T> value_;
  Status status_;
};
