// The run's preparation of its work directory on real directories.
#include "app/run.h"

#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "app/names.h"
#include "platform/os.h"
#include "support/fileutil.h"
#include "support/temp_dir.h"
#include "support/ui_hooks.h"

namespace fs = std::filesystem;

namespace {

class RecordingBoxes : public UserInterface {
 public:
  int MessageBox(const std::string& text, const std::string&, unsigned) override {
    texts.push_back(text);
    return kIdOk;
  }
  bool KeyDown(int) override { return false; }
  bool PumpMessages(int) override { return false; }
  std::vector<std::string> texts;
};

class WorkDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramName("tvqlupd");
    os::SetEnvVar("TEMP", temp.path());
    SetUserInterface(&boxes);
    work = WorkDirectory();
  }
  void TearDown() override { SetUserInterface(nullptr); }

  ScratchDir temp;
  RecordingBoxes boxes;
  std::string work;
};

TEST_F(WorkDirectoryTest, IsCreatedPrivateAndEmptiedOfFilesOnly) {
  fs::create_directories(work + "/keep");
  WriteFile(work + "/old.bin", "left by an earlier run");
  WriteFile(work + "/noext", "x");
  fs::permissions(work, fs::perms(0755));
  EXPECT_TRUE(PrepareWorkDirectory());
  EXPECT_EQ(fs::status(work).permissions(), fs::perms(0700));
  EXPECT_FALSE(PathExists(work + "/old.bin"));
  EXPECT_FALSE(PathExists(work + "/noext"));
  EXPECT_TRUE(fs::is_directory(work + "/keep"));
  EXPECT_TRUE(boxes.texts.empty());
}

TEST_F(WorkDirectoryTest, PlantedLinkIsRefusedWithTheErrorBox) {
  const std::string elsewhere = temp / "elsewhere";
  fs::create_directory(elsewhere);
  WriteFile(elsewhere + "/precious", "keep me");
  fs::create_directory_symlink(elsewhere, work);
  EXPECT_FALSE(PrepareWorkDirectory());
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_NE(boxes.texts[0].find("Cannot run update program: cannot create directory \"" + work),
            std::string::npos);
  EXPECT_EQ(ReadFile(elsewhere + "/precious"), "keep me");
}

TEST_F(WorkDirectoryTest, DirectoryOfAnotherAccountIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the directory to another account";
  fs::create_directories(work);
  fs::permissions(work, fs::perms(0777));
  ASSERT_EQ(chown(work.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(PrepareWorkDirectory());
  EXPECT_EQ(boxes.texts.size(), 1u);
}

}  // namespace
