#include "support/nuldev.h"

#include <iostream>

NullTextBuf::int_type NullTextBuf::overflow(int_type ch) {
  return traits_type::not_eof(ch);
}

std::streamsize NullTextBuf::xsputn(const char*, std::streamsize n) {
  return n;
}

NullTextBuf::int_type NullTextBuf::underflow() {
  return traits_type::eof();
}

void AssignNullText(std::ios& stream) {
  static NullTextBuf nullBuf;
  stream.rdbuf(&nullBuf);
  stream.clear();
}

std::ostream& StdText() {
  static std::ostream text(std::cout.rdbuf());
  return text;
}
