// The native Win32 window in the test's own process: layout, texts in the
// three languages, the display operations, Cancel, Escape, the close glyph
// and the error box. Needs a desktop (under Wine: an X display); without
// one only the console fallback is checked.
#include "ui/win32/form.h"

#include <commctrl.h>

#include <chrono>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "app/display.h"
#include "app/run_context.h"
#include "platform/win32/wide.h"
#include "support/lingua.h"
#include "support/ui_hooks.h"
#include "ui/form_layout.h"
#include "ui/win32/win32_ui.h"
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
RECT PlaceOf(const TForm1& form, HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, form.Form, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void PumpFor(int ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) WindowUserInterface().PumpMessages(10);
}

// Runs the window through RunWindow; body is the run, given the form.
void RunForm(const std::function<void(TForm1&)>& body) {
  const int code = RunWindow([&] {
    auto* form = dynamic_cast<TForm1*>(&CurrentDisplaySurface());
    ASSERT_NE(form, nullptr);
    body(*form);
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

TEST_F(Win32Form, RunsTheRunOnceAfterTwoSecondsAndCloses) {
  int runs = 0;
  bool shownDuringRun = false;
  const auto start = Clock::now();
  std::chrono::milliseconds waited{};
  RunForm([&](TForm1& form) {
    ++runs;
    waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    shownDuringRun = IsWindowVisible(form.Form) != FALSE;
  });
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(shownDuringRun);
  EXPECT_GE(waited.count(), kTimer1IntervalMs - 100);
  EXPECT_EQ(dynamic_cast<TForm1*>(&CurrentDisplaySurface()), nullptr);
  EXPECT_EQ(FindWindowW(L"TForm1", nullptr), nullptr);
}

TEST_F(Win32Form, IsBorderlessCentredWithClientSizeTitleAndLayout) {
  RunForm([](TForm1& form) {
    const LONG_PTR style = GetWindowLongPtrW(form.Form, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_BORDER | WS_THICKFRAME | WS_DLGFRAME), 0);
    RECT client;
    GetClientRect(form.Form, &client);
    EXPECT_EQ(client.right, kFormWidth);
    EXPECT_EQ(client.bottom, kFormHeight);
    RECT window;
    GetWindowRect(form.Form, &window);
    EXPECT_EQ(window.left, (GetSystemMetrics(SM_CXSCREEN) - kFormWidth) / 2);
    EXPECT_EQ(window.top, (GetSystemMetrics(SM_CYSCREEN) - kFormHeight) / 2);
    EXPECT_EQ(TextOf(form.Form), "Zadovez");

    const struct {
      const char* name;
      HWND hwnd;
      RECT want;
    } elements[] = {
        {"SpeedButton1", form.SpeedButton1, {527, 3, 543, 19}},
        {"InfoMemo", form.InfoMemo, {139, 23, 541, 60}},
        {"UpdateIDLabel", form.UpdateIDLabel, {147, 70, 534, 84}},
        {"doingLabel", form.doingLabel, {147, 86, 534, 103}},
        {"Label1", form.Label1, {147, 114, 207, 128}},
        {"ProgressBar1", form.ProgressBar1, {147, 130, 534, 147}},
        {"CancelButton", form.CancelButton, {302, 256, 377, 284}},
    };
    for (const auto& e : elements) {
      const RECT r = PlaceOf(form, e.hwnd);
      EXPECT_EQ(r.left, e.want.left) << e.name;
      EXPECT_EQ(r.top, e.want.top) << e.name;
      EXPECT_EQ(r.right, e.want.right) << e.name;
      EXPECT_EQ(r.bottom, e.want.bottom) << e.name;
    }
    PBRANGE range{};
    SendMessageW(form.ProgressBar1, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    EXPECT_EQ(TextOf(form.CancelButton), "Cancel");
    EXPECT_EQ(GetFocus(), form.CancelButton);
    // The explanation is not reachable with Tab.
    EXPECT_EQ(GetWindowLongPtrW(form.InfoMemo, GWL_STYLE) & WS_TABSTOP, 0);
  });
}

TEST_F(Win32Form, ExplanationAndStatusAreFilledAtCreationInTheUsersLanguage) {
  const struct {
    char language;
    const char* status;
    const char* explanation;
  } cases[] = {
      {'E', "initializing...",
       "Kestrin Zadovez is checking for updates. If found, these will be downloaded and "
       "installed. Please wait..."},
      {'G', "am initialisieren...",
       "Kestrin Zadovez überprüft, ob Programmupdates vorhanden sind. Gegebenenfalls werden "
       "diese installiert. Bitte warten..."},
      {'F', "initialisation en cours...",
       "Kestrin Zadovez vérifie, si des mises à jour sont disponibles. Le cas échéant, elles "
       "seront téléchargées puis installées. Patientez SVP..."},
  };
  for (const auto& c : cases) {
    SetLanguage(c.language);
    TForm1 form(kApplicationTitle, nullptr);
    ASSERT_NE(form.Form, nullptr);
    // Through the wide API and back: the accents arrive unchanged.
    EXPECT_EQ(TextOf(form.doingLabel), c.status) << c.language;
    EXPECT_EQ(TextOf(form.InfoMemo), c.explanation) << c.language;
    EXPECT_EQ(form.Caption(), kCaptionText) << c.language;
    EXPECT_EQ(TextOf(form.UpdateIDLabel), "") << c.language;
    EXPECT_EQ(TextOf(form.Label1), "") << c.language;
    EXPECT_EQ(SendMessageW(form.ProgressBar1, PBM_GETPOS, 0, 0), 0) << c.language;
  }
}

TEST_F(Win32Form, DisplayOperationsReachTheElements) {
  RunForm([](TForm1& form) {
    for (char letter : {'0', 'C', 'D'}) EXPECT_TRUE(form.IllustrationLoaded(letter)) << letter;
    EXPECT_EQ(form.VisibleIllustration(), '0');
    const struct {
      char letter, shown;
    } pictures[] = {{'d', 'D'}, {'C', 'C'}, {'x', '0'}, {'c', 'C'}};
    for (const auto& p : pictures) {
      ShowIllustration(p.letter);
      EXPECT_EQ(form.VisibleIllustration(), p.shown) << p.letter;
    }

    ShowHost("http://updates.example.com/zadovez/");
    ShowHost("file:///srv/mirror/zadovez/");
    ShowHost("http://second.example.org/x/");
    EXPECT_EQ(form.Caption(), std::string(kCaptionText) + kHostSuffix + "second.example.org");

    ShowProgress(40);
    ShowProgress(150);
    EXPECT_EQ(TextOf(form.Label1), "100%");
    EXPECT_EQ(SendMessageW(form.ProgressBar1, PBM_GETPOS, 0, 0), 100);
    ShowProgress(30);
    EXPECT_EQ(TextOf(form.Label1), "100%");

    ShowUpdateId("TVQ2026-01-10");
    EXPECT_EQ(TextOf(form.UpdateIDLabel), "update ID: TVQ2026-01-10");
    // '&' is shown as written, not as a mnemonic.
    ShowStatus("Müller & Söhne");
    EXPECT_EQ(TextOf(form.doingLabel), "Müller & Söhne");
    EXPECT_NE(GetWindowLongPtrW(form.doingLabel, GWL_STYLE) & SS_NOPREFIX, 0);
  });
}

TEST_F(Win32Form, CancelClickRequestsCancelAndSecondClickChangesNothing) {
  RunForm([](TForm1& form) {
    SendMessageW(form.CancelButton, BM_CLICK, 0, 0);
    EXPECT_TRUE(CancelRequested());
    EXPECT_FALSE(IsWindowEnabled(form.CancelButton));
    SendMessageW(form.CancelButton, BM_CLICK, 0, 0);
    PumpFor(200);
    EXPECT_TRUE(IsWindowVisible(form.Form));
    ShowStatus("installing");
    EXPECT_EQ(TextOf(form.doingLabel), "exiting...");
  });
}

TEST_F(Win32Form, EscapePressesCancelWithoutClosing) {
  RunForm([](TForm1& form) {
    // Escape as the focused control receives it, through the run's pumping.
    PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 1);
    EXPECT_FALSE(CancelRequested());
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (!CancelRequested() && Clock::now() < end) PumpFor(20);
    EXPECT_TRUE(CancelRequested());
    EXPECT_FALSE(IsWindowEnabled(form.CancelButton));
    // A second Escape meets a disabled button and must not close the window.
    PostMessageW(GetFocus() ? GetFocus() : form.Form, WM_KEYDOWN, VK_ESCAPE, 1);
    PumpFor(200);
    EXPECT_TRUE(IsWindowVisible(form.Form));
  });
}

TEST_F(Win32Form, CloseGlyphAndClosingRequestCancelWithoutClosing) {
  RunForm([](TForm1& form) {
    SendMessageW(form.SpeedButton1, BM_CLICK, 0, 0);
    EXPECT_TRUE(CancelRequested());
    EXPECT_FALSE(IsWindowEnabled(form.CancelButton));
    // Alt+F4 or the task bar: the run ends the program, not the close.
    SendMessageW(form.Form, WM_CLOSE, 0, 0);
    PumpFor(100);
    EXPECT_TRUE(IsWindow(form.Form));
    EXPECT_TRUE(IsWindowVisible(form.Form));
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
  RunForm([](TForm1& form) {
    boxSeen = {};
    const UINT_PTR timer = SetTimer(nullptr, 0, 200, AnswerBox);
    ErrorBox("cannot copy \"a\" to \"b\"");
    KillTimer(nullptr, timer);
    EXPECT_TRUE(boxSeen.found);
    EXPECT_EQ(boxSeen.owner, form.Form);
    ShowStatus("installing");
    EXPECT_EQ(TextOf(form.doingLabel), "installing");
    EXPECT_TRUE(IsWindowVisible(form.Form));
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
  EXPECT_EQ(RunWindow([] { FAIL() << "the run must not start without a window"; }), 1);
}

}  // namespace
