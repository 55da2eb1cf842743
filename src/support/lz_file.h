#pragma once
// Expansion of MS COMPRESS "SZDD" files (the packed ".ex_" files of an
// update) into the files they hold.

#include <string>

#include "platform/status.h"

// Expands the SZDD file source into target; a file without the SZDD
// signature is copied unchanged. The result is written beside target and
// takes its place only when whole: a stream whose expanded size differs
// from the length its header announces (truncated, over-long) fails with
// "not a whole compressed file" and leaves target as it was, as does any
// failure of the system ("cannot expand it: " and the system's text).
// source is never read through a link. The new target keeps the permission
// bits of the file it replaces; a new one is executable when its content
// starts as a program does.
Status ExpandLzFile(const std::string& source, const std::string& target);
