#include "support/nuldev.h"

#include <iostream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

TEST(NulDev, WritesSucceedAndVanish) {
  std::ostream out(nullptr);
  AssignNullText(out);
  for (int i = 0; i < 10000; ++i) out << "line " << i << '\n';
  out.write("block", 5);
  out.flush();
  EXPECT_TRUE(out.good());
}

TEST(NulDev, ReadsFindTheEndAtOnce) {
  std::istringstream in("not empty");
  AssignNullText(in);
  EXPECT_TRUE(in.good());  // a bound stream starts clear
  std::string line;
  EXPECT_FALSE(std::getline(in, line));
  EXPECT_TRUE(in.eof());
  EXPECT_EQ(line, "");
}

TEST(NulDev, StdTextCanBeSilencedWithoutTouchingStdout) {
  std::ostream& text = StdText();
  std::streambuf* const original = text.rdbuf();
  EXPECT_EQ(original, std::cout.rdbuf());
  AssignNullText(text);
  text << "discarded" << std::endl;
  EXPECT_TRUE(text.good());
  EXPECT_NE(text.rdbuf(), std::cout.rdbuf());
  text.rdbuf(original);
}

}  // namespace
