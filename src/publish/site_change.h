#pragma once
// Puts an edit of the update list into a site directory in the order that
// keeps the site usable at every moment: the new files first, then their
// signatures, then the list and its signature, and only then the removal of
// what no update lists any more. Beside the list, the publisher keeps the
// site's history: withdrawn updates, so that no later update takes an
// identifier that sorts before one that installations may have recorded,
// and the files carried from retired updates into later ones, which a
// withdrawal of such an update keeps offering.

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/fetch/minisign.h"
#include "publish/minisign_signing.h"
#include "app/list/list_binding.h"
#include "platform/status.h"
#include "publish/site_edit.h"
#include "publish/site_record_write.h"

inline constexpr const char* kSiteHistoryName = "!site-history.txt";

// How a change is signed: with key (files and list), by dropping every
// signature (drop), or not at all (an unsigned site).
struct SiteSigning {
  const MinisignSecretKey* key = nullptr;
  ListBinding binding;
  bool drop = false;
};

// A file to put into the site under its listed name.
struct StagedFile {
  std::string path;
  std::string listedName;
};

// Copies files in, signs namesToSign, writes edit.list, signs the list (or
// drops every signature) and removes the files edit.unlistedNames names
// with their signatures. The first failure stops it, with its cause.
// The site's record is written with the changes given (rollouts, new
// patches) before the list, so that an update released gradually is never
// offered whole.
Status ApplyListEdit(const std::string& siteDir, const ListEdit& edit, const std::vector<StagedFile>& files,
                     const std::vector<std::string>& namesToSign, const SiteSigning& signing,
                     const RecordChanges& recordChanges = {});

// Signs every file listText lists, writes and signs the site's record, then
// signs the list (whose bytes are listText), so that a list signature never
// vouches for files that are not signed and recorded yet.
Status SignWholeSite(const MinisignSecretKey& key, const std::string& siteDir, const std::string& listText,
                     const ListBinding& binding);

// What the site's history says (empty for a site without one).
struct SiteHistory {
  std::vector<std::string> withdrawnHeaders;
  std::set<std::pair<std::string, std::string>> carried;  // (update id, entry text)
  bool WasCarriedInto(const std::string& id, const FileEntry& entry) const;
};
SiteHistory ReadSiteHistory(const std::string& siteDir);

// Lines of the history for what an edit did: the files it carried, and the
// update it withdrew. Written before the edit, so that the history never
// misses what the list shows.
std::vector<std::string> HistoryLinesOf(const ListEdit& edit, bool withdrawal);
Status AppendSiteHistory(const std::string& siteDir, const std::vector<std::string>& lines);
