#pragma once
// Utilities that read settings: the directory of the settings-file update
// and the user's custom colours.

#include <array>
#include <cstdint>
#include <string>

// Where the settings-file update makes its copies: the directory the setting
// WorkDir names, by default TEMP + delimiter + the program's file name
// without extension + ".PWD". Created when missing; an info box says when it
// cannot be. Not the installation's download directory (WorkDirectory).
std::string SettingsUpdateDir(bool withBackslash);
void LoadUserColors();
const std::array<std::uint32_t, 16>& UserColors();
