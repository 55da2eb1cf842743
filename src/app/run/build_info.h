#pragma once
// What a build carries in it: the version, the maker's default update site,
// the public keys that updates must be signed with and the channel it follows
// (the CMake options TVQ_DEFAULT_SITE, TVQ_PUBLIC_KEY and TVQ_CHANNEL).
// --version reports them, so that a maker's support can tell which updater a
// customer runs.

#include <string>

// The public keys built in (minisign "RW..." lines separated by ';');
// empty when the build has none.
std::string BuiltInKeysText();

// The channel built in; empty when the build has none.
std::string BuiltInChannel();

// The text --version prints, one item a line:
//   tvqlupd 1.0j
//   default update site: https://updates.maker.example/tvqlupd/
//   built-in key: E3F1A5C2B7D90844 RW...
//   built-in channel: stable
// with "default update site: none" when the build has no site, "built-in
// keys: none (...)" when there are none, a line naming each entry that is
// not a key, and "built-in channel: none (...)" without a channel.
// programName is the program's file name without extension, which the
// default site ends with.
std::string VersionReport(const std::string& programName);
