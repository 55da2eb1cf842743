#pragma once
// Captures what the run writes to its standard text output (StdText()) for
// as long as the object lives.

#include <ostream>
#include <sstream>
#include <string>

#include "support/nuldev.h"

class StdTextCapture {
 public:
  StdTextCapture() : saved_(StdText().rdbuf(buffer_.rdbuf())) {}
  ~StdTextCapture() { StdText().rdbuf(saved_); }
  StdTextCapture(const StdTextCapture&) = delete;
  StdTextCapture& operator=(const StdTextCapture&) = delete;

  std::string Text() const { return buffer_.str(); }
  bool HasLine(const std::string& line) const {
    return ("\n" + Text()).find("\n" + line + "\n") != std::string::npos;
  }
  int Count(const std::string& text) const {
    int n = 0;
    const std::string all = Text();
    for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + text.size())) ++n;
    return n;
  }

 private:
  std::ostringstream buffer_;
  std::streambuf* saved_;
};
