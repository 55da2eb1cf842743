#include "support/nuldev.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

TEST(NulDev, WritesSucceedAndVanish) {
  // Whatever reaches the standard streams or the process's output and error
  // descriptors while the text is written is caught here.
  ScratchDir dir;
  std::ostringstream caughtOut, caughtErr;
  std::streambuf* const savedOut = std::cout.rdbuf(caughtOut.rdbuf());
  std::streambuf* const savedErr = std::cerr.rdbuf(caughtErr.rdbuf());
  std::fflush(stdout);
  std::fflush(stderr);
  const int savedFd1 = ::dup(1);
  const int savedFd2 = ::dup(2);
  const int sink = ::open((dir / "fds").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(sink, 0);
  ::dup2(sink, 1);
  ::dup2(sink, 2);

  std::ostream out(nullptr);
  AssignNullText(out);
  for (int i = 0; i < 10000; ++i) out << "line " << i << '\n';
  out.write("block", 5);
  out.flush();
  const bool good = out.good();
  // The device keeps nothing that could be read back.
  std::istream back(out.rdbuf());
  std::string kept;
  const bool readBack = static_cast<bool>(std::getline(back, kept));

  std::fflush(stdout);
  std::fflush(stderr);
  ::dup2(savedFd1, 1);
  ::dup2(savedFd2, 2);
  ::close(savedFd1);
  ::close(savedFd2);
  ::close(sink);
  std::cout.rdbuf(savedOut);
  std::cerr.rdbuf(savedErr);

  EXPECT_TRUE(good);
  EXPECT_FALSE(readBack);
  EXPECT_EQ(kept, "");
  EXPECT_EQ(caughtOut.str(), "");
  EXPECT_EQ(caughtErr.str(), "");
  EXPECT_EQ(ReadFile(dir / "fds"), "");
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
