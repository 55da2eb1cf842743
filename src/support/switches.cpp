#include "support/switches.h"

#include <algorithm>

#include "platform/os.h"
#include "support/strfn.h"

namespace {

// The switch reader looks at no more than 255 parameters.
constexpr std::size_t kMaxParams = 255;

std::size_t ParamCount() {
  return std::min(os::Arguments().size(), kMaxParams);
}

}  // namespace

std::string ParamNr(int n, char ch, bool starting) {
  const auto& args = os::Arguments();
  const std::size_t count = ParamCount();
  for (std::size_t i = 0; i < count && n >= 1; ++i) {
    const std::string& param = args[i];
    const bool startsWithCh = !param.empty() && param.front() == ch;
    if (startsWithCh == starting && --n == 0) return RestFrom(param, 2);
  }
  return {};
}

std::string SwitchNr(int n) {
  return ParamNr(n, '/', true);
}

std::string SwitchValue(std::string_view query) {
  const std::size_t eq = query.find('=');
  const std::string wanted = UpStr(query.substr(0, eq));
  std::string result = eq == std::string_view::npos ? std::string() : std::string(query.substr(eq + 1));
  const int count = static_cast<int>(ParamCount());
  for (int k = 1; k <= count; ++k) {
    const std::string sw = SwitchNr(k);
    const std::string up = UpStr(sw);
    const std::string key = FirstWord(up, "=");
    bool match = StartsWith(up, wanted + "=");
    // Either side may carry '*' and '?'.
    if (!match && !wanted.empty() && !key.empty()) match = WildMatch(key, wanted) || WildMatch(wanted, key);
    if (!match) continue;
    const std::size_t valueAt = sw.find('=');
    result = valueAt == std::string::npos ? sw : sw.substr(valueAt + 1);
  }
  return result;
}
