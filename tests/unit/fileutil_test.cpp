// Pure parts of the file utilities: the checksum, the update identifier,
// environment paths, program paths, waits, messages and keys.
#include "support/fileutil.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "support/recording_user_interface.h"
#include "support/scoped_env.h"
#include "support/ui_hooks.h"
#include "support/virtual_clock.h"

namespace {

// The checksum exactly as written down, step by step and byte by byte.
std::int32_t ReferenceChecksum(const std::string& bytes) {
  std::int64_t s = 0;
  std::int64_t c = 0;
  std::uint32_t r = 0;
  for (unsigned char b : bytes) {
    if (s > 9999999) s = -4;
    if (s < -9999999) s = 4;
    s = s + c + b;
    r = static_cast<std::uint32_t>((std::uint64_t{r} * 134775813u + 1u) % 4294967296u);
    s = s + static_cast<std::int64_t>(std::uint64_t{r} * 99999999u / 4294967296u);
    r = static_cast<std::uint32_t>(s & 0xFFFFFFFF);
    c = (c + 1) % 999999999;
  }
  while (s < -999999999) s += 999999999;
  while (s > 999999999) s -= 999999999;
  return static_cast<std::int32_t>(s % 999999999);
}

}  // namespace

// ---------------------------------------------------------------- checksum

TEST(FileUtil, ChecksumOfKnownBytes) {
  EXPECT_EQ(ChecksumOfBytes(""), 0);
  EXPECT_EQ(ChecksumOfBytes("a"), 97);
  EXPECT_EQ(ChecksumOfBytes("abc"), 12526584);
  EXPECT_EQ(NoChecksum(), -1000000000);
  EXPECT_EQ(NoChecksum(), kNoChecksum);
}

TEST(FileUtil, ChecksumAgreesWithTheStepByStepDefinition) {
  std::mt19937 random(42);
  for (std::size_t size : {1u, 2u, 7u, 255u, 4096u, 100000u}) {
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(random());
    const std::int32_t sum = ChecksumOfBytes(bytes);
    EXPECT_EQ(sum, ReferenceChecksum(bytes)) << size;
    EXPECT_NE(sum, NoChecksum());
    EXPECT_GT(sum, -999999999);
    EXPECT_LT(sum, 999999999);
  }
  // All-0xFF and all-zero inputs drive the sum to both clamps.
  for (char fill : {'\xff', '\0'}) {
    const std::string bytes(50000, fill);
    EXPECT_EQ(ChecksumOfBytes(bytes), ReferenceChecksum(bytes)) << int(fill);
  }
}

TEST(FileUtil, StreamChecksumInAnySplitIsTheWholeChecksum) {
  std::mt19937 random(7);
  std::string bytes(70000, '\0');
  for (auto& b : bytes) b = static_cast<char>(random());
  // Piece sizes as a transfer hands them on, and splits that cut the sum's
  // clamping steps at odd places.
  const std::vector<std::vector<std::size_t>> splits = {
      {70000}, {8192}, {1}, {3, 8189}, {65536, 4464}, {0, 100, 0, 9999}};
  for (const auto& split : splits) {
    StreamChecksum sum;
    std::size_t done = 0;
    for (std::size_t i = 0; done < bytes.size(); ++i) {
      const std::size_t piece = std::min(split[i % split.size()], bytes.size() - done);
      sum.Feed(bytes.data() + done, piece);
      done += piece;
    }
    EXPECT_EQ(sum.Result(), ReferenceChecksum(bytes)) << split.size() << " " << split[0];
  }
  EXPECT_EQ(StreamChecksum().Result(), ChecksumOfBytes(""));
}

TEST(FileUtil, ChecksumSeesByteOrderAndTheLastByte) {
  EXPECT_NE(ChecksumOfBytes("ab"), ChecksumOfBytes("ba"));
  EXPECT_NE(ChecksumOfBytes(std::string(1000, 'x')), ChecksumOfBytes(std::string(999, 'x') + 'y'));
}

// ------------------------------------------------------------ update identifier

TEST(FileUtil, UpdateIdOfStripsMarkupAndProductPrefixes) {
  SetProgramName("tvqlupd");
  struct Row {
    std::string text;
    std::string want;
  } rows[] = {
      {"", ""},
      {"<update id=\"TVQ2024-05-01\">", "2024-05-01"},
      {"<update ID=\"ZARB 2023-11-30\" size=\"3\">", "2023-11-30"},
      {"<update Id=\"tvqlupd2024-01-02\">", "2024-01-02"},   // own name before TVQ
      {"<update id=\"TvQ 7\">", "7"},
      {"<update id=\"X1 ***old\">", "X1 "},
      {"<update id=\"  \"X\">", "X"},                        // blanks and quotes before the id
      {"\"Version 5\"", "Version 5"},
      {"  plain text", "plain text"},
      {"ID=", ""},
      {std::string(260, 'x') + " id=\"TVQ1\"", std::string(255, 'x') + ""},  // cut to 255 first
  };
  for (const auto& r : rows) EXPECT_EQ(UpdateIdOf(r.text), r.want) << r.text;
}

TEST(FileUtil, ProgramNameDefaultsToTheExecutableName) {
  os::SetExecutablePathForTests("/opt/app dir/tvqlupd.bin");
  SetProgramName("");
  EXPECT_EQ(ProgramName(), "tvqlupd");
  os::SetExecutablePathForTests("/elsewhere/tvqlupd2");
  EXPECT_EQ(ProgramName(), "tvqlupd2");  // follows the path until set
  SetProgramName("other");
  EXPECT_EQ(ProgramName(), "other");
  EXPECT_EQ(UpdateIdOf("id=\"OTHER12\""), "12");
  os::SetExecutablePathForTests("");
  SetProgramName("tvqlupd");
}

TEST(FileUtil, ProgramPathAndDir) {
  os::SetExecutablePathForTests("/opt/app.d/tvqlupd.bin");
  EXPECT_EQ(ProgramPath(true, true), "/opt/app.d/tvqlupd.bin");
  EXPECT_EQ(ProgramPath(true, false), "/opt/app.d/tvqlupd");
  EXPECT_EQ(ProgramPath(false, true), "tvqlupd.bin");
  EXPECT_EQ(ProgramPath(false, false), "tvqlupd");
  EXPECT_EQ(ProgramDir(false), "/opt/app.d");
  EXPECT_EQ(ProgramDir(true), "/opt/app.d/");
  os::SetExecutablePathForTests("/opt/app.d/tvqlupd");
  EXPECT_EQ(ProgramPath(true, false), "/opt/app.d/tvqlupd");
  os::SetExecutablePathForTests("");
}

// -------------------------------------------------------------- environment

TEST(FileUtil, EnvironmentDirectoriesFallBackInOrder) {
  ScopedEnv temp("TEMP"), tmpdir("TMPDIR"), appData("AppData"), xdg("XDG_CONFIG_HOME"),
      home("HOME"), programFiles("PROGRAMFILES");
  temp.Set("/t1");
  tmpdir.Set("/t2");
  EXPECT_EQ(TempDir(), "/t1");
  temp.Set("");
  EXPECT_EQ(TempDir(), "/t2");
  tmpdir.Set(std::nullopt);
  EXPECT_EQ(TempDir(), "/tmp");

  appData.Set("/a1");
  xdg.Set("/a2");
  home.Set("/home/u");
  EXPECT_EQ(AppDataDir(), "/a1");
  appData.Set(std::nullopt);
  EXPECT_EQ(AppDataDir(), "/a2");
  xdg.Set(std::nullopt);
  EXPECT_EQ(AppDataDir(), "/home/u/.config");

  programFiles.Set(std::nullopt);
  EXPECT_EQ(ProgramFilesDir(), "");
  programFiles.Set("/pf");
  EXPECT_EQ(ProgramFilesDir(), "/pf");
  EXPECT_EQ(GetEnv("PROGRAMFILES"), "/pf");
  EXPECT_EQ(GetEnv("TVQ_SURELY_UNSET_VARIABLE"), "");
}

// ---------------------------------------------------- waits, messages, keys

TEST(FileUtil, PauseSleepsWithoutHandlingMessages) {
  VirtualClock clock;
  RecordingUserInterface ui;
  Pause(500);
  Pause(0);
  Pause(-3);
  // Only a positive wait sleeps, and on the installed clock.
  EXPECT_EQ(clock.Sleeps(), std::vector<std::int64_t>{500});
  EXPECT_TRUE(ui.pumpArgs.empty());
}

TEST(FileUtil, PumpMessagesForHandlesMessagesForTheWholeTime) {
  VirtualClock clock;
  RecordingUserInterface ui;
  ui.pending = 2;
  EXPECT_TRUE(PumpMessagesFor(100));
  EXPECT_EQ(clock.TotalSlept(), 100);
  EXPECT_GE(ui.pumpArgs.size(), 10u);
  for (int ms : ui.pumpArgs) EXPECT_EQ(ms, -1);

  clock.Clear();
  EXPECT_FALSE(PumpMessagesFor(0x10000 + 20));  // 16-bit milliseconds: 20
  EXPECT_EQ(clock.TotalSlept(), 20);
}

TEST(FileUtil, PumpMessagesRaisesTheDepthWhileItRuns) {
  VirtualClock clock;
  RecordingUserInterface ui;
  ui.pending = 1;
  EXPECT_EQ(PumpMessagesDepth(), 0);
  EXPECT_TRUE(PumpMessages(-1));
  EXPECT_EQ(ui.pumpArgs, std::vector<int>{-1});
  EXPECT_EQ(clock.TotalSlept(), 0);
  EXPECT_FALSE(PumpMessages(30));
  EXPECT_EQ(clock.TotalSlept(), 30);
  for (int depth : ui.depthSeen) EXPECT_EQ(depth, 1);
  EXPECT_EQ(PumpMessagesDepth(), 0);
}

TEST(FileUtil, KeysAndMessageBoxesGoToTheUserInterface) {
  RecordingUserInterface ui;
  ui.held = kVkControl;
  EXPECT_TRUE(CtrlDown());
  EXPECT_FALSE(ShiftDown());
  EXPECT_TRUE(KeyDown(kVkControl));
  EXPECT_EQ(ui.keysAsked, (std::vector<int>{kVkControl, kVkShift, kVkControl}));
  ui.answer = kIdNo;
  EXPECT_EQ(ShowMessageBox("text", "Error", kMbYesNo | kMbIconQuestion), kIdNo);
  EXPECT_EQ(ui.BoxLines(), std::vector<std::string>{"Error|text|36"});
}

TEST(FileUtil, CommandLineWordStaysOneWord) {
  for (const std::string path : {"/opt/app/tvquwait.exe", "/tmp/my work/!update.sh", "a\tb"}) {
    const auto words = os::SplitCommandLine(CommandLineWord(path) + " +");
    ASSERT_EQ(words.size(), 2u) << path;
    EXPECT_EQ(words[0], path);
  }
  EXPECT_EQ(CommandLineWord("/opt/app/tvquwait.exe"), "/opt/app/tvquwait.exe");
}
