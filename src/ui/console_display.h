#pragma once
// The display without a window: status, host, update ID and a progress bar
// on standard error. The bar is redrawn in place only on a terminal, at most
// about ten times a second; elsewhere each status is one line.

#include <cstdint>
#include <functional>
#include <string>

#include "app/context/display.h"

class ConsoleDisplay : public DisplaySurface {
 public:
  ConsoleDisplay();
  void SetStatusText(const std::string& text) override;
  void SetPercent(int percent) override;
  void SetIllustration(char which) override;
  void SetCaption(const std::string& caption) override;
  void SetUpdateIdText(const std::string& text) override;
  void SetCauseText(const std::string& cause) override;
  void Pump() override;
  void Finish();  // ends a bar line left open on the terminal

 private:
  void DrawBar(bool force);
  void EndBarLine();
  bool terminal_;
  int percent_ = 0;
  int drawnPercent_ = 0;
  std::int64_t lastDrawMs_ = -1000000;
  bool barOpen_ = false;
  std::string status_;
  std::string lastCaption_;
};

// Runs run with the console display: the initial status, the start delay,
// the run, the bar line closed. Returns the exit code, 0.
int RunOnConsole(const std::function<void()>& run);
