#pragma once
// The publisher's side of the site's record (app/list/site_record.h): made
// from the list about to be written and the site's files, written beside the
// list and, on a signed site, signed; and checked by verify.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/fetch/minisign.h"
#include "app/list/rollout.h"
#include "app/list/site_record.h"
#include "platform/status.h"
#include "publish/minisign_signing.h"

// Changes of rollouts by update ID: a new rollout, or nullopt to complete
// one (the update is then offered to every installation).
using RolloutChanges = std::map<std::string, std::optional<Rollout>>;

// What a change of the site adds to its record besides the files' digests.
struct RecordChanges {
  RolloutChanges rollouts;
  std::vector<RecordedPatch> newPatches;  // patches just made (publish/site_deltas.h)
};

// Writes the record of listText (the exact bytes the list will have) and of
// every file it lists, as the site holds them now, with the rollouts the
// site's record holds (of updates the list still holds) changed as given,
// and its patches that still make a listed file's content, with the new
// ones; with key also its signature. The patch files and delta bases that
// no patch uses any more are removed after. The first failure stops it,
// with its cause.
Status WriteSiteRecord(const std::string& siteDir, const std::string& listText, const MinisignSecretKey* key,
                       const RecordChanges& changes = {});

// The rollouts and the patches of the site's record (none when it has no
// readable record).
std::map<std::string, Rollout> CurrentRollouts(const std::string& siteDir);
std::vector<RecordedPatch> CurrentPatches(const std::string& siteDir);

// What is wrong with the site's record: missing (a problem only when
// required), not readable, not describing the list, or naming a file with
// other bytes than the site holds. One line each.
std::vector<std::string> SiteRecordProblems(const std::string& siteDir, bool required);
