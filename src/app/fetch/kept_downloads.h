#pragma once
// Downloads kept between attempts and between runs, in a hidden folder of
// the work directory: for each listed file the bytes that arrived, and a
// small record of what identifies them -- the site, the listed name, size
// and checksum, and the server's validator -- and whether they passed every
// check. A later attempt continues such bytes or, once verified, uses them
// without fetching; whatever no longer matches the list is removed.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/fileutil.h"

struct KeptIdentity {
  std::string site;
  std::string name;  // as listed
  std::int64_t size = -1;
  std::int64_t checksum = kNoChecksum;
  bool operator==(const KeptIdentity&) const = default;
};

struct KeptRecord {
  KeptIdentity identity;
  std::string validator;  // empty: the bytes can never be continued
  bool verified = false;  // the whole file passed every check
};

// The record as text, and back; nullopt for a text that is not a whole
// record (a torn or foreign file). A field with a line break is not
// recordable: FormatKeptRecord then gives an empty text.
std::string FormatKeptRecord(const KeptRecord& record);
std::optional<KeptRecord> ParseKeptRecord(std::string_view text);

// The hidden folder of the work directory that holds kept downloads.
std::string KeptFolder();
// Where the bytes of a listed file are kept (a name of fixed length, so any
// listed name fits).
std::string KeptDataPath(const std::string& listedName);

// What is kept of a listed file.
struct KeptState {
  bool verified = false;  // the whole file, verified in an earlier attempt or run
  bool whole = false;     // all listed bytes are there, not yet verified
  std::string validator;  // the kept bytes continue under it (empty: start anew)
};
// Looks at what is kept for identity.name. Kept bytes of another identity,
// without a record, beyond the listed size, or that cannot be read back
// whole are discarded: the state is then empty.
KeptState KeptStateOf(const KeptIdentity& identity);

// Replaces the record of record.identity.name in one step; when it cannot be
// written the old record goes, so no record ever names other bytes.
bool WriteKeptRecord(const KeptRecord& record);
// Removes the kept bytes and record of a listed name.
void DiscardKept(const std::string& listedName);
// Removes everything kept except what matches one of listed.
void KeepOnly(const std::vector<KeptIdentity>& listed);
// Removes everything kept (the update is installed or no longer offered).
void ForgetKeptDownloads();
