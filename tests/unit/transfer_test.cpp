#include "app/fetch/transfer.h"

#include <gtest/gtest.h>

#include "app/context/run_context.h"
#include "support/std_text_capture.h"
#include "support/temp_dir.h"

namespace {

TEST(Transfer, CountCurrentSetBytesSkipsNonNumbersAndEmptyPieces) {
  StdTextCapture log;
  EXPECT_EQ(CountCurrentSetBytes("a.txt:100:1\\b.txt:many:2\\c.txt:50:3\\"), 150);
  EXPECT_EQ(log.Text(), "total bytes to be downloaded (cur set): 150\n");
}

TEST(Transfer, CountCurrentSetBytesIs64Bit) {
  StdTextCapture log;
  EXPECT_EQ(CountCurrentSetBytes("a:3000000000:1\\b:3000000000:1\\:77:1\\c:-5:1"), 6000000000LL);
  EXPECT_EQ(CountCurrentSetBytes(""), 0);
}

TEST(Transfer, NothingIsDoneAfterCancel) {
  ScratchDir dir;
  RunProgress progress;
  ResetCancelForTests();
  RequestCancel();
  EXPECT_FALSE(FetchFile("http://127.0.0.1:1/x", dir / "x", &progress).ok());
  EXPECT_FALSE(PathExists(dir / "x"));
  ResetCancelForTests();
}

}  // namespace
