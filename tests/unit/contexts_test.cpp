#include "support/contexts.h"

#include <gtest/gtest.h>

namespace {

// Puts the process-wide open mode back to its start value after each test.
class Contexts : public ::testing::Test {
 protected:
  void SetUp() override { SetFileOpenMode(2); }
  void TearDown() override { SetFileOpenMode(2); }
};

TEST_F(Contexts, ReleaseRestoresMode) {
  {
    auto ctx = FileModeContext(0);
    EXPECT_EQ(FileOpenMode(), 0);
  }
  EXPECT_EQ(FileOpenMode(), 2);
}

TEST_F(Contexts, LastReferenceRestores) {
  auto ctx = FileModeContext(0);
  auto copy = ctx;
  ctx.reset();
  EXPECT_EQ(FileOpenMode(), 0);
  copy.reset();
  EXPECT_EQ(FileOpenMode(), 2);
}

TEST_F(Contexts, RestoreThenReleaseRestoresOnce) {
  auto ctx = FileModeContext(0);
  ctx->Restore();
  EXPECT_EQ(FileOpenMode(), 2);
  SetFileOpenMode(1);  // set by other code in between
  ctx->Restore();
  ctx.reset();
  EXPECT_EQ(FileOpenMode(), 1);
}

TEST_F(Contexts, NestedContextsReleasedInnerFirst) {
  auto outer = FileModeContext(1);
  auto inner = FileModeContext(0);
  EXPECT_EQ(FileOpenMode(), 0);
  inner.reset();
  EXPECT_EQ(FileOpenMode(), 1);
  outer.reset();
  EXPECT_EQ(FileOpenMode(), 2);
}

TEST_F(Contexts, RestoredFlagFollowsRestore) {
  TFileModeContext ctx(0);
  EXPECT_FALSE(ctx.Restored());
  ctx.Restore();
  EXPECT_TRUE(ctx.Restored());
  EXPECT_EQ(FileOpenMode(), 2);
}

}  // namespace
