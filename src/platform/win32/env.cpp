// Environment, home directory, the account and the user's language on Windows.
#include <vector>

#include "platform/os.h"
#include "platform/win32/wide.h"

#include <sddl.h>

namespace os {
namespace {

// One piece of this process's token (TokenUser, TokenOwner); empty when it
// cannot be read.
std::vector<unsigned char> TokenPiece(TOKEN_INFORMATION_CLASS piece) {
  HANDLE token = nullptr;
  if (!win32::Succeeded(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))) return {};
  const win32::ScopedHandle closing(token);
  DWORD size = 0;
  ::GetTokenInformation(token, piece, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !win32::Succeeded(::GetTokenInformation(token, piece, buffer.data(), size, &size)))
    return {};
  return buffer;
}

PSID UserSid(std::vector<unsigned char>& user) {
  return reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
}

}  // namespace

bool win32::IsThisAccount(PSID owner) {
  std::vector<unsigned char> user = TokenPiece(TokenUser);
  std::vector<unsigned char> newOwner = TokenPiece(TokenOwner);
  return (!user.empty() && ::EqualSid(owner, UserSid(user))) ||
         (!newOwner.empty() && ::EqualSid(owner, reinterpret_cast<TOKEN_OWNER*>(newOwner.data())->Owner));
}

std::string CurrentAccount() {
  std::vector<unsigned char> user = TokenPiece(TokenUser);
  wchar_t* text = nullptr;
  if (user.empty() || !win32::Succeeded(::ConvertSidToStringSidW(UserSid(user), &text))) return {};
  const std::string sid = win32::Utf8(text);
  ::LocalFree(text);
  return sid;
}

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
