#pragma once
// What a build carries in it: the version, the maker's default update site
// and the public keys that updates must be signed with (the CMake options
// TVQ_DEFAULT_SITE and TVQ_PUBLIC_KEY). --version reports them, so that a
// maker's support can tell which updater a customer runs.

#include <string>

// The public keys built in (minisign "RW..." lines separated by ';');
// empty when the build has none.
std::string BuiltInKeysText();

// The text --version prints, one item a line:
//   tvqlupd 1.0j
//   default update site: http://updates.example.com/tvqlupd/
//   built-in key: E3F1A5C2B7D90844 RW...
// with "built-in keys: none (...)" when there are none and a line naming
// each entry that is not a key. programName is the program's file name
// without extension, which the default site ends with.
std::string VersionReport(const std::string& programName);
