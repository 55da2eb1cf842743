#include "app/context/display.h"

#include <gtest/gtest.h>

#include "app/context/run_context.h"
#include "support/recording_display.h"

namespace {

class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetCancelForTests();
  }
  void TearDown() override { ResetCancelForTests(); }
  RecordingDisplay display;
  RunProgress progress;
};

TEST_F(DisplayTest, StatusReadsExitingAfterCancel) {
  ShowStatus("downloading...");
  RequestCancel();
  ShowStatus("installing...");
  EXPECT_EQ(display.statuses, (std::vector<std::string>{"downloading...", "exiting..."}));
  EXPECT_EQ(display.pumps, 2);
}

TEST_F(DisplayTest, ProgressNeverMovesBackAndCapsAt100) {
  ShowProgress(40);
  ShowProgress(30);
  ShowProgress(150);
  ShowProgress(120);
  EXPECT_EQ(display.percents, (std::vector<int>{40, 100}));
  EXPECT_EQ(ProgressPosition(), 100);
  EXPECT_EQ(display.pumps, 4);
}

TEST_F(DisplayTest, NegativeProgressOnlyPumps) {
  ShowProgress(-5);
  ShowProgress(0);  // not greater than the position 0
  EXPECT_TRUE(display.percents.empty());
  EXPECT_EQ(display.pumps, 2);
}

TEST_F(DisplayTest, DownloadedBytesFillTheBarTo96HalvesToEven) {
  // 96 * n / 192: n = 1 gives 0.5 (to 0), n = 3 gives 1.5 (to 2), n = 5 gives 2.5 (to 2).
  progress.total = 192;
  AddDownloadedBytes(progress, 1);
  EXPECT_TRUE(display.percents.empty());
  AddDownloadedBytes(progress, 2);
  AddDownloadedBytes(progress, 2);
  EXPECT_EQ(display.percents, (std::vector<int>{2}));
  AddDownloadedBytes(progress, 187);
  EXPECT_EQ(display.percents.back(), 96);
  EXPECT_EQ(progress.downloaded, 192);
}

TEST_F(DisplayTest, ZeroTotalCountsBytesButLeavesTheBar) {
  AddDownloadedBytes(progress, 5000);
  EXPECT_EQ(progress.downloaded, 5000);
  EXPECT_TRUE(display.percents.empty());
  EXPECT_EQ(ProgressPosition(), 0);
}

TEST_F(DisplayTest, CountsBeyond2GiB) {
  progress.total = 6LL << 30;
  AddDownloadedBytes(progress, 3LL << 30);
  EXPECT_EQ(display.percents, (std::vector<int>{48}));
}

TEST_F(DisplayTest, InstallStepsMapOntoTheLastFourPercent) {
  const int steps[] = {0, 5, 25, 30, 31, 60, 90, 93, 100};
  const int shown[] = {96, 96, 97, 97, 97, 98, 100, 100, 100};
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    ResetDisplayState();
    ShowInstallProgress(steps[i]);
    EXPECT_EQ(ProgressPosition(), shown[i]) << "step " << steps[i];
  }
}

TEST_F(DisplayTest, IllustrationLetterIsUpperCased) {
  ShowIllustration('c');
  ShowIllustration('D');
  ShowIllustration('x');
  ShowIllustration('0');
  EXPECT_EQ(display.illustrations, (std::vector<char>{'C', 'D', '0', '0'}));
}

TEST_F(DisplayTest, HostOfSite) {
  struct Case {
    const char* site;
    const char* host;
  } cases[] = {
      {"http://updates.example.com/tvqlupd/", "updates.example.com"},
      {"https://host:8443/a/b/", "host:8443"},
      {"file://\\\\server\\share\\upd\\", "server"},
      {"file:///srv/upd/", "srv"},
      {"file://C:\\upd\\", "C:"},
      {"plainhost", "plainhost"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(HostOfSite(c.site), c.host) << c.site;
}

TEST_F(DisplayTest, HostSuffixDoesNotPileUp) {
  ShowHost("http://one.example/x/");
  ShowHost("http://two.example/y/");
  EXPECT_EQ(CaptionText(), std::string(kCaptionText) + kHostSuffix + "two.example");
  EXPECT_EQ(display.captions.back(), CaptionText());
}

TEST_F(DisplayTest, UpdateIdLabel) {
  ShowUpdateId("2024-05-01");
  EXPECT_EQ(display.updateIds, (std::vector<std::string>{"update ID: 2024-05-01"}));
}

TEST_F(DisplayTest, SiteTextReachesTheSurfaceWithoutControlCharacters) {
  // An ID that would retitle and clear a terminal, a host with a bell and
  // a line break, a cause with a carriage return.
  ShowUpdateId("\x1b]0;owned\x07\x1b[2J\x7f");
  EXPECT_EQ(display.updateIds.back(), "update ID: ?]0;owned??[2J?");
  ShowHost("http://evil\x07\nhost/x/");
  EXPECT_EQ(display.captions.back(), std::string(kCaptionText) + kHostSuffix + "evil??host");
  ShowCause("disk\rfull");
  EXPECT_EQ(display.causes, (std::vector<std::string>{"disk?full"}));
  // Bytes of UTF-8 text are not control characters.
  ShowUpdateId("Ü-2024");
  EXPECT_EQ(display.updateIds.back(), "update ID: Ü-2024");
}

TEST(Display, RoundHalfEven) {
  struct Case {
    double value;
    std::int64_t want;
  } cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {2.4999, 2}, {2.5001, 3}, {-0.5, 0}, {-1.5, -2}, {95.5, 96}, {96.5, 96}};
  for (const auto& c : cases) EXPECT_EQ(RoundHalfEven(c.value), c.want) << c.value;
}

TEST(Display, SilentSurfaceWhenNoneInstalled) {
  SetDisplaySurface(nullptr);
  ResetDisplayState();
  ShowStatus("nothing to see");
  ShowProgress(10);
  EXPECT_EQ(ProgressPosition(), 10);
}

}  // namespace
