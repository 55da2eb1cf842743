#pragma once
// The site's record !update-record.txt, kept beside the list by the
// publisher: the exact list it describes (size and BLAKE2b-256 digest) and,
// for every file any update lists, its size and BLAKE2b-256 digest under its
// listed name. On a signed site the record is signed as every file is
// (!update-record.txt.minisig); since it names the list's digest, a record
// cannot be paired with another list, and a file's bytes are bound to the
// signed list by a strong digest, not only by the listed checksum.
//
// The record also holds the rollouts of updates released gradually
// (app/list/rollout.h), so that they are signed with the rest.
//
// One fact per line, fields separated by tabs (listed names hold no control
// character): "tvq-record 1", then "list SIZE DIGEST", "file NAME SIZE
// DIGEST", "expanded NAME SIZE DIGEST", "rollout ID FIELDS..." and "patch
// TARGET PATCHNAME SIZE DIGEST BASESIZE BASEDIGEST RESULTSIZE RESULTDIGEST".
// An "expanded" line gives what a packed program the installation expands
// holds (tvq.ex_ installs as tvq.exe): its patches make that content from
// the installed program. Lines of other kinds are passed over,
// so that later kinds of fact can be added without making older
// installations refuse the record.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/list/rollout.h"
#include "platform/status.h"

inline constexpr const char* kSiteRecordName = "!update-record.txt";
// A record larger than this is no record (a file's line takes about 100 bytes).
inline constexpr std::int64_t kMaxSiteRecordBytes = std::int64_t{16} << 20;

// A size and the BLAKE2b-256 digest of the bytes, in lower-case hexadecimal.
struct ContentDigest {
  std::int64_t size = -1;
  std::string digest;
  bool operator==(const ContentDigest&) const = default;
};

// A patch of the site (app/fetch/patch_apply.h): the file patchName, which
// turns an installed copy with the base's bytes into the listed file's, or
// for a packed program into the program it expands to.
struct RecordedPatch {
  std::string target;     // the listed name it makes
  std::string patchName;  // the patch file's name on the site
  ContentDigest patch;
  ContentDigest base;
  ContentDigest result;
};

struct SiteRecord {
  ContentDigest list;
  std::map<std::string, ContentDigest> files;  // by listed name (with its '~')
  std::map<std::string, ContentDigest> expanded;  // of packed programs, by listed name
  std::map<std::string, Rollout> rollouts;     // by update ID
  std::vector<RecordedPatch> patches;
  // The patches that make the file listed as target.
  std::vector<const RecordedPatch*> PatchesOf(const std::string& target) const;
  const ContentDigest* FileNamed(const std::string& listedName) const;
  const ContentDigest* ExpandedNamed(const std::string& listedName) const;
  // Whether p makes the listed file's content, or what it expands to.
  bool MakesCurrent(const RecordedPatch& p) const;
};

std::string SiteRecordText(const SiteRecord& record);
// The record a text holds; why not when it is torn or not a record.
std::optional<SiteRecord> ParseSiteRecord(std::string_view text, std::string* why);

ContentDigest DigestOfBytes(std::string_view bytes);
// The digest of a file's bytes, read in blocks; the cause when it cannot be read.
Status DigestOfFile(const std::string& path, ContentDigest& digest);

// "its size is 12 bytes, recorded 10" / "its digest differs from the
// recorded one"; empty when actual is what was recorded.
std::string DigestMismatch(const ContentDigest& actual, const ContentDigest& recorded);
