#include "ui/fltk/fltk_ui.h"

#include <algorithm>
#include <chrono>
#include <string>

#include <FL/Enumerations.H>
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include "ui/pump_pacing.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFontSize = 11;
constexpr int kMaxTextWidth = 420;
constexpr int kMargin = 12;
constexpr int kIconSize = 36;
constexpr int kButtonW = 75;
constexpr int kButtonH = 23;
constexpr int kButtonGap = 8;

// The text with "\r\n" and a lone "\r" (a line break in the program's texts) as "\n".
std::string UnixLineBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Where a box of w x h goes: centred over the shown main window, else on the
// first screen.
void CentreBox(int w, int h, int& x, int& y) {
  int cx, cy, cw, ch;
  if (Fl_Window* main = Fl::first_window()) {
    cx = main->x();
    cy = main->y();
    cw = main->w();
    ch = main->h();
  } else {
    Fl::screen_xywh(cx, cy, cw, ch, 0);
  }
  x = cx + (cw - w) / 2;
  y = cy + (ch - h) / 2;
}

struct BoxState {
  Fl_Window* window = nullptr;
  Fl_Widget* no = nullptr;
  int result = kIdOk;
  bool yesNo = false;  // else Escape and the window manager's close answer OK
};

void ButtonPressed(Fl_Widget* button, void* data) {
  auto* state = static_cast<BoxState*>(data);
  state->result = button == state->no ? kIdNo : state->yesNo ? kIdYes : kIdOk;
  state->window->hide();
}

void BoxClosed(Fl_Widget*, void* data) {
  auto* state = static_cast<BoxState*>(data);
  if (state->yesNo) return;
  state->result = kIdOk;
  state->window->hide();
}

}  // namespace

std::string FltkLabelText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '@') out += '@';
  }
  return out;
}

bool HandleFltkEventsNow() {
  if (fl_display == nullptr) return false;
  const bool waiting = Fl::ready() != 0;
  Fl::check();
  return waiting;
}

int FltkUserInterface::MessageBox(const std::string& text, const std::string& caption,
                                  unsigned flags) {
  if (fl_display == nullptr) return ConsoleUserInterface().MessageBox(text, caption, flags);
  const bool yesNo = (flags & 0xFu) == kMbYesNo;
  const unsigned iconFlags = flags & 0xF0u;
  const char* glyph = iconFlags == kMbIconExclamation ? "!"
                      : iconFlags == kMbIconQuestion  ? "?"
                                                      : nullptr;

  const std::string label = FltkLabelText(UnixLineBreaks(text));
  fl_font(FL_HELVETICA, kFontSize);
  int textW = kMaxTextWidth;
  int textH = 0;
  fl_measure(label.c_str(), textW, textH);
  const int textX = glyph ? kMargin + kIconSize + kMargin : kMargin;
  const int bodyH = std::max(textH, glyph ? kIconSize : 0);
  const int buttonsW = yesNo ? 2 * kButtonW + kButtonGap : kButtonW;
  const int w = std::max({textX + textW + kMargin, buttonsW + 2 * kMargin, 200});
  const int buttonY = kMargin + bodyH + 14;
  const int h = buttonY + kButtonH + kMargin;
  int x, y;
  CentreBox(w, h, x, y);

  BoxState state;
  Fl_Group* const outer = Fl_Group::current();
  Fl_Group::current(nullptr);
  Fl_Window window(x, y, w, h);
  state.window = &window;
  state.yesNo = yesNo;
  window.copy_label(caption.c_str());
  window.set_modal();
  window.callback(BoxClosed, &state);
  if (glyph) {
    auto* icon = new Fl_Box(kMargin, kMargin, kIconSize, kIconSize, glyph);
    icon->box(FL_THIN_UP_BOX);
    icon->labelfont(FL_HELVETICA_BOLD);
    icon->labelsize(26);
    if (glyph[0] == '!') {
      icon->color(fl_rgb_color(255, 204, 0));
      icon->labelcolor(FL_BLACK);
    } else {
      icon->color(fl_rgb_color(0, 84, 166));
      icon->labelcolor(FL_WHITE);
    }
  }
  auto* message = new Fl_Box(textX, kMargin, textW, bodyH);
  message->copy_label(label.c_str());
  message->labelsize(kFontSize);
  message->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
  int bx = (w - buttonsW) / 2;
  Fl_Button* first = new Fl_Return_Button(bx, buttonY, kButtonW, kButtonH, yesNo ? "Yes" : "OK");
  first->callback(ButtonPressed, &state);
  first->labelsize(kFontSize);
  if (yesNo) {
    bx += kButtonW + kButtonGap;
    state.no = new Fl_Button(bx, buttonY, kButtonW, kButtonH, "No");
    state.no->callback(ButtonPressed, &state);
    state.no->labelsize(kFontSize);
  }
  window.end();
  Fl_Group::current(outer);

  // A drag or grab in progress would keep the box from getting input.
  Fl::pushed(nullptr);
  Fl_Window* const grab = Fl::grab();
  if (grab) Fl::grab(nullptr);
  window.show();
  first->take_focus();
  while (window.shown()) Fl::wait();
  if (grab) Fl::grab(grab);
  return state.result;
}

bool FltkUserInterface::KeyDown(int virtualKey) {
  if (fl_display == nullptr) return false;
  // Fl::get_key asks the X server for the keyboard state now, not the state
  // of the last event.
  switch (virtualKey) {
    case kVkShift:
      return Fl::get_key(FL_Shift_L) || Fl::get_key(FL_Shift_R);
    case kVkControl:
      return Fl::get_key(FL_Control_L) || Fl::get_key(FL_Control_R);
    default:
      return false;
  }
}

bool FltkUserInterface::PumpMessages(int ms) {
  if (fl_display == nullptr) return false;
  if (ms < 0) return PumpDue() && HandleFltkEventsNow();
  bool handled = false;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    handled = Fl::ready() || handled;
    const auto left = std::chrono::duration<double>(deadline - Clock::now()).count();
    if (left <= 0) break;
    Fl::wait(left);
  }
  return handled;
}

FltkUserInterface& TheFltkUserInterface() {
  static FltkUserInterface ui;
  return ui;
}
