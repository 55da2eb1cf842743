#include "settings/settings_env.h"

#include <array>
#include <cstdint>
#include <string>

#include "platform/os.h"
#include "settings/config.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/strfn.h"
#include "support/switches.h"

namespace {

std::string& ConfiguredWorkDir() {
  static std::string& dir = *new std::string;
  return dir;
}

std::array<std::uint32_t, 16>& ColorTable() {
  static std::array<std::uint32_t, 16> colors{};
  return colors;
}

constexpr std::size_t kMaxParameters = 255;  // the parameter count is one byte

}  // namespace

std::string WorkDirSetting(bool withBackslash) {
  const std::string dflt = AddBackslash(TempDir()) + ProgramPath(false, false) + ".PWD";
  std::string dir = CfgGetStrDef("WorkDir=" + dflt);
  if (!DirExists(dir) && !MakeDir(dir) && !ForceDirs(dir))
    InfoBox("cannot create work directory (" + dir + ")");
  ConfiguredWorkDir() = dir;
  return withBackslash ? AddBackslash(dir) : dir;
}

void LoadUserColors() {
  for (int n = 0; n < 16; ++n)
    CfgReadUInt("UserCustomColor." + IntStr(n) + ".RGBValue", ColorTable()[n]);
}

const std::array<std::uint32_t, 16>& UserColors() { return ColorTable(); }

void ApplySwitchSettings() {
  std::size_t count = os::Arguments().size();
  if (count > kMaxParameters) count = kMaxParameters;
  for (std::size_t k = 1; k <= count; ++k) {
    const std::string sw = SwitchNr(static_cast<int>(k));
    if (sw.empty()) continue;
    if (CfgKeyExists(sw.substr(0, sw.find('=')))) CfgPutAssignment(sw);
  }
}
