#pragma once
// Utilities that read settings: the configured work directory, the user's
// custom colours and the /Key=Value overrides of the command line.

#include <array>
#include <cstdint>
#include <string>

std::string WorkDirSetting(bool withBackslash);
void LoadUserColors();
const std::array<std::uint32_t, 16>& UserColors();
void ApplySwitchSettings();
