#pragma once
// The program's window, once for every toolkit: the texts it shows, its
// picture, its bar, what Cancel, Escape, closing and dragging the caption
// bar do, the start timer and the run inside it, and the pace of event
// handling. A toolkit (FLTK on Linux, Win32 on Windows) only draws what the
// window tells it (WindowToolkit) and delivers the user's input
// (WindowEvents).

#include <functional>
#include <memory>
#include <string>

#include "app/context/display.h"

// The texts of the window.
enum class WindowText { Caption, Explanation, UpdateId, StatusLine, Percent };
inline constexpr int kWindowTextCount = 5;

// What the window asks of its toolkit.
class WindowToolkit {
 public:
  virtual ~WindowToolkit() = default;
  // False when the toolkit could not make the window.
  virtual bool Created() const = 0;
  virtual void ShowText(WindowText which, const std::string& text) = 0;
  virtual void ShowBar(int percent) = 0;
  // '0', 'C' or 'D'; false from PictureLoaded: it did not decode, and the
  // strip stays blue where it would be.
  virtual void ShowPicture(char letter) = 0;
  virtual bool PictureLoaded(char letter) const = 0;
  virtual void DisableCancelButton() = 0;
  // Shows the window centred on the (first) screen.
  virtual void ShowCentred() = 0;
  virtual void MoveBy(int dx, int dy) = 0;
  // The start timer: StartTimerFired once ms after StartTimer.
  virtual void StartTimer(int ms) = 0;
  virtual void StopTimer() = 0;
  // Handles events until the window is closed.
  virtual void RunEventLoop() = 0;
  virtual void Close() = 0;
  // Handles the events waiting now; true when there were any.
  virtual bool HandlePendingEvents() = 0;
};

// What the toolkit tells the window. Caption bar positions are in pixels
// from the caption bar's top-left corner, taken from the pointer's screen
// position (the window moves under the pointer while it is dragged).
class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  virtual void StartTimerFired() = 0;
  // The Cancel button, Escape, the close glyph or closing the window.
  virtual void CancelPressed() = 0;
  // True when this press starts a drag (not while one is going on).
  virtual bool CaptionPressed(int x, int y) = 0;
  virtual void CaptionDragged(int x, int y) = 0;
  // The release finishes the move where the pointer was let go.
  virtual void CaptionReleased(int x, int y) = 0;
  // The toolkit took the pointer away: the drag ends where it is.
  virtual void CaptionDragLost() = 0;
};

// The toolkit's window titled title, delivering its input to events; each
// toolkit's ui folder implements it.
std::unique_ptr<WindowToolkit> MakeToolkitWindow(const std::string& title, WindowEvents& events);

class MainWindow : public DisplaySurface, public WindowEvents {
 public:
  // Makes the window with its texts at creation and starts the start timer;
  // run is called when it fires (kStartDelayMs later, or at once after
  // Cancel, inside the event loop), and the window closes when run returns.
  MainWindow(const std::string& title, std::function<void()> run);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  bool Created() const { return toolkit_->Created(); }
  // Shows the start picture and the window, centred.
  void Show();
  void RunEventLoop() { toolkit_->RunEventLoop(); }

  void SetStatusText(const std::string& text) override { SetText(WindowText::StatusLine, text); }
  void SetPercent(int percent) override;
  void SetIllustration(char which) override;
  void SetCaption(const std::string& caption) override { SetText(WindowText::Caption, caption); }
  void SetUpdateIdText(const std::string& text) override { SetText(WindowText::UpdateId, text); }
  // Handles pending events: at once after a visible change, otherwise at
  // most every kPumpIntervalMs.
  void Pump() override;

  void StartTimerFired() override;
  void CancelPressed() override;
  bool CaptionPressed(int x, int y) override;
  void CaptionDragged(int x, int y) override;
  void CaptionReleased(int x, int y) override;
  void CaptionDragLost() override { dragging_ = false; }

  const std::string& Text(WindowText which) const { return texts_[static_cast<int>(which)]; }
  // The letter of the picture on show: '0', 'C' or 'D'.
  char VisibleIllustration() const { return illustration_; }
  bool IllustrationLoaded(char which) const;
  bool Dragging() const { return dragging_; }
  WindowToolkit& Toolkit() { return *toolkit_; }

 private:
  void SetText(WindowText which, const std::string& text);

  std::function<void()> run_;
  std::string texts_[kWindowTextCount];
  int percent_ = 0;
  char illustration_ = '0';
  bool cancelPressed_ = false;
  bool timerRunning_ = false;
  int startTicks_ = 0;  // ticks of the start delay that have passed
  bool dragging_ = false;
  int dragX_ = 0;
  int dragY_ = 0;
  std::unique_ptr<WindowToolkit> toolkit_;
};
