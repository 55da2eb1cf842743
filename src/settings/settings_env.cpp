#include "settings/settings_env.h"

#include <array>
#include <cstdint>
#include <string>

#include "settings/config.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/strfn.h"

namespace {

std::array<std::uint32_t, 16>& ColorTable() {
  static std::array<std::uint32_t, 16> colors{};
  return colors;
}

}  // namespace

std::string SettingsUpdateDir(bool withBackslash) {
  const std::string dflt = WithTrailingDelimiter(TempDir()) + ProgramPath(false, false) + ".PWD";
  std::string dir = CfgGetStrDef("WorkDir=" + dflt);
  if (!DirExists(dir) && !MakeDir(dir) && !ForceDirs(dir))
    InfoBox("cannot create work directory (" + dir + ")");
  return withBackslash ? WithTrailingDelimiter(dir) : dir;
}

void LoadUserColors() {
  for (int n = 0; n < 16; ++n)
    CfgReadUInt("UserCustomColor." + IntStr(n) + ".RGBValue", ColorTable()[n]);
}

const std::array<std::uint32_t, 16>& UserColors() { return ColorTable(); }
