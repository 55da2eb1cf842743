#pragma once
// Packing a program into the LZ container (MS COMPRESS "SZDD") that the
// updater expands from ".ex_" files, so a maker publishes the program as it
// is built.

#include <string>

#include "platform/status.h"

// Packs source into target with the mscompress tool (a file under 16 bytes,
// which that tool cannot pack, is stored as it is: the updater installs a
// file without the container unchanged). The result is accepted only when
// the updater's own expansion gives back source's bytes. scratchDir is an
// existing private directory for the intermediate files.
Status PackForUpdate(const std::string& source, const std::string& target, const std::string& scratchDir);
