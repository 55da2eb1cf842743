#pragma once
// The site's record (app/list/site_record.h) in the run. With a trusted key
// the list is used only with a record that is signed and names the list's
// exact bytes, and every file installs only when its bytes have the
// recorded size and digest. Without a key a record that names the list is
// used as well; of one that names another list only the rollouts are used.
// A record that is there but does not read is never passed over: it may
// hold updates back.

#include <string>

#include "app/context/run_context.h"
#include "app/list/site_record.h"
#include "platform/status.h"

// Reads the site's record for the list whose bytes lie at listPath into
// context.record (cleared first). Fails, with why, when the record does not
// read, or when signatures are checked and no signed record names this list.
Status LoadSiteRecord(RunContext& context, const std::string& listPath);

// The recorded size and digest of a listed file; nullptr when the run has no
// record or the record does not name the file.
const ContentDigest* RecordedDigest(const RunContext& context, const std::string& listedName);

// Whether a file that arrived under listedName may be installed as far as
// the record is concerned: OK without a record; with one, its bytes must be
// the recorded ones, and with signatures checked the record must name it.
Status CheckRecordedDigest(const RunContext& context, const std::string& listedName, const ContentDigest& actual);
