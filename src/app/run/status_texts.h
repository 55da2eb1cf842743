#pragma once
// The status line's texts of the run, in the user's language.

#include <string>

std::string StatusCheckingInstallation();
std::string StatusChecking();
std::string StatusCopying();
std::string StatusDownloading();
std::string StatusNothingNew();
std::string StatusInstallFailed();
std::string StatusDownloadFailed();
std::string StatusRecordFailed();
std::string StatusSettingsUnreadable();
std::string StatusNoSite();
std::string StatusInstallCompleted();
std::string StatusRunInProgress();
std::string StatusExiting();
