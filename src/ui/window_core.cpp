#include "ui/window_core.h"

#include <cstdio>
#include <string>
#include <utility>

#include "app/context/run_context.h"
#include "support/ui_hooks.h"
#include "ui/answering_clock.h"
#include "ui/console_display.h"
#include "ui/form_layout.h"
#include "ui/pump_pacing.h"
#include "ui/window_start.h"

namespace {
// How often the start delay looks at Cancel.
constexpr int kStartTickMs = 100;
}  // namespace

MainWindow::MainWindow(const std::string& title, std::function<void()> run)
    : run_(std::move(run)), toolkit_(MakeToolkitWindow(title, *this)) {
  if (!toolkit_->Created()) return;
  // Cancel is not requested yet: the flag starts false and the window is
  // made once per program start.
  SetCaption(kCaptionText);
  SetStatusText(InitialStatusText());
  SetText(WindowText::Explanation, ExplanationText());
  toolkit_->StartTimer(kStartTickMs);
  timerRunning_ = true;
}

MainWindow::~MainWindow() {
  if (timerRunning_) toolkit_->StopTimer();
}

void MainWindow::Show() {
  if (!Created()) return;
  SetIllustration('0');
  toolkit_->ShowCentred();
}

void MainWindow::SetText(WindowText which, const std::string& text) {
  std::string& shown = texts_[static_cast<int>(which)];
  if (text == shown) return;
  shown = text;
  toolkit_->ShowText(which, text);
  NoteVisibleChange();
}

void MainWindow::SetPercent(int percent) {
  SetText(WindowText::Percent, std::to_string(percent) + "%");
  if (percent == percent_) return;
  percent_ = percent;
  toolkit_->ShowBar(percent);
  NoteVisibleChange();
}

void MainWindow::SetIllustration(char which) {
  illustration_ = IllustrationLetter(which);
  toolkit_->ShowPicture(illustration_);
  NoteVisibleChange();
}

bool MainWindow::IllustrationLoaded(char which) const {
  return toolkit_->PictureLoaded(IllustrationLetter(which));
}

void MainWindow::Pump() {
  if (PumpDue()) toolkit_->HandlePendingEvents();
}

void MainWindow::StartTimerFired() {
  toolkit_->StopTimer();
  // The start delay passes in ticks, so that Cancel (a press, Ctrl-C)
  // starts the run at once; the run then goes to its end without waiting.
  if (++startTicks_ * kStartTickMs < kStartDelayMs && !CancelRequested()) {
    toolkit_->StartTimer(kStartTickMs);
    return;
  }
  timerRunning_ = false;
  {
    // The run's waits keep handling the window's events.
    const AnsweringClockScope answering([this] { Pump(); });
    // The run reports its own failures; nothing may unwind through the toolkit.
    try {
      if (run_) run_();
    } catch (...) {
      std::fputs("tvqlupd: the update run ended by an unexpected error\n", stderr);
    }
  }
  toolkit_->Close();
}

void MainWindow::CancelPressed() {
  // A second press meets a disabled button and changes nothing.
  if (cancelPressed_) return;
  cancelPressed_ = true;
  RequestCancel();
  toolkit_->DisableCancelButton();
  NoteVisibleChange();
}

bool MainWindow::CaptionPressed(int x, int y) {
  if (dragging_) return false;
  dragX_ = x;
  dragY_ = y;
  dragging_ = true;
  return true;
}

void MainWindow::CaptionDragged(int x, int y) {
  if (!dragging_ || (x == dragX_ && y == dragY_)) return;
  toolkit_->MoveBy(x - dragX_, y - dragY_);
}

void MainWindow::CaptionReleased(int x, int y) {
  // The toolkit may hand over motion gathered between two pumps only after
  // the release: the release position finishes the move, so a fast drag
  // still moves the window.
  CaptionDragged(x, y);
  dragging_ = false;
}

int RunWindow(std::function<void()> run) {
  // Without a window the run still happens, on the console.
  if (!TryOpenDisplay()) return RunOnConsole(run);
  MainWindow window(kApplicationTitle, run);
  if (!window.Created()) return RunOnConsole(run);
  SetDisplaySurface(&window);
  ResetDisplayState();
  SetUserInterface(&WindowUserInterface());
  window.Show();
  window.RunEventLoop();
  SetUserInterface(nullptr);
  SetDisplaySurface(nullptr);
  return 0;
}
