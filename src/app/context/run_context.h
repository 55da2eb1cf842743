#pragma once
// The shared state of one update run.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/list/site_record.h"

// How far the fetch of the selected update has come: the bar's first 96 %.
struct RunProgress {
  std::int64_t downloaded = 0;  // bytes of the update that arrived (kept ones included)
  std::int64_t total = 0;       // the update's listed bytes (64-bit: files of 2 GiB and more)
};

struct RunContext {
  std::optional<std::string> siteSwitch;  // the site the command line names (/P), if any
  std::string site;        // http(s):// address or file:// + directory, ending in its separator
  std::string updateInfo;  // the selected update block (empty: nothing new)
  // The site's record of its files' digests, when it has one that
  // describes the list read (see app/fetch/site_record_check.h).
  std::optional<SiteRecord> record;
  std::string methodFile;  // the update's own installation program, if any
  // The files of the update that arrived and passed their checks in this
  // run, under their names in the work directory: all that is installed.
  std::vector<std::string> verifiedFiles;
  bool methodStarted = false;  // the update's own installation program ran instead
  RunProgress progress;
  // A marker file said more updates follow this one. Found once and kept
  // for the rest of the run, though the marker itself is consumed.
  bool morePending = false;
};

// Set by Cancel (window button, close glyph, SIGINT/SIGTERM); never reset.
bool CancelRequested();
void RequestCancel();
void ResetCancelForTests();

// Waits ms on the installed clock unless Cancel is requested; false when it
// is (before the wait or during it: the program's clock then ends the wait
// early), so that the caller starts nothing more.
bool WaitUnlessCancelled(std::int64_t ms);
