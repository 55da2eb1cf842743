// Directory operations built on the backend's one-level ones, the same on
// every platform.
#include <string>

#include "platform/os.h"

namespace os {
namespace {

// Where the first directory below the root starts: after "/" on Linux;
// after "C:\" or "\\server\share\" on Windows. npos for a UNC path without
// a share.
std::size_t BelowRoot(const std::string& path) {
  const std::string_view separators = kConventions.directorySeparators;
  if (!kConventions.driveLetters) return 1;
  if (path.size() >= 2 && path[1] == ':') return 3;
  const bool unc = path.size() >= 2 && separators.find(path[0]) != std::string_view::npos &&
                   path[1] == path[0];
  if (!unc) return 1;
  std::size_t at = path.find_first_of(separators, 2);                  // after the server
  if (at != std::string::npos) at = path.find_first_of(separators, at + 1);  // after the share
  return at == std::string::npos ? at : at + 1;
}

}  // namespace

Status MakeDirectories(const std::string& path) {
  if (!path.empty() && DirectoryExists(path)) return Status();
  // A path with nothing below a root ("", "\\server") is made as it is:
  // the system says why that fails.
  const std::size_t from = path.empty() ? std::string::npos : BelowRoot(path);
  if (from == std::string::npos) return MakeDirectory(path);
  // Every prefix ending before a separator is a parent; the root is never made.
  const std::string_view separators = kConventions.directorySeparators;
  for (std::size_t at = path.find_first_of(separators, from); at != std::string::npos;
       at = path.find_first_of(separators, at + 1)) {
    const std::string parent = path.substr(0, at);
    const Status made = MakeDirectory(parent);
    if (!made.ok() && !DirectoryExists(parent)) return made;
  }
  const Status made = MakeDirectory(path);
  return made.ok() || DirectoryExists(path) ? Status() : made;
}

}  // namespace os
