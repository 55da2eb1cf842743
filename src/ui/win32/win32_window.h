#pragma once
// The window as a native Win32 window: a borderless box with its own caption
// bar, the picture strip, the explanation, the status line, the percentage,
// a comctl32 progress bar and the Cancel button. It shows what the window
// core (ui/window_core.h) tells it and hands the user's input to the core.
// The layout (ui/form_layout.h, pixels at 96 dpi) is scaled to the DPI of
// the window's monitor, and again when the window moves to a monitor of
// another scaling.

#include <windows.h>

#include <string>

#include "ui/window_core.h"

class Win32Window : public WindowToolkit {
 public:
  // hwnd is null when the window could not be made.
  Win32Window(const std::string& title, WindowEvents& events);
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  bool Created() const override { return hwnd != nullptr; }
  void ShowText(WindowText which, const std::string& text) override;
  void ShowBar(int percent) override;
  void ShowPicture(char letter) override;
  bool PictureLoaded(char letter) const override;
  void DisableCancelButton() override;
  void ShowCentred() override;
  void MoveBy(int dx, int dy) override;
  void StartTimer(int ms) override;
  void StopTimer() override;
  void RunEventLoop() override;
  void Close() override;
  bool HandlePendingEvents() override;

  // Escape for the Cancel button, taken before the focused control sees it;
  // true when msg was handled. Both message loops call it.
  bool PreTranslate(const MSG& msg);

  // The window and its controls (the caption bar, the panels and the strip
  // are drawn by the window itself).
  HWND hwnd = nullptr;
  HWND closeButton = nullptr;
  HWND explanation = nullptr;
  HWND updateIdLabel = nullptr;
  HWND statusLine = nullptr;
  HWND percentLabel = nullptr;
  HWND progressBar = nullptr;
  HWND cancelButton = nullptr;
  const std::string& Caption() const { return caption_; }
  // The control that shows a text; nullptr for the caption.
  HWND LabelOf(WindowText which) const { return labels_[static_cast<int>(which)]; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  bool HandleMouse(UINT msg, LPARAM lParam);
  LRESULT HandleColour(HDC dc, HWND control);
  void HandleCommand(WPARAM wParam);
  void HandleDpiChange(WPARAM wParam, LPARAM lParam);
  void MakeControls();
  void PaintBuffered();
  void Paint(HDC dc);
  void DrawCloseGlyph(const DRAWITEMSTRUCT& item);
  void CaptionMouse(UINT msg);
  void DrawPicture(HDC dc, HBITMAP picture, const RECT& strip);
  HWND NewChild(const wchar_t* cls, const std::string& text, DWORD style, int id);
  // A length or a rectangle of the 96-dpi layout at the window's DPI.
  int Px(int at96) const;
  RECT Px(const RECT& at96) const;
  void ApplyDpi();
  void Place(HWND control, int x, int y, int w, int h, HFONT font);
  void DeleteFonts();

  WindowEvents& events_;
  HWND labels_[kWindowTextCount] = {};
  std::string caption_;
  char picture_ = '0';
  // The three pictures as bitmaps ('0', 'C', 'D'); nullptr: not decoded.
  HBITMAP pictures_[3] = {};
  HFONT font_ = nullptr;
  HFONT boldFont_ = nullptr;
  HFONT statusFont_ = nullptr;
  HBRUSH faceBrush_ = nullptr;
  HBRUSH infoBrush_ = nullptr;
  UINT dpi_ = 96;
  // Set while the destructor removes the window: no WM_QUIT then.
  bool quiet_ = false;
  // Set while the mouse is captured for a drag of the caption bar.
  bool captured_ = false;
};
