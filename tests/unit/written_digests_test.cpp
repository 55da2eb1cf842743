// WrittenDigests as the observer of a GatheredWriter on a real file: the
// digests of the written bytes equal those of the whole file, however the
// bytes were split, lent or handed over, and a restart forgets what came
// before it.
#include "app/fetch/written_digests.h"

#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "platform/signature.h"
#include "support/fileutil.h"
#include "support/gathered_writer.h"
#include "support/temp_dir.h"

namespace {

// Bytes that differ along the file, so that a piece hashed out of order shows.
std::string Bytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed * 7 + i / 4096) & 0xff);
  return bytes;
}

struct DigestCase {
  const char* name;
  std::size_t gatherBytes;
  std::vector<std::size_t> blocks;
  bool checksum, recordDigest, prehash;
};

constexpr std::size_t kMiB = std::size_t{1} << 20;
const DigestCase kCases[] = {
    {"nothing written", kMiB, {}, true, true, true},
    {"one small piece, hashed on the writing thread", kMiB, {10, 5000}, true, true, true},
    {"many whole pieces, through the second thread", 128 << 10, {8192, 8192, 3 * kMiB, 100, 8192}, true, true, true},
    {"more pieces than may wait at once", 64 << 10, std::vector<std::size_t>(200, 8000), true, true, true},
    {"large blocks lent between gathered pieces", 100 << 10, {70000, 300000, 9, 250000, 70000}, true, true, true},
    {"the prehash alone", 64 << 10, {kMiB + 3, 5}, false, false, true},
    {"the checksum alone", 64 << 10, {kMiB + 3, 5}, true, false, false},
};

TEST(WrittenDigestsTest, DigestsOfTheWrittenBytesAreThoseOfTheWholeFile) {
  for (const DigestCase& c : kCases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    StatusOr<os::File> file = os::File::Open(dir / "f.bin", os::OpenFor::CreateNew);
    ASSERT_TRUE(file);
    WrittenDigests digests(c.checksum, c.recordDigest, c.prehash);
    // Bytes of an earlier attempt are forgotten on Restart.
    digests.Restart(true);
    digests.Take("earlier", 7);
    digests.Restart(true);
    GatheredWriter writer(*file, c.gatherBytes, &digests);
    std::string whole;
    for (std::size_t i = 0; i < c.blocks.size(); ++i) {
      const std::string block = Bytes(c.blocks[i], static_cast<unsigned>(i));
      whole += block;
      ASSERT_TRUE(writer.Append(block.data(), block.size()).ok());
    }
    ASSERT_TRUE(writer.Flush().ok());
    ASSERT_TRUE(file->Close().ok());
    EXPECT_EQ(ReadFile(dir / "f.bin"), whole);
    EXPECT_TRUE(digests.Cover(static_cast<std::int64_t>(whole.size())));
    EXPECT_FALSE(digests.Cover(static_cast<std::int64_t>(whole.size()) + 1));
    EXPECT_EQ(digests.Checksum(), c.checksum ? ChecksumOfBytes(whole) : ChecksumOfBytes(""));
    EXPECT_EQ(digests.RecordDigest(), c.recordDigest ? DigestOfBytes(whole) : ContentDigest{});
    EXPECT_EQ(digests.Prehash(), c.prehash ? crypto::Blake2b512(whole) : std::string());
  }
}

TEST(WrittenDigestsTest, AMethodThatWritesTheFileItselfIsNotCovered) {
  WrittenDigests digests(true, true, true);
  EXPECT_FALSE(digests.Cover(0));
  digests.Restart(false);
  EXPECT_FALSE(digests.Cover(0));
}

}  // namespace
