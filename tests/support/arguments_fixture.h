#pragma once
// A test whose program parameters may be replaced (os::SetArguments); the
// real ones come back when the test ends.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os.h"

class ArgumentsFixture : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = os::Arguments(); }
  void TearDown() override { os::SetArguments(saved_); }

 private:
  std::vector<std::string> saved_;
};
