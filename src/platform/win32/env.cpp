// Environment, home directory and the user's language on Windows.
#include <vector>

#include "platform/os.h"
#include "platform/win32/wide.h"

namespace os {

std::optional<std::string> GetEnvVar(const std::string& name) {
  const std::wstring wideName = win32::Wide(name);
  std::vector<wchar_t> buffer(256);
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n = ::GetEnvironmentVariableW(wideName.c_str(), buffer.data(),
                                              static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      // 0 is also the length of a variable set to the empty text.
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (n < buffer.size()) return win32::Utf8(std::wstring_view(buffer.data(), n));
    buffer.resize(n);
  }
}

void SetEnvVar(const std::string& name, const std::string& value) {
  ::SetEnvironmentVariableW(win32::Wide(name).c_str(), win32::Wide(value).c_str());
}

void UnsetEnvVar(const std::string& name) {
  ::SetEnvironmentVariableW(win32::Wide(name).c_str(), nullptr);
}

std::string HomeDir() {
  if (auto profile = GetEnvVar("USERPROFILE"); profile && !profile->empty()) return *profile;
  auto drive = GetEnvVar("HOMEDRIVE");
  auto path = GetEnvVar("HOMEPATH");
  if (drive && path) return *drive + *path;
  return {};
}

std::string UserLanguageSetting() {
  // The abbreviated name of the user's default language ("DEU", "FRA",
  // "ENU"); its first two letters choose the language letter.
  const LCID locale = MAKELCID(::GetUserDefaultLangID(), SORT_DEFAULT);
  wchar_t name[16] = {};
  const int n = ::GetLocaleInfoW(locale, LOCALE_SABBREVLANGNAME, name, 16);
  if (n <= 1) return {};
  return win32::Utf8(std::wstring_view(name, static_cast<std::size_t>(n - 1)));
}

}  // namespace os
