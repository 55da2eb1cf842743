#include "app/record/record.h"

#include <ostream>

#include "app/context/names.h"
#include "settings/config.h"
#include "support/fileutil.h"
#include "support/nuldev.h"
#include "support/strfn.h"

bool IsNewUpdate(std::string_view updateInfo, std::string_view lastRecorded) {
  if (updateInfo.empty()) return false;
  return updateInfo > lastRecorded || lastRecorded.find("<update") == std::string_view::npos;
}

std::string RecordOfUpdate(std::string_view updateInfo) {
  return ControlsReplaced(std::string(updateInfo.substr(0, updateInfo.find('\r'))));
}

bool UpdateIsNew(const RunContext& context) {
  return IsNewUpdate(context.updateInfo, CfgGetStr("LiveUpdate.lastUpdateInfo=<"));
}

void ResetHistoryIfObsolete() {
  const std::int64_t stored = CfgGetInt("LiveUpdate.installationInfo=-1");
  const std::string mainApp = ProgramDir(true) + MainAppExeName();
  const bool mainAppExists = FileExists(mainApp);
  const std::int64_t day = mainAppExists ? FileDayNumber(mainApp) : 0;
  if ((mainAppExists && stored > day) || stored == -1) {
    CfgPutStr("LiveUpdate.lastUpdateInfo", "");
    CfgPutInt("LiveUpdate.installationInfo", mainAppExists ? static_cast<std::int32_t>(day) : 0);
    StdText() << "  Clearing obsolete update information..." << std::endl;
  }
}

Status RecordInstalledUpdate(const RunContext& context) {
  return CfgStore("LiveUpdate.lastUpdateInfo", RecordOfUpdate(context.updateInfo));
}
