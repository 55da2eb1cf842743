#pragma once
// An update that brings the updater's own new version, for the end-to-end
// runs of both builds: the update lists the new updater under one of the
// names the installation knows, beside an ordinary file.

#include <ostream>
#include <string>

#include "support/process_runner.h"
#include "support/updater_env.h"

struct NewUpdaterListing {
  std::string listedAs;     // the name in the update list; packed when it ends in "_"
  std::string installedAs;  // the file of the application directory it becomes
};

inline std::ostream& operator<<(std::ostream& out, const NewUpdaterListing& listing) {
  return out << listing.listedAs << " -> " << listing.installedAs;
}

// A test name for the row: its listed name with letters and digits only.
std::string ListingTestName(const NewUpdaterListing& listing);

// Publishes the update "TVQ2026-01-10" with the new updater under
// listing.listedAs and readme.txt; the new updater's content.
std::string PublishNewUpdater(UpdaterEnv& env, const NewUpdaterListing& listing);

// After one run: the new updater is where the row says, the program's file
// is untouched unless the row replaces it, readme.txt is installed, the
// update is recorded, and nothing else but the run lock's file is left in
// the application directory.
void ExpectNewUpdaterInstalled(const UpdaterEnv& env, const NewUpdaterListing& listing,
                               const std::string& oldProgram, const std::string& newUpdater,
                               const ProcessResult& run);
