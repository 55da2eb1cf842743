#include "app/context/display.h"

#include <cmath>
#include <limits>
#include <string>

#include "app/context/run_context.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/strfn.h"

namespace {

// Draws nothing: the surface in use until main or a test installs one.
class SilentSurface : public DisplaySurface {
 public:
  void SetStatusText(const std::string&) override {}
  void SetPercent(int) override {}
  void SetIllustration(char) override {}
  void SetCaption(const std::string&) override {}
  void SetUpdateIdText(const std::string&) override {}
  void Pump() override {}
};

SilentSurface silentSurface;
DisplaySurface* surface = &silentSurface;

int position = 0;
std::string caption = kCaptionText;

// Cuts s before the first occurrence of ch (all of s when ch is absent).
std::string BeforeFirst(const std::string& s, char ch) {
  return s.substr(0, s.find(ch));
}

// s without the run of ch at its start.
std::string DropLeading(const std::string& s, char ch) {
  const auto first = s.find_first_not_of(ch);
  return first == std::string::npos ? std::string() : s.substr(first);
}

}  // namespace

void SetDisplaySurface(DisplaySurface* newSurface) {
  surface = newSurface ? newSurface : &silentSurface;
}

DisplaySurface& CurrentDisplaySurface() {
  return *surface;
}

void ResetDisplayState() {
  position = 0;
  caption = kCaptionText;
}

int ProgressPosition() {
  return position;
}

std::string CaptionText() {
  return caption;
}

void ShowStatus(const std::string& text) {
  surface->SetStatusText(CancelRequested() ? std::string("exiting...") : ShortStr(text));
  surface->Pump();
}

void ShowProgress(std::int64_t percent) {
  if (percent >= 0 && percent > position) {
    const int capped = static_cast<int>(percent > 100 ? 100 : percent);
    // A capped value equal to the position would only draw the same bar again.
    if (capped != position) surface->SetPercent(capped);
    position = capped;
  }
  surface->Pump();
}

void ShowIllustration(char letter) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  surface->SetIllustration(letter == 'C' || letter == 'D' ? letter : '0');
}

std::string HostOfSite(const std::string& site) {
  std::string host = ShortStr(site);
  const auto colon = host.find(':');
  if (colon != std::string::npos) host.erase(0, colon + 1);
  host = DropLeading(DropLeading(host, '/'), '\\');
  return BeforeFirst(BeforeFirst(host, '/'), '\\');
}

void ShowHost(const std::string& site) {
  const auto at = caption.find(kHostSuffix);
  if (at != std::string::npos) caption.erase(at);
  caption += kHostSuffix + ControlsReplaced(HostOfSite(site));
  surface->SetCaption(caption);
}

void AddDownloadedBytes(RunProgress& progress, std::int64_t n) {
  progress.downloaded += n;
  // A zero total would divide by zero: the bar stays where it is.
  if (progress.total == 0) return;
  ShowProgress(RoundHalfEven(static_cast<double>(progress.downloaded) /
                             static_cast<double>(progress.total) * 96.0));
}

void ShowInstallProgress(int step) {
  ShowProgress(96 + RoundHalfEven(step * 4 / 100.0));
}

void ShowUpdateId(const std::string& id) {
  // Control characters replaced: an ID of escape sequences could drive the terminal.
  surface->SetUpdateIdText("update ID: " + ControlsReplaced(id));
}

void ShowCause(const std::string& cause) {
  if (!cause.empty()) surface->SetCauseText(ControlsReplaced(cause));
}

std::int64_t RoundHalfEven(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kLimit = 9.0e18;  // well inside the 64-bit range
  if (value >= kLimit) return static_cast<std::int64_t>(kLimit);
  if (value <= -kLimit) return -static_cast<std::int64_t>(kLimit);
  const double below = std::floor(value);
  const double fraction = value - below;
  auto result = static_cast<std::int64_t>(below);
  if (fraction > 0.5 || (fraction == 0.5 && result % 2 != 0)) ++result;
  return result;
}

void ShowDiagnostic(const std::string& text) {
  if (CtrlDown()) InfoBox(text);
}
