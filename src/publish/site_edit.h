#pragma once
// Edits of a site's update list that keep every installation able to reach
// the newest content of every file by its ordinary runs, one update a run.
//
// The site holds one copy per name. When a new update gives a name new
// content, each earlier update that lists the name with other content could
// no longer be installed: it is retired from the list, and the files it
// alone delivered (no later remaining update lists them) are carried into
// the next remaining update, whose own entries win. An installation that
// recorded a retired update finds no block with its record and takes the
// first block that sorts after it, as it does for any update it never saw.
//
// Both edits are pure: a list text in, a new list text and what was done out.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/list/file_entries.h"

// A file of a retired update that moved into a later update.
struct CarriedFile {
  FileEntry entry;
  std::string fromId;  // the retired update
  std::string toId;    // the update that delivers it now
};

struct ListEdit {
  std::string problem;  // why the edit is refused; empty when it is made
  std::string list;     // the new list text
  std::vector<std::string> retiredIds;
  std::vector<CarriedFile> carried;
  // Markers of retired updates ("!more") that are not carried: they spoke
  // of that update alone.
  std::vector<CarriedFile> dropped;
  // Names (as stored on the site) that no update lists any more.
  std::vector<std::string> unlistedNames;
  // Of a withdrawn update: the entries it keeps listing, carried into it
  // from updates retired before.
  std::vector<FileEntry> keptEntries;
  bool ok() const { return problem.empty(); }
};

// Whether the site holds exactly what an entry promises (its stored copy has
// the listed size and checksum).
using SiteHolds = std::function<bool(const FileEntry& entry)>;

// Appends the update `id` listing `entries` (names as stored; each name once)
// and retires the earlier updates that list one of those names with other
// content. An update to be retired that delivers an installation program
// ("!update..."), a "!more" marker or a new updater is named in the problem
// unless retireSpecial is set; one whose files would change what the update
// receiving them does (an installation program carried at all, or files
// carried into an update that runs its own installation program) is refused
// in any case, as is a carried entry the site no longer holds. The caller
// checks the order of the new header (OrderProblem) and each entry's length.
ListEdit AddUpdateBlock(std::string_view list, std::string_view id, const std::vector<FileEntry>& entries,
                        bool retireSpecial, const SiteHolds& siteHolds);

// Whether an entry of an update was carried into it from a retired update.
using CarriedInto = std::function<bool(const FileEntry& entry)>;

// Withdraws the update `id`: its own files are no longer offered. Files
// carried into it from retired updates are still needed by installations
// that have not received them: the update keeps listing those alone, under
// its identifier (which installations that received it have recorded, so
// they pass over it); without such files it is removed from the list.
// unlistedNames are the files of it that no update lists any more.
ListEdit WithdrawUpdateBlock(std::string_view list, std::string_view id, const CarriedInto& carried);

// The names of every entry of the list, as stored, each once.
std::vector<std::string> ListedNames(std::string_view list);
