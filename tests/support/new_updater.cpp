#include "support/new_updater.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace {

const char* const kReadme = "readme.txt";
const char* const kReadmeContent = "comes with the new updater\r\n";

// The files directly in dir.
std::set<std::string> FileNames(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

}  // namespace

std::string ListingTestName(const NewUpdaterListing& listing) {
  std::string name;
  for (const char c : listing.listedAs)
    name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

std::string PublishNewUpdater(UpdaterEnv& env, const NewUpdaterListing& listing) {
  std::string updater = "new updater build 2.0 ";
  while (updater.size() < 4000) updater += static_cast<char>('a' + updater.size() % 26);
  const std::string pack = env.Root() + "/new-updater";
  fs::create_directories(pack);
  const bool packed = listing.listedAs.back() == '_';
  WriteFile(pack + "/" + listing.listedAs, packed ? Compressed(pack, "tvqlupd.exe", updater) : updater);
  WriteFile(pack + "/" + kReadme, kReadmeContent);
  EXPECT_EQ(env.PublishPaths("TVQ2026-01-10", {pack + "/" + listing.listedAs, pack + "/" + kReadme}), 0);
  return updater;
}

void ExpectNewUpdaterInstalled(const UpdaterEnv& env, const NewUpdaterListing& listing,
                               const std::string& oldProgram, const std::string& newUpdater,
                               const ProcessResult& run) {
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("installation completed"), std::string::npos) << run.err;
  EXPECT_TRUE(ReadFile(env.AppFile(listing.installedAs)) == newUpdater) << listing;
  const std::string program = fs::path(env.ProgramPath()).filename().string();
  if (listing.installedAs != program) {
    EXPECT_TRUE(ReadFile(env.ProgramPath()) == oldProgram) << "the running program was replaced";
  }
  EXPECT_EQ(ReadFile(env.AppFile(kReadme)), kReadmeContent);
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo").rfind("<update id=\"TVQ2026-01-10\">", 0), 0u)
      << env.Settings();
  // Beside them only the run lock's file, which stays.
  const std::string lockFile = "." + fs::path(program).stem().string() + ".lock";
  const std::set<std::string> expected = {program, "tvqlupd.INI", kReadme, listing.installedAs,
                                          lockFile};
  EXPECT_EQ(FileNames(env.app), expected);
}
