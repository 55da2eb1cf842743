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

namespace {

// Where the parts of a box go: its size, the text's place and the buttons' row.
struct BoxLayout {
  int w = 0, h = 0, textX = 0, textW = 0, bodyH = 0, buttonsX = 0, buttonY = 0;
};

BoxLayout LayOutBox(const std::string& label, bool withIcon, bool yesNo) {
  BoxLayout l;
  fl_font(FL_HELVETICA, kFontSize);
  l.textW = kMaxTextWidth;
  int textH = 0;
  fl_measure(label.c_str(), l.textW, textH);
  l.textX = withIcon ? kMargin + kIconSize + kMargin : kMargin;
  l.bodyH = std::max(textH, withIcon ? kIconSize : 0);
  const int buttonsW = yesNo ? 2 * kButtonW + kButtonGap : kButtonW;
  l.w = std::max({l.textX + l.textW + kMargin, buttonsW + 2 * kMargin, 200});
  l.buttonY = kMargin + l.bodyH + 14;
  l.h = l.buttonY + kButtonH + kMargin;
  l.buttonsX = (l.w - buttonsW) / 2;
  return l;
}

// The icon: an exclamation mark on yellow or a question mark on blue.
void AddIcon(const char* glyph) {
  auto* icon = new Fl_Box(kMargin, kMargin, kIconSize, kIconSize, glyph);
  icon->box(FL_THIN_UP_BOX);
  icon->labelfont(FL_HELVETICA_BOLD);
  icon->labelsize(26);
  const bool exclamation = glyph[0] == '!';
  icon->color(exclamation ? fl_rgb_color(255, 204, 0) : fl_rgb_color(0, 84, 166));
  icon->labelcolor(exclamation ? FL_BLACK : FL_WHITE);
}

// The buttons' row: OK, or Yes and No; returns the first, which Return presses.
Fl_Button* AddButtons(const BoxLayout& l, BoxState& state) {
  int bx = l.buttonsX;
  Fl_Button* first = new Fl_Return_Button(bx, l.buttonY, kButtonW, kButtonH, state.yesNo ? "Yes" : "OK");
  first->callback(ButtonPressed, &state);
  first->labelsize(kFontSize);
  if (state.yesNo) {
    bx += kButtonW + kButtonGap;
    state.no = new Fl_Button(bx, l.buttonY, kButtonW, kButtonH, "No");
    state.no->callback(ButtonPressed, &state);
    state.no->labelsize(kFontSize);
  }
  return first;
}

// Shows the box and handles events until it is answered.
void WaitForAnswer(Fl_Window& window, Fl_Button* first) {
  // A drag or grab in progress would keep the box from getting input.
  Fl::pushed(nullptr);
  Fl_Window* const grab = Fl::grab();
  if (grab) Fl::grab(nullptr);
  window.show();
  first->take_focus();
  while (window.shown()) Fl::wait();
  if (grab) Fl::grab(grab);
}

}  // namespace

int FltkUserInterface::MessageBox(const std::string& text, const std::string& caption,
                                  unsigned flags) {
  if (fl_display == nullptr) return ConsoleUserInterface().MessageBox(text, caption, flags);
  const unsigned iconFlags = flags & 0xF0u;
  const char* glyph = iconFlags == kMbIconExclamation ? "!"
                      : iconFlags == kMbIconQuestion  ? "?"
                                                      : nullptr;
  BoxState state;
  state.yesNo = (flags & 0xFu) == kMbYesNo;
  const std::string label = FltkLabelText(UnixLineBreaks(text));
  const BoxLayout l = LayOutBox(label, glyph != nullptr, state.yesNo);
  int x, y;
  CentreBox(l.w, l.h, x, y);

  Fl_Group* const outer = Fl_Group::current();
  Fl_Group::current(nullptr);
  Fl_Window window(x, y, l.w, l.h);
  state.window = &window;
  window.copy_label(caption.c_str());
  window.set_modal();
  window.callback(BoxClosed, &state);
  if (glyph) AddIcon(glyph);
  auto* message = new Fl_Box(l.textX, kMargin, l.textW, l.bodyH);
  message->copy_label(label.c_str());
  message->labelsize(kFontSize);
  message->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
  Fl_Button* const first = AddButtons(l, state);
  window.end();
  Fl_Group::current(outer);
  WaitForAnswer(window, first);
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
