#pragma once
// Stand-ins for modules that have not landed yet (the cancel flag and the
// display operations). Only this folder's tests include it; it goes away
// when the real ones arrive.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>

#include "app/display.h"
#include "app/run_context.h"

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
