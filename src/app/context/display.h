#pragma once
// The display operations the run talks to, and the surface that draws them.
// The arithmetic (the bar never moves back, "exiting..." after a cancel, bytes
// to percent, the host suffix) lives here; a surface -- the window, the
// console, a test recorder -- only draws what it is told.

#include <cstdint>
#include <string>

#include "app/context/run_context.h"

class DisplaySurface {
 public:
  virtual ~DisplaySurface() = default;
  virtual void SetStatusText(const std::string& text) = 0;     // the status line
  virtual void SetPercent(int percent) = 0;                    // the percentage "n%" and the bar
  virtual void SetIllustration(char which) = 0;                // '0', 'C' or 'D'
  virtual void SetCaption(const std::string& caption) = 0;     // the caption bar
  virtual void SetUpdateIdText(const std::string& text) = 0;   // the update ID line
  // Handles pending window messages (input, repaint); throttled by the
  // surface so that a fast transfer is not slowed down.
  virtual void Pump() = 0;
  // Why the run failed, shown beside the status where the surface has room
  // for it (the console); the window keeps its status line as it is.
  virtual void SetCauseText(const std::string& /*cause*/) {}
};

// The surface in use (a silent one until main or a test installs another).
void SetDisplaySurface(DisplaySurface* surface);
DisplaySurface& CurrentDisplaySurface();

inline constexpr const char* kCaptionText = "Kestrin Zadovez 1.0j";
inline constexpr const char* kHostSuffix = "  -  host: ";

// Resets the displayed state to that of a new window (bar 0, start caption).
void ResetDisplayState();
int ProgressPosition();
std::string CaptionText();

void ShowStatus(const std::string& text);
void ShowProgress(std::int64_t percent);
void ShowIllustration(char letter);
void ShowHost(const std::string& site);
// Counts n more bytes of the update and moves the bar to match.
void AddDownloadedBytes(RunProgress& progress, std::int64_t n);
void ShowInstallProgress(int step);
void ShowUpdateId(const std::string& id);  // "update ID: " + id
// Says why the run failed (console; nothing in the window).
void ShowCause(const std::string& cause);
// Shows text in a plain box, only while the Ctrl key is held down.
void ShowDiagnostic(const std::string& text);
// Text from the update site (update ID, host) is shown with control
// characters replaced, so it cannot drive a terminal.

// The host part of a site address (what ShowHost appends to the caption).
std::string HostOfSite(const std::string& site);
// Rounds to the nearest integer, halves to the even neighbour.
std::int64_t RoundHalfEven(double value);
