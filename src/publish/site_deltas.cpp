#include "publish/site_deltas.h"

#include <algorithm>
#include <set>

#include "app/context/names.h"
#include "app/fetch/minisign.h"
#include "app/fetch/patch_apply.h"
#include "app/list/file_entries.h"
#include "platform/os.h"
#include "publish/patch_make.h"
#include "publish/site_signing.h"
#include "support/fileutil.h"
#include "support/lz_file.h"
#include "support/strfn.h"

namespace {

std::string SitePath(const std::string& siteDir, const std::string& name) {
  return WithTrailingDelimiter(siteDir) + name;
}

std::string BasePath(const std::string& siteDir, const std::string& digest) {
  return WithTrailingDelimiter(SitePath(siteDir, kDeltaBasesFolder)) + digest;
}

std::string PatchName(const std::string& target, const ContentDigest& base, const ContentDigest& result) {
  return RestoredName(target) + "." + base.digest.substr(0, 12) + "-" + result.digest.substr(0, 12) + ".patch";
}

// The earlier contents of target, newest first: the site's copy, then the
// bases of the patches that made that copy.
std::vector<ContentDigest> EarlierContents(const ContentDigest& current, const std::string& target,
                                           const std::vector<RecordedPatch>& patches) {
  std::vector<ContentDigest> contents = {current};
  for (const RecordedPatch& p : patches)
    if (p.target == target && p.result == current && p.base != current) contents.push_back(p.base);
  return contents;
}

// Keeps content as a base under its digest.
Status KeepBase(const std::string& siteDir, const std::string& content, const ContentDigest& digest) {
  const std::string folder = SitePath(siteDir, kDeltaBasesFolder);
  if (!os::DirectoryExists(folder))
    if (Status made = os::MakeDirectories(folder); !made.ok()) return Status::Failed("cannot create " + folder, made);
  const std::string path = BasePath(siteDir, digest.digest);
  if (os::FileExists(path)) return Status();
  return CopyFileBuffered(content, path, false, kCopyBufferSize, nullptr);
}

// A scratch file of the site, removed when it goes out of scope.
class SiteScratch {
 public:
  SiteScratch(const std::string& siteDir, const std::string& name) : path_(SitePath(siteDir, "." + name)) {}
  ~SiteScratch() { os::RemoveFile(path_); }
  SiteScratch(const SiteScratch&) = delete;
  SiteScratch& operator=(const SiteScratch&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The two contents a patch of a listed file goes between, with their
// digests: the site's copy and the new file, or for a packed program what
// each expands to (expanded into scratch files).
struct PatchEnds {
  SiteScratch currentScratch, newScratch;
  std::string current, fresh;
  ContentDigest currentDigest, freshDigest;
  PatchEnds(const std::string& siteDir, const std::string& name)
      : currentScratch(siteDir, name + ".expanded-current"), newScratch(siteDir, name + ".expanded-new") {}
};

Status ReadPatchEnds(const std::string& siteDir, const StagedFile& file, PatchEnds& ends) {
  ends.current = SitePath(siteDir, file.listedName);
  ends.fresh = file.path;
  if (!ExpandedNameOf(file.listedName).empty()) {
    if (Status expanded = ExpandLzFile(ends.current, ends.currentScratch.path()); !expanded.ok()) return expanded;
    if (Status expanded = ExpandLzFile(ends.fresh, ends.newScratch.path()); !expanded.ok()) return expanded;
    ends.current = ends.currentScratch.path();
    ends.fresh = ends.newScratch.path();
  }
  if (Status read = DigestOfFile(ends.current, ends.currentDigest); !read.ok()) return read;
  return DigestOfFile(ends.fresh, ends.freshDigest);
}

// The patch from the base with digest base to the file at newPath, stored
// in the site; none (made stays as it was) when it would not be smaller.
Status MakeOnePatch(const std::string& siteDir, const std::string& target, const ContentDigest& base,
                    const std::string& newPath, const ContentDigest& result, std::vector<RecordedPatch>& made) {
  const auto baseBytes = ReadFileBounded(BasePath(siteDir, base.digest), static_cast<std::int64_t>(kMaxPatchBase));
  const auto resultBytes = ReadFileBounded(newPath, std::int64_t{1} << 40);
  if (!baseBytes || !resultBytes) return Status::Error("cannot read the base or the new content of " + target);
  std::string patch;
  if (Status packed = MakePatch(*baseBytes, *resultBytes, patch); !packed.ok()) return packed;
  if (patch.size() >= resultBytes->size()) return Status();
  const std::string name = PatchName(target, base, result);
  if (Status written = ReplaceFileText(SitePath(siteDir, name), patch); !written.ok()) return written;
  made.push_back({target, name, DigestOfBytes(patch), base, result});
  return Status();
}

}  // namespace

Status MakeDeltas(const std::string& siteDir, const std::vector<StagedFile>& files, int bases,
                  std::vector<RecordedPatch>& made) {
  if (bases <= 0) return Status();
  const std::vector<RecordedPatch> patches = CurrentPatches(siteDir);
  for (const StagedFile& file : files) {
    if (!os::FileExists(SitePath(siteDir, file.listedName))) continue;
    PatchEnds ends(siteDir, file.listedName);
    if (Status read = ReadPatchEnds(siteDir, file, ends); !read.ok()) return read;
    const ContentDigest& current = ends.currentDigest;
    if (current == ends.freshDigest || current.size > static_cast<std::int64_t>(kMaxPatchBase)) continue;
    if (Status kept = KeepBase(siteDir, ends.current, current); !kept.ok()) return kept;
    std::vector<ContentDigest> contents = EarlierContents(current, file.listedName, patches);
    contents.resize(std::min(contents.size(), static_cast<std::size_t>(bases)));
    for (const ContentDigest& base : contents)
      if (Status one = MakeOnePatch(siteDir, file.listedName, base, ends.fresh, ends.freshDigest, made); !one.ok())
        return one;
  }
  return Status();
}

Status ExpandedDigest(const std::string& siteDir, const std::string& name, ContentDigest& digest) {
  SiteScratch expanded(siteDir, name + ".expanded");
  if (Status made = ExpandLzFile(SitePath(siteDir, name), expanded.path()); !made.ok())
    return Status::Failed("cannot expand " + name, made);
  return DigestOfFile(expanded.path(), digest);
}

std::vector<RecordedPatch> PatchesStillMaking(const SiteRecord& record, const std::vector<RecordedPatch>& before,
                                              const std::vector<RecordedPatch>& newPatches) {
  std::vector<RecordedPatch> kept;
  std::set<std::string> names;
  for (const std::vector<RecordedPatch>* list : {&newPatches, &before})
    for (const RecordedPatch& p : *list) {
      if (record.MakesCurrent(p) && names.insert(p.patchName).second) kept.push_back(p);
    }
  return kept;
}

void RemoveUnusedDeltas(const std::string& siteDir, const std::vector<RecordedPatch>& before,
                        const std::vector<RecordedPatch>& kept) {
  std::set<std::string> patchNames, baseDigests;
  for (const RecordedPatch& p : kept) {
    patchNames.insert(p.patchName);
    baseDigests.insert(p.base.digest);
  }
  for (const RecordedPatch& p : before)
    if (!patchNames.count(p.patchName) && IsPlainFileName(p.patchName)) os::RemoveFile(SitePath(siteDir, p.patchName));
  const std::string folder = SitePath(siteDir, kDeltaBasesFolder);
  for (const os::DirEntry& e : os::ListDirectory(folder))
    if (!baseDigests.count(e.name)) os::RemoveFile(BasePath(siteDir, e.name));
}

std::vector<std::string> DeltaProblems(const std::string& siteDir, const SiteRecord& record) {
  std::vector<std::string> problems;
  const std::string scratch = SitePath(siteDir, kDeltaBasesFolder) + "/.verify";
  for (const RecordedPatch& p : record.patches) {
    ContentDigest got;
    std::string problem;
    if (!DigestOfFile(SitePath(siteDir, p.patchName), got).ok() || got != p.patch)
      problem = "missing, or other bytes than recorded";
    else if (!os::FileExists(BasePath(siteDir, p.base.digest)))
      problem = "its base is not kept in " + std::string(kDeltaBasesFolder);
    else if (Status applied = ApplyPatch(BasePath(siteDir, p.base.digest), SitePath(siteDir, p.patchName), scratch,
                                         static_cast<std::uint64_t>(p.result.size));
             !applied.ok())
      problem = applied.message();
    else if (!DigestOfFile(scratch, got).ok() || got != p.result)
      problem = "it does not make the recorded content of " + p.target;
    os::RemoveFile(scratch);
    if (!problem.empty()) problems.push_back(SitePath(siteDir, p.patchName) + ": " + problem);
  }
  return problems;
}
