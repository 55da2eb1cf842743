#pragma once
// Command-line switches of the form /NAME=value (the last matching one wins).

#include <string>
#include <string_view>

std::string ParamNr(int n, char ch, bool starting);
std::string SwitchNr(int n);
std::string SwitchValue(std::string_view query);
