#pragma once
// The main window TForm1 as a native Win32 window: a borderless box with its
// own caption bar, the illustration strip, the explanation, the status line,
// the percentage, a comctl32 progress bar and the Cancel button. It draws what
// the display operations (app/display.h) tell it, starts the run 2000 ms after
// it was created (Timer1, inside the window's message loop) and closes when
// the run returns. The layout (ui/form_layout.h, pixels at 96 dpi) is scaled
// to the DPI of the window's monitor, and again when the window moves to a
// monitor of another scaling.

#include <windows.h>

#include <functional>
#include <string>

#include "app/display.h"
#include "ui/form_layout.h"

class TForm1 : public DisplaySurface {
 public:
  // Builds the window (FormCreate) and starts Timer1. title is the window's
  // text; run is called by Timer1Timer. Form is null when the window could
  // not be created.
  TForm1(const std::string& title, std::function<void()> run);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // FormShow, then shows the window centred on the primary screen.
  void Show();

  void SetStatusText(const std::string& text) override;
  void SetPercent(int percent) override;
  void SetIllustration(char which) override;
  void SetCaption(const std::string& caption) override;
  void SetUpdateIdText(const std::string& text) override;
  // Handles pending messages: at once after a visible change, otherwise at
  // most every kPumpIntervalMs.
  void Pump() override;

  // Handlers.
  void FormCreate();
  void FormShow();
  void Timer1Timer();
  void CancelButtonClick();
  void SpeedButton1Click();
  void Panel1MouseDown(int x, int y);  // caption bar coordinates
  void Panel1MouseMove(int x, int y);
  void Panel1MouseUp();

  // The letter of the picture on show: '0', 'C' or 'D'.
  char VisibleIllustration() const { return illustration_; }
  // Whether the picture of that letter could be decoded (else the strip
  // stays blue where it would be).
  bool IllustrationLoaded(char which) const;
  const std::string& Caption() const { return caption_; }
  bool Dragging() const { return dragging_; }

  // Escape for the Cancel button, taken before the focused control sees it;
  // true when msg was handled. Both message loops call it.
  bool PreTranslate(const MSG& msg);

  // The window and its controls (Panel1, the panels and the strip are drawn
  // by the window itself).
  HWND Form = nullptr;
  HWND SpeedButton1 = nullptr;
  HWND InfoMemo = nullptr;
  HWND UpdateIDLabel = nullptr;
  HWND doingLabel = nullptr;
  HWND Label1 = nullptr;
  HWND ProgressBar1 = nullptr;
  HWND CancelButton = nullptr;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  void Paint(HDC dc);
  void DrawCloseGlyph(const DRAWITEMSTRUCT& item);
  void CaptionMouse(UINT msg);
  void DrawPicture(HDC dc, HBITMAP picture, const RECT& strip);
  void SetLabel(HWND label, const std::string& text);
  HWND NewChild(const wchar_t* cls, const std::string& text, DWORD style, int id);
  // A length or a rectangle of the 96-dpi layout at the window's DPI.
  int Px(int at96) const;
  RECT Px(const RECT& at96) const;
  void ApplyDpi();
  void Place(HWND control, int x, int y, int w, int h, HFONT font);
  void DeleteFonts();

  std::string title_;
  std::function<void()> run_;
  std::string caption_;
  // The three pictures as bitmaps ('0', 'C', 'D'); nullptr: not decoded.
  HBITMAP pictures_[3] = {};
  HFONT font_ = nullptr;
  HFONT boldFont_ = nullptr;
  HFONT statusFont_ = nullptr;
  HBRUSH faceBrush_ = nullptr;
  HBRUSH infoBrush_ = nullptr;
  UINT dpi_ = 96;
  bool timerRunning_ = false;
  // Set while the destructor removes the window: no WM_QUIT then.
  bool quiet_ = false;
  bool dragging_ = false;
  int dragX_ = 0;
  int dragY_ = 0;
  char illustration_ = '0';
};
