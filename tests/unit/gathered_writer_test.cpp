// GatheredWriter on real files: what reaches the file and when, and a write
// that fails.
#include "support/gathered_writer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "support/temp_dir.h"

namespace {

struct GatherCase {
  const char* name;
  std::size_t gatherBytes;
  std::vector<std::size_t> blocks;
  std::vector<std::int64_t> writtenAfter;  // Written() after each block
};

const GatherCase kCases[] = {
    {"small blocks wait for a full piece", 10, {4, 4, 4, 4}, {0, 0, 10, 10}},
    {"a block of a whole piece goes out at once", 8, {8, 8}, {8, 16}},
    {"a large block follows what was gathered", 10, {3, 25, 2}, {0, 28, 28}},
    {"a block spilling over fills the piece first", 10, {6, 6, 6, 6}, {0, 10, 10, 20}},
    {"empty blocks write nothing", 4, {0, 3, 0, 0}, {0, 0, 0, 0}},
    {"pieces of one byte", 1, {1, 2, 1}, {1, 3, 4}},
};

// Distinct bytes in every block, so that a block written out of order shows.
std::string Block(std::size_t index, std::size_t size) {
  std::string bytes;
  for (std::size_t i = 0; i < size; ++i) bytes += static_cast<char>('a' + (index * 7 + i) % 26);
  return bytes;
}

TEST(GatheredWriterTest, WritesWholePiecesInOrder) {
  for (const GatherCase& c : kCases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string path = dir / "target.bin";
    StatusOr<os::File> file = os::File::Open(path, os::OpenFor::CreateNew);
    ASSERT_TRUE(file);
    GatheredWriter writer(*file, c.gatherBytes);
    std::string expected;
    for (std::size_t i = 0; i < c.blocks.size(); ++i) {
      const std::string block = Block(i, c.blocks[i]);
      expected += block;
      ASSERT_TRUE(writer.Append(block.data(), block.size()).ok());
      EXPECT_EQ(writer.Written(), c.writtenAfter[i]) << "after block " << i;
      EXPECT_EQ(file->Size(), c.writtenAfter[i]) << "after block " << i;
    }
    ASSERT_TRUE(writer.Flush().ok());
    EXPECT_EQ(writer.Written(), static_cast<std::int64_t>(expected.size()));
    ASSERT_TRUE(file->Close().ok());
    EXPECT_EQ(ReadFile(path), expected);
  }
}

TEST(GatheredWriterTest, FailedWriteFailsEveryLaterCall) {
  ScratchDir dir;
  const std::string path = dir / "readonly.bin";
  WriteFile(path, "");
  StatusOr<os::File> file = os::File::Open(path, os::OpenFor::Read);  // writes fail
  ASSERT_TRUE(file);
  GatheredWriter writer(*file, 16);
  const std::string block(10, 'x');
  EXPECT_TRUE(writer.Append(block.data(), block.size()).ok());  // only gathered
  EXPECT_FALSE(writer.Append(block.data(), block.size()).ok());  // the piece cannot be written
  EXPECT_FALSE(writer.Append(block.data(), 1).ok());
  EXPECT_FALSE(writer.Flush().ok());
  EXPECT_EQ(writer.Written(), 0);
  EXPECT_EQ(ReadFile(path), "");
}

TEST(GatheredWriterTest, FlushWithNothingGatheredSucceeds) {
  ScratchDir dir;
  StatusOr<os::File> file = os::File::Open(dir / "empty.bin", os::OpenFor::CreateNew);
  ASSERT_TRUE(file);
  GatheredWriter writer(*file);
  EXPECT_TRUE(writer.Flush().ok());
  EXPECT_TRUE(writer.Flush().ok());
  EXPECT_EQ(writer.Written(), 0);
}

}  // namespace
