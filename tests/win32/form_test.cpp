// The native Win32 window in the test's own process: layout, Escape, the
// close glyph, closing and the error box; the tests every toolkit shares
// (window/window_core_test.cpp) are built into this program too. Needs a
// desktop (under Wine: an X display); without one only the console
// fallback is checked.
#include "ui/win32/win32_window.h"

#include <commctrl.h>

#include <chrono>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "app/context/display.h"
#include "app/context/run_context.h"
#include "platform/win32/wide.h"
#include "support/lingua.h"
#include "support/ui_hooks.h"
#include "ui/form_layout.h"
#include "ui/win32/win32_ui.h"
#include "ui/window_core.h"
#include "ui/window_start.h"

namespace {

using Clock = std::chrono::steady_clock;
using os::win32::Utf8;

std::string TextOf(HWND hwnd) {
  wchar_t text[1024] = {};
  GetWindowTextW(hwnd, text, 1024);
  return Utf8(text);
}

// A child's place in its window's client coordinates.
RECT PlaceOf(const Win32Window& form, HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, form.hwnd, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void PumpFor(int ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) WindowUserInterface().PumpMessages(10);
}

// Runs the window through RunWindow; body is the run, given the form.
void RunForm(const std::function<void(Win32Window&)>& body) {
  const int code = RunWindow([&] {
    auto* window = dynamic_cast<MainWindow*>(&CurrentDisplaySurface());
    ASSERT_NE(window, nullptr);
    body(dynamic_cast<Win32Window&>(window->Toolkit()));
  });
  EXPECT_EQ(code, 0);
}

class Win32Form : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TryOpenDisplay()) GTEST_SKIP() << "no desktop to show windows on";
    ResetCancelForTests();
    SetLanguage('E');
  }
};

TEST_F(Win32Form, IsBorderlessCentredWithClientSizeTitleAndLayout) {
  RunForm([](Win32Window& form) {
    const LONG_PTR style = GetWindowLongPtrW(form.hwnd, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_BORDER | WS_THICKFRAME | WS_DLGFRAME), 0);
    RECT client;
    GetClientRect(form.hwnd, &client);
    EXPECT_EQ(client.right, kFormWidth);
    EXPECT_EQ(client.bottom, kFormHeight);
    RECT window;
    GetWindowRect(form.hwnd, &window);
    EXPECT_EQ(window.left, (GetSystemMetrics(SM_CXSCREEN) - kFormWidth) / 2);
    EXPECT_EQ(window.top, (GetSystemMetrics(SM_CYSCREEN) - kFormHeight) / 2);
    EXPECT_EQ(TextOf(form.hwnd), "Zadovez");

    const struct {
      const char* name;
      HWND hwnd;
      RECT want;
    } elements[] = {
        {"closeButton", form.closeButton, {527, 3, 543, 19}},
        {"explanation", form.explanation, {139, 23, 541, 60}},
        {"updateIdLabel", form.updateIdLabel, {147, 70, 534, 84}},
        {"statusLine", form.statusLine, {147, 86, 534, 103}},
        {"percentLabel", form.percentLabel, {147, 114, 207, 128}},
        {"progressBar", form.progressBar, {147, 130, 534, 147}},
        {"cancelButton", form.cancelButton, {302, 256, 377, 284}},
    };
    for (const auto& e : elements) {
      const RECT r = PlaceOf(form, e.hwnd);
      EXPECT_EQ(r.left, e.want.left) << e.name;
      EXPECT_EQ(r.top, e.want.top) << e.name;
      EXPECT_EQ(r.right, e.want.right) << e.name;
      EXPECT_EQ(r.bottom, e.want.bottom) << e.name;
    }
    PBRANGE range{};
    SendMessageW(form.progressBar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    EXPECT_EQ(TextOf(form.cancelButton), "Cancel");
    EXPECT_EQ(GetFocus(), form.cancelButton);
    // The explanation is not reachable with Tab.
    EXPECT_EQ(GetWindowLongPtrW(form.explanation, GWL_STYLE) & WS_TABSTOP, 0);
  });
}

TEST_F(Win32Form, EscapePressesCancelWithoutClosing) {
  RunForm([](Win32Window& form) {
    // Escape as the focused control receives it, through the run's pumping.
    PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 1);
    EXPECT_FALSE(CancelRequested());
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (!CancelRequested() && Clock::now() < end) PumpFor(20);
    EXPECT_TRUE(CancelRequested());
    EXPECT_FALSE(IsWindowEnabled(form.cancelButton));
    // A second Escape meets a disabled button and must not close the window.
    PostMessageW(GetFocus() ? GetFocus() : form.hwnd, WM_KEYDOWN, VK_ESCAPE, 1);
    PumpFor(200);
    EXPECT_TRUE(IsWindowVisible(form.hwnd));
  });
}

TEST_F(Win32Form, CloseGlyphAndClosingRequestCancelWithoutClosing) {
  RunForm([](Win32Window& form) {
    SendMessageW(form.closeButton, BM_CLICK, 0, 0);
    EXPECT_TRUE(CancelRequested());
    EXPECT_FALSE(IsWindowEnabled(form.cancelButton));
    // Alt+F4 or the task bar: the run ends the program, not the close.
    SendMessageW(form.hwnd, WM_CLOSE, 0, 0);
    PumpFor(100);
    EXPECT_TRUE(IsWindow(form.hwnd));
    EXPECT_TRUE(IsWindowVisible(form.hwnd));
  });
}

// From a timer inside the box's own loop: the box's owner, then Return.
struct BoxSeen {
  HWND owner = nullptr;
  bool found = false;
};
BoxSeen boxSeen;

void CALLBACK AnswerBox(HWND, UINT, UINT_PTR id, DWORD) {
  HWND box = FindWindowW(L"#32770", L"Error");
  if (box == nullptr) return;
  KillTimer(nullptr, id);
  boxSeen.found = true;
  boxSeen.owner = GetWindow(box, GW_OWNER);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
}

TEST_F(Win32Form, ErrorBoxIsOwnedByTheWindowAndTheRunGoesOn) {
  RunForm([](Win32Window& form) {
    boxSeen = {};
    const UINT_PTR timer = SetTimer(nullptr, 0, 200, AnswerBox);
    ErrorBox("cannot copy \"a\" to \"b\"");
    KillTimer(nullptr, timer);
    EXPECT_TRUE(boxSeen.found);
    EXPECT_EQ(boxSeen.owner, form.hwnd);
    ShowStatus("installing");
    EXPECT_EQ(TextOf(form.statusLine), "installing");
    EXPECT_TRUE(IsWindowVisible(form.hwnd));
  });
}

// Without a desktop nobody could answer a box: the console answers it.
TEST(Win32NoDesktop, BoxesAnswerAtOnceWithoutADesktop) {
  if (TryOpenDisplay()) GTEST_SKIP() << "a desktop is available";
  UserInterface& ui = WindowUserInterface();
  EXPECT_EQ(ui.MessageBox("Keep the previous settings?", "Zadovez", kMbYesNo | kMbIconQuestion), kIdYes);
  EXPECT_EQ(ui.MessageBox("cannot copy", "Error", kMbIconExclamation | kMbTopmost), kIdOk);
  EXPECT_FALSE(ui.KeyDown(kVkControl));
  EXPECT_FALSE(ui.PumpMessages(-1));
  // The run still happens, on the console.
  bool ran = false;
  EXPECT_EQ(RunWindow([&] { ran = true; }), 0);
  EXPECT_TRUE(ran);
}

}  // namespace
