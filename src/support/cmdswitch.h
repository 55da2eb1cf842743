#pragma once
// The switch text: switches each preceded by the NUL separator, so a switch
// can be found by name (the first occurrence wins).

#include <string>
#include <string_view>

inline constexpr char kSwitchChar = '/';
inline constexpr char kSwitchSep = '\0';
// Passed where a switch text is expected: use the program's own command line.
inline const std::string kRealCommandLine(1, '\0');

std::string SplitSwitchText(std::string_view text);
std::string CmdSwitchLine();
bool FindCmdSwitch(std::string_view name, std::string_view switchText);
std::string CmdSwitchTail(std::string_view name, std::string_view switchText);
bool CmdSwitchPresent(std::string_view name, std::string_view text);
std::string CmdSwitchText(std::string_view name, std::string_view text);
