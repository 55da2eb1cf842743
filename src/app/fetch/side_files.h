#pragma once
// Small files of the site that accompany the list and its files (signature
// files, the site's record): read straight from a file:// site, or fetched
// into the work directory under a hidden name (which no listed file has and
// the installation passes over) and removed once read. Each is bounded: a
// larger one is not read.

#include <cstdint>
#include <string>

#include "app/context/run_context.h"

struct SideFile {
  enum class Problem { None, Missing, TooLarge, Unreadable };
  std::string text;  // empty, with no problem, when the site has no such file
  Problem problem = Problem::None;
  std::string detail;  // why, for the account
};

// The site's file `name` (as stored, with any '~'), of at most maxBytes.
SideFile FetchSideFile(const RunContext& context, const std::string& name, std::int64_t maxBytes);
