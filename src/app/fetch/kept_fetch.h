#pragma once
// Fetching a file of the site into its kept place (kept_downloads.h), so
// that an attempt or run cut short is continued by the next one.

#include "app/context/run_context.h"
#include "app/fetch/kept_downloads.h"
#include "app/fetch/transfer.h"
#include "app/list/file_entries.h"
#include "platform/status.h"

// What identifies the kept bytes of a file of the run's site.
KeptIdentity KeptIdentityOf(const RunContext& context, const FileEntry& file);

// Brings the file's bytes into KeptDataPath(file.name): from what an
// earlier attempt or run kept, continuing kept bytes, or whole. Kept bytes
// are continued or reused only when continuable (the whole file is then
// checked strongly: a listed checksum or a recorded digest); otherwise
// they go and the file is fetched whole. written, when given, is handed
// the bytes a transfer writes.
Status FetchKept(RunContext& context, const FileEntry& file, bool continuable, KeptRecord& record,
                 FetchObserver* written);
