#pragma once
// Delta updates on the publisher's side. When a file of the site gets new
// content, the copy it replaces is kept as a base in the site's folder
// !delta-bases (under its digest; installations never read it), and a patch
// from each of the last few contents of that name to the new one is stored
// beside the site's files and named in the site's record. A patch no
// smaller than the file itself is not kept: a patch is never worse than the
// whole file. A packed program (tvq.ex_) is patched on what it expands to,
// the program installations hold.

#include <string>
#include <vector>

#include "app/list/site_record.h"
#include "platform/status.h"
#include "publish/site_change.h"

inline constexpr const char* kDeltaBasesFolder = "!delta-bases";

// Makes the patches for files about to replace the site's copies of their
// names, from the last `bases` contents of each name (0: none), and keeps
// the replaced copies as bases. The new patches' record lines go to made.
Status MakeDeltas(const std::string& siteDir, const std::vector<StagedFile>& files, int bases,
                  std::vector<RecordedPatch>& made);

// The digest of what the site's packed program name expands to.
Status ExpandedDigest(const std::string& siteDir, const std::string& name, ContentDigest& digest);

// The patches of before that still make the content record lists under
// their target, with newPatches.
std::vector<RecordedPatch> PatchesStillMaking(const SiteRecord& record, const std::vector<RecordedPatch>& before,
                                              const std::vector<RecordedPatch>& newPatches);

// Removes the patch files of before that kept are without, and the bases no
// patch of kept starts from.
void RemoveUnusedDeltas(const std::string& siteDir, const std::vector<RecordedPatch>& before,
                        const std::vector<RecordedPatch>& kept);

// Why the patches of the site do not make what its record says (one line
// each): a patch file missing or of other bytes, a base missing, a patch
// that does not apply or gives other bytes.
std::vector<std::string> DeltaProblems(const std::string& siteDir, const SiteRecord& record);
