#pragma once
// Applying a patch (patch_format.h) to an installed file: the updater's
// half of delta updates. The base is read through a window of fixed size,
// the patch's five streams are decoded as they are needed and the result
// is written as it is made, so memory stays bounded whatever the files'
// sizes: about 3 MiB, and a window for each stream's decoder of at most the
// stream's size and at most 8 MiB. Every value the patch holds is checked
// before it is used.

#include <cstdint>
#include <string>

#include "app/fetch/patch_format.h"
#include "app/fetch/transfer.h"
#include "platform/status.h"

// Reads the header of the patch file at patchPath; the cause when it cannot
// be read or is not a header of this version.
Status ReadPatchHeader(const std::string& patchPath, patch::Header& header);

struct ApplyOptions {
  // Handed every byte of the result as it is written, so that the caller's
  // digests of it need no second reading.
  FetchObserver* written = nullptr;
  // The caller has checked the base's content against a record the patch
  // was chosen by: it is not read once more before the patch is applied
  // (a base of other content still gives no result, as its digest shows).
  bool baseContentChecked = false;
  // The caller checks the result against a digest of its own (the bytes
  // written) before it uses it: the applier does not hash it, and a result
  // of the right size is put in place unchecked.
  bool resultCheckedByCaller = false;
};

// Makes resultPath from the file at basePath and the patch at patchPath.
// The result is written beside resultPath and renamed over it only once it
// is whole and its digest is the one the patch names: on any failure
// resultPath is left as it was and nothing else stays behind. resultPath
// may be basePath (the file is patched in place). resultSize is the size
// the caller expects; at most that many bytes are ever written.
// Refusals name their cause:
//   "the patch is damaged: ..."   a value out of range, a stream cut short
//                                 or followed by more bytes, a bad stream,
//                                 a result that is not the one it was made for
//   "the patch does not fit ..."  a base or a result size other than the
//                                 patch's, or a base of another content
//   "cannot read/write PATH: ..." the system's cause
Status ApplyPatch(const std::string& basePath, const std::string& patchPath, const std::string& resultPath,
                  std::uint64_t resultSize, const ApplyOptions& options = {});
