// Patches made by MakePatch and applied by ApplyPatch on real files: round
// trips, damaged patches, patches with chosen bad steps, wrong bases.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/fetch/patch_apply.h"
#include "platform/os.h"
#include "publish/patch_make.h"
#include "support/temp_dir.h"

namespace {

using ::testing::HasSubstr;

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

void PutLittleEndian(std::string& out, std::size_t at, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out[at + i] = static_cast<char>(value >> (8 * i));
}

// Program-like bytes: records of an opcode and a 32-bit address of another
// record. The result has new records in the middle, so every address past
// them moves, as it does when a program changes.
std::string ProgramLike(std::size_t records, std::size_t insertAt, std::size_t inserted) {
  std::mt19937 random(11);
  std::string out;
  for (std::size_t i = 0; i < records; ++i) {
    if (i == insertAt) out += RandomBytes(inserted * 5, 12);
    const std::uint32_t target = random() % records;
    out += static_cast<char>(0xe8 + random() % 4);
    out += std::string(4, '\0');
    PutLittleEndian(out, out.size() - 4, (target + (target >= insertAt ? inserted : 0)) * 5, 4);
  }
  return out;
}

// A scratch directory with the base and the patch written to files.
struct PatchFiles {
  PatchFiles(const std::string& base, const std::string& patch) {
    WriteFile(basePath, base);
    WriteFile(patchPath, patch);
  }
  Status Apply(std::uint64_t size) { return ApplyPatch(basePath, patchPath, resultPath, size); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const os::DirEntry& entry : os::ListDirectory(dir.path())) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
  }
  ScratchDir dir;
  std::string basePath = dir / "base";
  std::string patchPath = dir / "patch";
  std::string resultPath = dir / "result";
};

struct RoundTrip {
  const char* name;
  std::string base;
  std::string result;
  std::size_t maxPatch;  // 0: any size
};

std::vector<RoundTrip> RoundTrips() {
  const std::string text = RandomBytes(100000, 1);
  std::string edited = text;
  edited[4321] ^= 0x10;
  const std::string program = ProgramLike(400000, 200000, 20);
  return {
      {"both empty", "", "", 0},
      {"empty base", "", text, 0},
      {"empty result", text, "", 0},
      {"identical", text, text, 400},
      {"one byte changed", text, edited, 400},
      {"insertion", text, text.substr(0, 3000) + "a few new bytes" + text.substr(3000), 400},
      {"deletion", text, text.substr(0, 3000) + text.substr(3500), 400},
      {"blocks moved", text, text.substr(50000) + text.substr(0, 50000), 500},
      {"unrelated", text, RandomBytes(120000, 2), 0},
      {"a program changed", ProgramLike(400000, 200000, 0), program, program.size() / 10},
  };
}

TEST(Patch, RoundTripsGiveTheResult) {
  for (const RoundTrip& c : RoundTrips()) {
    SCOPED_TRACE(c.name);
    std::string patch;
    ASSERT_TRUE(MakePatch(c.base, c.result, patch).ok());
    if (c.maxPatch > 0) {
      EXPECT_LE(patch.size(), c.maxPatch);
    }
    PatchFiles files(c.base, patch);
    const Status applied = files.Apply(c.result.size());
    ASSERT_TRUE(applied.ok()) << applied.message();
    EXPECT_TRUE(ReadFile(files.resultPath) == c.result);
    patch::Header header;
    ASSERT_TRUE(ReadPatchHeader(files.patchPath, header).ok());
    EXPECT_EQ(header.baseSize, c.base.size());
    EXPECT_EQ(header.resultSize, c.result.size());
    // In place: the base is read until the result replaces it, and its
    // permission bits stay.
    ASSERT_TRUE(os::SetPermissions(files.basePath, 0750).ok());
    ASSERT_TRUE(ApplyPatch(files.basePath, files.patchPath, files.basePath, c.result.size()).ok());
    EXPECT_TRUE(ReadFile(files.basePath) == c.result);
#ifndef _WIN32
    EXPECT_EQ(os::StatPath(files.basePath).permissions, 0750u);
#endif
  }
}

// Where stream i begins in a patch.
std::size_t StreamStart(const std::string& patch, std::size_t stream) {
  patch::Header header;
  EXPECT_TRUE(patch::DecodeHeader(patch, header).ok());
  std::size_t at = patch::kHeaderSize;
  for (std::size_t i = 0; i < stream; ++i) at += header.streamSizes[i];
  return at + header.streamSizes[stream] / 2;
}

struct Damage {
  std::string name;
  std::function<void(std::string& patch, std::string& base, std::uint64_t& size)> change;
  const char* cause;
};

std::vector<Damage> Damages() {
  std::vector<Damage> damages = {
      {"cut in its header", [](std::string& p, std::string&, std::uint64_t&) { p.resize(40); },
       "the patch is damaged: it is shorter than its header"},
      {"one byte short", [](std::string& p, std::string&, std::uint64_t&) { p.pop_back(); }, "the patch is damaged"},
      {"a byte more", [](std::string& p, std::string&, std::uint64_t&) { p += 'x'; }, "the patch is damaged"},
      {"another magic", [](std::string& p, std::string&, std::uint64_t&) { p[0] = 'X'; }, "it is not a patch"},
      {"another version", [](std::string& p, std::string&, std::uint64_t&) { p[8] = 9; }, "of version 9"},
      {"a result larger than its header says",
       [](std::string& p, std::string&, std::uint64_t& size) { PutLittleEndian(p, 20, --size, 8); },
       "the patch is damaged: a step writes past the result's size"},
      {"another result size expected", [](std::string&, std::string&, std::uint64_t& size) { ++size; },
       "the patch does not fit: it makes"},
      {"a base of another size", [](std::string&, std::string& base, std::uint64_t&) { base += 'x'; },
       "the patch does not fit"},
      {"a base of other content", [](std::string&, std::string& base, std::uint64_t&) { base[77] ^= 1; },
       "it was made for other content"},
  };
  for (std::size_t i = 0; i < patch::kStreamCount; ++i)
    damages.push_back({"a byte flipped in the " + std::string(patch::kStreamNames[i]) + " stream",
                       [i](std::string& p, std::string&, std::uint64_t&) { p[StreamStart(p, i)] ^= 0x21; },
                       "the patch is damaged"});
  return damages;
}

TEST(Patch, DamagedPatchesAndWrongBasesAreRefused) {
  std::string base = ProgramLike(20000, 10000, 0);
  base += RandomBytes(3000, 3);
  const std::string result = ProgramLike(20000, 10000, 10) + RandomBytes(2000, 4);
  std::string good;
  ASSERT_TRUE(MakePatch(base, result, good).ok());
  for (const Damage& c : Damages()) {
    SCOPED_TRACE(c.name);
    std::string patch = good;
    std::string changedBase = base;
    std::uint64_t size = result.size();
    c.change(patch, changedBase, size);
    PatchFiles files(changedBase, patch);
    const Status applied = files.Apply(size);
    EXPECT_THAT(applied.message(), HasSubstr(c.cause));
    EXPECT_EQ(files.Names(), (std::vector<std::string>{"base", "patch"}));
  }
}

std::string Varints(const std::vector<std::int64_t>& values, bool signedFirst = false) {
  std::string out;
  for (std::size_t i = 0; i < values.size(); ++i)
    patch::AppendVarint(out, signedFirst && i % 3 == 0 ? patch::ZigZag(values[i]) : values[i]);
  return out;
}
std::string Steps(const std::vector<std::int64_t>& values) { return Varints(values, true); }

struct BadSteps {
  const char* name;
  PatchStreams streams;  // control, unchanged, changed, diff, extra
  const char* cause;
};

// Base "abcdefgh" and result "abXdefgh!" (9 bytes) throughout.
const BadSteps kBadSteps[] = {
    {"a move past the base's end", {Steps({9, 0, 9})}, "a step moves outside the base"},
    {"a move before the base", {Steps({-1, 0, 9})}, "a step moves outside the base"},
    {"a copy past the base's end", {Steps({4, 5, 0})}, "a step reads past the end of the base"},
    {"a step that writes nothing", {Steps({0, 0, 0})}, "a step writes nothing"},
    {"a step past the result's size", {Steps({0, 0, 10})}, "a step writes past the result's size"},
    {"a number of eleven bytes", {std::string(10, '\x80') + '\x01'}, "holds a number too large"},
    {"an unchanged run longer than its copy part", {Steps({0, 4, 5}), Varints({5})}, "a run does not fit"},
    {"an empty changed run", {Steps({0, 4, 5}), Varints({2}), Varints({0})}, "a run does not fit"},
    {"steps that end before the result", {Steps({0, 2, 0}), Varints({2})}, "the control stream ends early"},
    {"a diff stream that ends early", {Steps({0, 8, 1}), Varints({2, 5}), Varints({1}), ""}, "diff stream ends early"},
    {"a step after the result",
     {Steps({0, 8, 1, 0, 1, 0}), Varints({2, 5}), Varints({1}), std::string(1, 'X' - 'c'), "!"},
     "the control stream holds more than its steps use"},
    {"extra bytes left over",
     {Steps({0, 8, 1}), Varints({2, 5}), Varints({1}), std::string(1, 'X' - 'c'), "!?"},
     "the extra stream holds more than its steps use"},
};

TEST(Patch, BadStepsAreRefused) {
  const std::string base = "abcdefgh";
  const std::string result = "abXdefgh!";
  for (const BadSteps& c : kBadSteps) {
    SCOPED_TRACE(c.name);
    std::string patch;
    ASSERT_TRUE(PackPatch(base, result, c.streams, patch).ok());
    PatchFiles files(base, patch);
    EXPECT_THAT(files.Apply(result.size()).message(), HasSubstr(c.cause));
    EXPECT_EQ(files.Names(), (std::vector<std::string>{"base", "patch"}));
  }
  // The same streams without the fault make the result.
  std::string patch;
  ASSERT_TRUE(PackPatch(base, result,
                        {Steps({0, 8, 1}), Varints({2, 5}), Varints({1}), std::string(1, 'X' - 'c'), "!"}, patch)
                  .ok());
  PatchFiles files(base, patch);
  ASSERT_TRUE(files.Apply(result.size()).ok());
  EXPECT_EQ(ReadFile(files.resultPath), result);
}

}  // namespace
