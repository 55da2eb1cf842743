#pragma once
// Carrying a user's settings into a new version of the settings file at start.

#include <functional>
#include <string>

void CfgStartup();
void CfgReorganise(bool force, const std::string& newVersionFile);
bool CfgUpdateFromNewVersion(const std::string& newVersionFile);
void CfgMergeValues(const std::string& oldFile);
void CfgHandleSetupFile();

// The uniform [0, 1) source behind the merge's self-checks (tests inject one).
void SetReorganiseRandomSource(std::function<double()> source);
