#pragma once
// The update list !update-info.txt: fetched from the site (over the
// internet through the transfer layer, or read from a file:// directory),
// validated, cut down to the next update after the one recorded in
// LiveUpdate.lastUpdateInfo, and counted. Console lines go to StdText().

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/context/run_context.h"
#include "platform/status.h"

inline constexpr const char* kUpdateListName = "!update-info.txt";
// A longer list is no list (10,000 updates take under 1 MiB).
inline constexpr std::int64_t kMaxUpdateListBytes = std::int64_t{16} << 20;

// Fetches and validates the list and leaves the next update (trimmed, or
// empty when there is none) in context.updateInfo. OK when a well-formed,
// non-empty list was obtained, also when it holds nothing new; otherwise why
// not ("the list is not a valid update list", "the list is larger than 16
// MiB", the transfer's cause, ...).
Status GetUpdateList(RunContext& context);
// "the list is larger than 16 MiB"
std::string ListTooLargeText();

// Whether the site is a directory: its address begins with "file://", in
// any case.
bool IsLocalSite(const RunContext& context);
// Removes a leading "file://", in any case ("file:///srv/upd/" gives "/srv/upd/");
// anything else is returned unchanged.
std::string StripFileScheme(std::string_view path);
// Removes every character of code 32 or less from both ends of updateInfo.
void TrimList(RunContext& context);
std::string TrimmedList(std::string_view text);
// Logs every file entry of the remaining list and "total bytes to be
// downloaded (all sets): N" and returns N.
std::int64_t CountAllSetsBytes(std::string_view list);

// Reads the list of a directory site: lines joined without separators, except
// that a CR LF follows the line that ends the first block. It fails when the
// file cannot be opened or read, is not an ordinary file, or is larger than
// kMaxUpdateListBytes, with why.
Status ReadLocalList(const std::string& path, std::string& list);
// Clears a list that lacks <update, </update>, <files> or </files>; trims it.
// True when the list is then non-empty.
bool ValidateUpdateList(std::string& list);
// Answers a settings look-up given as "Key=Default" (CfgGetStr in the run).
using SettingLookup = std::function<std::string(std::string_view keySpec)>;
// Cuts away the updates already received (dropping obsolete ones, with a
// 400 ms pause after each of the first five only), counts all pending updates, and returns the first pending block,
// trimmed (empty when none is pending).
std::string SelectUpdate(std::string_view list, const SettingLookup& lookup);
