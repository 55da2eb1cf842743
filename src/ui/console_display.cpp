#include "ui/console_display.h"

#include <cstdio>
#include <iostream>
#include <string>

#include "platform/os.h"
#include "ui/form_layout.h"

namespace {
constexpr int kBarWidth = 40;
constexpr std::int64_t kRedrawIntervalMs = 100;
}  // namespace

ConsoleDisplay::ConsoleDisplay() : terminal_(os::StandardErrorIsTerminal()) {}

void ConsoleDisplay::SetStatusText(const std::string& text) {
  if (text == status_) return;
  status_ = text;
  EndBarLine();
  std::cerr << text << std::endl;
}

void ConsoleDisplay::SetPercent(int percent) {
  percent_ = percent;
  DrawBar(percent == 100);
}

void ConsoleDisplay::SetIllustration(char) {}

void ConsoleDisplay::SetCaption(const std::string& caption) {
  // Only the host suffix is news on the console; the product name is not.
  const auto at = caption.find(kHostSuffix);
  if (at == std::string::npos || caption == lastCaption_) return;
  lastCaption_ = caption;
  EndBarLine();
  std::cerr << "host: " << caption.substr(at + std::string(kHostSuffix).size()) << std::endl;
}

void ConsoleDisplay::SetUpdateIdText(const std::string& text) {
  EndBarLine();
  std::cerr << text << std::endl;
}

void ConsoleDisplay::SetCauseText(const std::string& cause) {
  EndBarLine();
  std::cerr << "  because: " << cause << std::endl;
}

void ConsoleDisplay::Pump() {
  // Nothing to handle on the console: Ctrl-C reaches the run through
  // CancelRequested().
}

void ConsoleDisplay::DrawBar(bool force) {
  if (percent_ == drawnPercent_) return;
  const std::int64_t now = os::TickMs();
  if (terminal_) {
    if (!force && now - lastDrawMs_ < kRedrawIntervalMs) return;
  } else if (!force && percent_ / 25 == drawnPercent_ / 25) {
    // Not a terminal: one line per quarter instead of a redrawn bar.
    return;
  }
  lastDrawMs_ = now;
  drawnPercent_ = percent_;
  const int filled = percent_ * kBarWidth / 100;
  const std::string bar = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') +
                          "] " + std::to_string(percent_) + "%";
  if (terminal_) {
    std::cerr << '\r' << bar << std::flush;
    barOpen_ = true;
  } else {
    std::cerr << bar << '\n';
  }
}

// Before any other line: the bar shows its latest value (a redraw the
// throttle held back) and its line is ended.
void ConsoleDisplay::EndBarLine() {
  if (percent_ != drawnPercent_) DrawBar(true);
  if (barOpen_) std::cerr << '\n';
  barOpen_ = false;
}

void ConsoleDisplay::Finish() {
  EndBarLine();
}

int RunOnConsole(const std::function<void()>& run) {
  ConsoleDisplay console;
  SetDisplaySurface(&console);
  ResetDisplayState();
  ShowStatus(InitialStatusText());
  os::SleepMs(kStartDelayMs);
  run();
  console.Finish();
  SetDisplaySurface(nullptr);
  return 0;
}
