#pragma once
// A listed file made from what the installation already has, before it is
// fetched whole: the installed copy itself when it is already the listed
// file, or the installed copy with a patch of the site applied (delta
// updates). Only the site's record says which patches there are and which
// bytes they turn into which; every step is checked against it, and the
// result then passes every check a fetched file passes.

#include <string>

#include "app/context/run_context.h"
#include "app/list/file_entries.h"
#include "platform/status.h"

// Makes the file listed as entry at target from the installation's copy of
// it. OK when target holds the listed bytes; otherwise why not (the account
// says it), with nothing left at target: the caller fetches the file whole.
Status MakeFromInstalled(RunContext& context, const FileEntry& entry, const std::string& target);
