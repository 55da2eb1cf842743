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

bool MakeDirectories(const std::string& path) {
  if (path.empty()) return false;
  if (DirectoryExists(path)) return true;
  const std::size_t from = BelowRoot(path);
  if (from == std::string::npos) return false;
  // Every prefix ending before a separator is a parent; the root is never made.
  const std::string_view separators = kConventions.directorySeparators;
  for (std::size_t at = path.find_first_of(separators, from); at != std::string::npos;
       at = path.find_first_of(separators, at + 1)) {
    const std::string parent = path.substr(0, at);
    if (!MakeDirectory(parent) && !DirectoryExists(parent)) return false;
  }
  MakeDirectory(path);
  return DirectoryExists(path);
}

}  // namespace os
