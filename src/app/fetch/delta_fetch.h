#pragma once
// A listed file made from what the installation already has, before it is
// fetched whole: the installed copy itself when it is already the listed
// file, or the installed copy with a patch of the site applied (delta
// updates). Only the site's record says which patches there are and which
// bytes they turn into which; every step is checked against it. A packed
// program (tvq.ex_) may instead be made as the program it expands to, from
// the installed program, when the record names that content.

#include <string>

#include "app/context/run_context.h"
#include "app/fetch/written_digests.h"
#include "app/list/file_entries.h"
#include "app/list/site_record.h"
#include "platform/status.h"

// What MakeFromInstalled made in the work directory.
struct MadeFile {
  std::string path;
  // The program a packed listed file expands to, already checked against
  // the record; false: the listed file, to be checked as a fetched one is.
  bool expandedProgram = false;
};

// A patch of the site as a file to fetch: its name, and its recorded size.
FileEntry PatchFileEntry(const RecordedPatch& patch);

// Makes the file listed as entry in workDir from the installation's copy of
// it. written is handed the bytes of a listed file as a patch writes them
// (and told that it was not when the bytes were copied or nothing was
// made); their record digest is the patched file's check. Otherwise why not (the account says it), with nothing left in
// workDir: the caller fetches the file whole.
StatusOr<MadeFile> MakeFromInstalled(RunContext& context, const FileEntry& entry, const std::string& workDir,
                                     WrittenDigests& written);
