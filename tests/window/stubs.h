#pragma once
// Stand-ins for modules that have not landed yet (the cancel flag, the
// display operations, language texts, the console user interface). Only
// this folder's tests include it; it goes away when the real ones arrive.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/display.h"
#include "app/run_context.h"
#include "support/lingua.h"
#include "support/ui_hooks.h"

namespace stubs {
inline bool cancel = false;
inline DisplaySurface* surface = nullptr;
inline int position = 0;
inline std::string caption = kCaptionText;

class Silent : public DisplaySurface {
 public:
  void SetStatusText(const std::string&) override {}
  void SetPercent(int) override {}
  void SetIllustration(char) override {}
  void SetCaption(const std::string&) override {}
  void SetUpdateIdText(const std::string&) override {}
  void Pump() override {}
};

class Console : public UserInterface {
 public:
  int MessageBox(const std::string&, const std::string&, unsigned flags) override {
    return (flags & 0xF) == kMbYesNo ? kIdYes : kIdOk;
  }
  bool KeyDown(int) override { return false; }
  bool PumpMessages(int) override { return false; }
};
inline UserInterface* ui = nullptr;

// The part of "X:text;Y:text;*:text" for '*'.
inline std::string DefaultPart(std::string_view text) {
  const auto at = text.find("*:");
  if (at == std::string_view::npos) return std::string(text);
  const auto end = text.find(';', at);
  return std::string(text.substr(at + 2, end == std::string_view::npos ? end : end - at - 2));
}
}  // namespace stubs

bool CancelRequested() { return stubs::cancel; }
void RequestCancel() { stubs::cancel = true; }
void ResetCancelForTests() { stubs::cancel = false; }

void SetDisplaySurface(DisplaySurface* surface) { stubs::surface = surface; }
DisplaySurface& CurrentDisplaySurface() {
  static stubs::Silent silent;
  return stubs::surface ? *stubs::surface : silent;
}
void ShowStatus(const std::string& text) {
  CurrentDisplaySurface().SetStatusText(CancelRequested() ? "exiting..." : text);
  CurrentDisplaySurface().Pump();
}
void ShowProgress(std::int64_t percent) {
  if (percent >= 0 && percent > stubs::position) {
    stubs::position = static_cast<int>(std::min<std::int64_t>(percent, 100));
    CurrentDisplaySurface().SetPercent(stubs::position);
  }
  CurrentDisplaySurface().Pump();
}
void ShowIllustration(char letter) {
  CurrentDisplaySurface().SetIllustration(static_cast<char>(std::toupper(letter)));
}
void ShowHost(const std::string& site) {
  std::string host = site.substr(site.find("://") == std::string::npos ? 0 : site.find("://") + 3);
  host = host.substr(0, host.find('/'));
  stubs::caption = std::string(kCaptionText) + kHostSuffix + host;
  CurrentDisplaySurface().SetCaption(stubs::caption);
}
void ShowUpdateId(const std::string& id) { CurrentDisplaySurface().SetUpdateIdText("update ID: " + id); }

std::string LangText(std::string_view text, char, std::string_view) { return stubs::DefaultPart(text); }
std::string LangTextOf(std::string_view t1, std::string_view t2, std::string_view t3,
                       std::string_view, std::string_view) {
  for (auto t : {t1, t2, t3}) {
    if (t.substr(0, 2) == "*:") return std::string(t.substr(2));
  }
  return std::string(t1);
}
std::string StrBuild(std::string_view message) {
  const auto end = message.find('\0');
  std::string text(message.substr(0, end));
  if (end == std::string_view::npos) return text;
  const std::string arg(message.substr(end + 3));
  const auto at = text.find("%1");
  if (at != std::string::npos) text.replace(at, 2, arg);
  return text;
}

UserInterface& ConsoleUserInterface() {
  static stubs::Console console;
  return console;
}
UserInterface& CurrentUserInterface() { return stubs::ui ? *stubs::ui : ConsoleUserInterface(); }
void SetUserInterface(UserInterface* ui) { stubs::ui = ui; }
