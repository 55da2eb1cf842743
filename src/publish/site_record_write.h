#pragma once
// The publisher's side of the site's record (app/list/site_record.h): made
// from the list about to be written and the site's files, written beside the
// list and, on a signed site, signed; and checked by verify.

#include <string>
#include <vector>

#include "app/fetch/minisign.h"
#include "platform/status.h"
#include "publish/minisign_signing.h"

// Writes the record of listText (the exact bytes the list will have) and of
// every file it lists, as the site holds them now; with key also its
// signature. The first failure stops it, with its cause.
Status WriteSiteRecord(const std::string& siteDir, const std::string& listText, const MinisignSecretKey* key);

// What is wrong with the site's record: missing (a problem only when
// required), not readable, not describing the list, or naming a file with
// other bytes than the site holds. One line each.
std::vector<std::string> SiteRecordProblems(const std::string& siteDir, bool required);
