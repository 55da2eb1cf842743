#pragma once
// The null text device and the run's standard text output.

#include <ostream>
#include <streambuf>

// A stream buffer that swallows every write and reads as empty.
class NullTextBuf : public std::streambuf {
 protected:
  int_type overflow(int_type ch) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int_type underflow() override;
};

// Binds a stream to the null text device: every write succeeds and is lost,
// every read finds the end at once.
void AssignNullText(std::ios& stream);

// The program's standard text output, where the run writes its account
// (bound to standard output at start).
std::ostream& StdText();
