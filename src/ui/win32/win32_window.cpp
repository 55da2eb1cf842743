#include "ui/win32/win32_window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <memory>
#include <string>

#include "platform/win32/wide.h"
#include "ui/assets.h"
#include "ui/form_layout.h"
#include "ui/jpeg_picture.h"
#include "ui/win32/win32_ui.h"

using namespace layout;
using os::win32::Wide;

namespace {

constexpr const wchar_t* kWindowClass = L"ZadovezUpdateWindow";
constexpr UINT_PTR kStartTimerId = 1;
constexpr int kCloseButtonId = 100;
const COLORREF kPureBlue = RGB(0, 0, 255);
// The DPI the layout's values are given for.
constexpr UINT kLayoutDpi = 96;

constexpr RECT kCaptionRect{kSpace, kSpace, kFormWidth - kSpace, kSpace + kCaptionH};
constexpr RECT kStripRect{kSpace, kBodyY, kSpace + kIllustrationW, kBodyY + kBodyH};
constexpr RECT kExplanationRect{kControlsX, kBodyY, kControlsX + kControlsW, kBodyY + kExplanationH};
constexpr RECT kButtonsRect{kControlsX, kButtonsY, kControlsX + kControlsW, kButtonsY + kButtonsH};

// The window's DPI: its monitor's where the system knows DPI per window
// (Windows 10 1607 and later, looked up at run time so that the program
// still starts on Windows 7), else the one DPI of the whole screen.
UINT WindowDpi(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow != nullptr) {
    if (const UINT dpi = getDpiForWindow(window); dpi != 0) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kLayoutDpi;
}

// "MS Sans Serif" of that pixel height; the system maps it to its closest face.
HFONT LayoutFont(int px, int weight) {
  return CreateFontW(-px, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
}

// A decoded embedded picture as a bitmap the window can draw; nullptr when
// it does not decode.
HBITMAP PictureBitmap(const char* file) {
  const EmbeddedAsset asset = FindAsset(file);
  const RgbPicture picture = DecodeJpeg(asset.data, asset.size);
  if (picture.Empty()) return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = picture.width;
  info.bmiHeader.biHeight = -picture.height;  // rows top to bottom
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) return nullptr;
  auto* out = static_cast<unsigned char*>(bits);
  const std::size_t pixels = static_cast<std::size_t>(picture.width) * picture.height;
  for (std::size_t i = 0; i < pixels; ++i) {
    out[i * 4] = picture.rgb[i * 3 + 2];
    out[i * 4 + 1] = picture.rgb[i * 3 + 1];
    out[i * 4 + 2] = picture.rgb[i * 3];
    out[i * 4 + 3] = 0;
  }
  return bitmap;
}

void Fill(HDC dc, const RECT& r, COLORREF colour) {
  SetBkColor(dc, colour);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

// Destroys a window without hiding it first. A visible window is hidden
// before it is destroyed, and hiding one waits for the window manager to
// confirm it was shown: where none answers (Wine on a display without one)
// that wait lasts 2 s. A destroyed window leaves the screen all the same.
void DestroyUnhidden(HWND window) {
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  SetWindowLongPtrW(window, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_VISIBLE));
  DestroyWindow(window);
}

void RegisterWindowClass(WNDPROC proc) {
  static bool registered = false;
  if (registered) return;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = proc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  // The program's own icon (resource 1), the system's where it has none.
  cls.hIcon = LoadIconW(cls.hInstance, MAKEINTRESOURCEW(1));
  if (cls.hIcon == nullptr) cls.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // IDI_APPLICATION
  cls.lpszClassName = kWindowClass;
  registered = RegisterClassExW(&cls) != 0;
}

}  // namespace

Win32Window::Win32Window(const std::string& title, WindowEvents& events) : events_(events) {
  RegisterWindowClass(WindowProc);
  faceBrush_ = GetSysColorBrush(COLOR_BTNFACE);
  infoBrush_ = GetSysColorBrush(COLOR_INFOBK);
  // Borderless (the 1-pixel border is drawn inside), in the task bar.
  hwnd = CreateWindowExW(WS_EX_APPWINDOW, kWindowClass, Wide(title).c_str(), WS_POPUP | WS_CLIPCHILDREN, 0, 0,
                         kFormWidth, kFormHeight, nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (hwnd == nullptr) return;
  // Laid out at 96 dpi and scaled to the DPI of the window's monitor.
  dpi_ = WindowDpi(hwnd);
  SetWindowPos(hwnd, nullptr, 0, 0, Px(kFormWidth), Px(kFormHeight), SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
  for (int i = 0; i < 3; ++i) pictures_[i] = PictureBitmap(kPictureFiles[i]);
  MakeControls();
  ApplyDpi();
  SetMainWindow(this);
}

Win32Window::~Win32Window() {
  if (hwnd != nullptr) {
    StopTimer();
    quiet_ = true;
    DestroyUnhidden(hwnd);
  }
  SetMainWindow(nullptr);
  for (HBITMAP& picture : pictures_) {
    if (picture != nullptr) DeleteObject(picture);
  }
  DeleteFonts();
}

void Win32Window::MakeControls() {
  // The explanation: read-only, borderless, not reachable with Tab.
  explanation = NewChild(L"EDIT", "", ES_MULTILINE | ES_READONLY, 0);
  const DWORD label = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
  updateIdLabel = NewChild(L"STATIC", "", label, 0);
  statusLine = NewChild(L"STATIC", "", label, 0);
  percentLabel = NewChild(L"STATIC", "", label, 0);
  progressBar = NewChild(PROGRESS_CLASSW, "", PBS_SMOOTH, 0);
  SendMessageW(progressBar, PBM_SETRANGE32, 0, 100);
  SendMessageW(progressBar, PBM_SETPOS, 0, 0);
  cancelButton = NewChild(L"BUTTON", "Cancel", BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL);
  closeButton = NewChild(L"BUTTON", "", BS_OWNERDRAW, kCloseButtonId);
  // The caption has no control: the window draws it.
  labels_[static_cast<int>(WindowText::Explanation)] = explanation;
  labels_[static_cast<int>(WindowText::UpdateId)] = updateIdLabel;
  labels_[static_cast<int>(WindowText::StatusLine)] = statusLine;
  labels_[static_cast<int>(WindowText::Percent)] = percentLabel;
}

int Win32Window::Px(int at96) const { return MulDiv(at96, static_cast<int>(dpi_), kLayoutDpi); }

RECT Win32Window::Px(const RECT& at96) const {
  return RECT{Px(at96.left), Px(at96.top), Px(at96.right), Px(at96.bottom)};
}

void Win32Window::DeleteFonts() {
  for (HFONT* font : {&font_, &boldFont_, &statusFont_}) {
    if (*font != nullptr) DeleteObject(*font);
    *font = nullptr;
  }
}

// Fonts, controls and the window's size for the DPI in dpi_. The old fonts
// go only after every control uses the new ones.
void Win32Window::ApplyDpi() {
  HFONT oldFonts[] = {font_, boldFont_, statusFont_};
  font_ = LayoutFont(Px(kFontPx), FW_NORMAL);
  boldFont_ = LayoutFont(Px(kFontPx), FW_BOLD);
  statusFont_ = LayoutFont(Px(kStatusFontPx), FW_NORMAL);
  const int left = kControlsX + kLabelX;
  const int labelW = kControlsW - kLabelX - 10;
  Place(explanation, kControlsX + kMemoInset, kBodyY + kMemoInset, kControlsW - 2 * kMemoInset,
        kExplanationH - 2 * kMemoInset, boldFont_);
  Place(updateIdLabel, left, kBodyY + kUpdateIdY, labelW, 14, font_);
  Place(statusLine, left, kBodyY + kStatusY, labelW, 17, statusFont_);
  Place(percentLabel, left, kBodyY + kPercentY, 60, 14, font_);
  Place(progressBar, left, kBodyY + kBarY, kBarW, kBarH, font_);
  Place(cancelButton, kControlsX + kCancelX, kButtonsY + kCancelY, kCancelW, kCancelH, font_);
  Place(closeButton, kGlyphButtonX, kGlyphButtonY, kGlyphButtonSize, kGlyphButtonSize, font_);
  for (HFONT font : oldFonts) {
    if (font != nullptr) DeleteObject(font);
  }
  if (hwnd != nullptr) InvalidateRect(hwnd, nullptr, FALSE);
}

void Win32Window::Place(HWND control, int x, int y, int w, int h, HFONT font) {
  if (control == nullptr) return;
  MoveWindow(control, Px(x), Px(y), Px(w), Px(h), FALSE);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

// A control of the window; ApplyDpi gives it its place and font.
HWND Win32Window::NewChild(const wchar_t* cls, const std::string& text, DWORD style, int id) {
  return CreateWindowExW(0, cls, Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, hwnd,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

void Win32Window::ShowCentred() {
  if (hwnd == nullptr) return;
  // Centred; a window larger than the screen keeps its caption bar on it.
  const int x = std::max(0, (GetSystemMetrics(SM_CXSCREEN) - Px(kFormWidth)) / 2);
  const int y = std::max(0, (GetSystemMetrics(SM_CYSCREEN) - Px(kFormHeight)) / 2);
  SetWindowPos(hwnd, nullptr, x, y, Px(kFormWidth), Px(kFormHeight), SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(hwnd, SW_SHOW);
  SetForegroundWindow(hwnd);
  // The Cancel button is the first control reachable with Tab.
  SetFocus(cancelButton);
  UpdateWindow(hwnd);
}

LRESULT CALLBACK Win32Window::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    // The window object comes with the creation; hwnd is set before any
    // handler runs.
    auto* created = static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    created->hwnd = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
  }
  auto* window = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (window == nullptr) return DefWindowProcW(hwnd, msg, wParam, lParam);
  return window->Handle(msg, wParam, lParam);
}

LRESULT Win32Window::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_TIMER:
      if (wParam == kStartTimerId) events_.StartTimerFired();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT draws everything
    case WM_PAINT:
      PaintBuffered();
      return 0;
    case WM_DPICHANGED:
      HandleDpiChange(wParam, lParam);
      return 0;
    case WM_CTLCOLORSTATIC:
      return HandleColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_COMMAND:
      HandleCommand(wParam);
      return 0;
    case WM_DRAWITEM:
      if (wParam != kCloseButtonId) break;
      DrawCloseGlyph(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_KEYDOWN:
      if (wParam != VK_ESCAPE) break;
      PreTranslate(MSG{hwnd, msg, wParam, lParam, 0, {}});
      return 0;
    case WM_CLOSE:
      // Closing (Alt+F4, the task bar) asks the run to stop, as the close
      // glyph does; the run ends the program itself.
      events_.CancelPressed();
      return 0;
    case WM_DESTROY:
      // The closed window ends the message loop, and with it the program.
      if (!quiet_) PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      hwnd = nullptr;
      return 0;
    default:
      if (HandleMouse(msg, lParam)) return 0;
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// Presses on the caption bar start a drag; moves and releases go on with
// it; the lost capture ends it. False for any other message.
bool Win32Window::HandleMouse(UINT msg, LPARAM lParam) {
  switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN: {
      const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      const RECT caption = Px(kCaptionRect);
      if (PtInRect(&caption, at)) CaptionMouse(msg);
      return true;
    }
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
    case WM_XBUTTONUP:
      if (captured_) CaptionMouse(msg);
      return true;
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lParam) != hwnd && captured_) {
        captured_ = false;
        events_.CaptionDragLost();
      }
      return true;
    default:
      return false;
  }
}

void Win32Window::HandleCommand(WPARAM wParam) {
  if (HIWORD(wParam) != BN_CLICKED) return;
  if (LOWORD(wParam) == IDCANCEL && IsWindowEnabled(cancelButton)) events_.CancelPressed();
  if (LOWORD(wParam) == kCloseButtonId) events_.CancelPressed();
}

LRESULT Win32Window::HandleColour(HDC dc, HWND control) {
  if (control == explanation) {
    SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
    SetBkColor(dc, GetSysColor(COLOR_INFOBK));
    return reinterpret_cast<LRESULT>(infoBrush_);
  }
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(faceBrush_);
}

// Moved to a monitor of another scaling: the system suggests the window's
// new place and size.
void Win32Window::HandleDpiChange(WPARAM wParam, LPARAM lParam) {
  dpi_ = HIWORD(wParam);
  ApplyDpi();
  const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
  SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
               suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Drawn off screen first, so that a redraw does not flicker.
void Win32Window::PaintBuffered() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  HDC mem = CreateCompatibleDC(dc);
  HBITMAP buffer = CreateCompatibleBitmap(dc, client.right, client.bottom);
  HGDIOBJ old = SelectObject(mem, buffer);
  Paint(mem);
  BitBlt(dc, 0, 0, client.right, client.bottom, mem, 0, 0, SRCCOPY);
  SelectObject(mem, old);
  DeleteObject(buffer);
  DeleteDC(mem);
  EndPaint(hwnd, &ps);
}

void Win32Window::Paint(HDC dc) {
  const RECT all = Px(RECT{0, 0, kFormWidth, kFormHeight});
  Fill(dc, all, GetSysColor(COLOR_BTNFACE));
  FrameRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));

  // The caption bar: the caption in bold, left-aligned, clear of the close button.
  const RECT captionBar = Px(kCaptionRect);
  Fill(dc, captionBar, GetSysColor(COLOR_ACTIVECAPTION));
  RECT text = captionBar;
  text.left += Px(kCaptionTextX);
  text.right -= Px(kCaptionTextRightGap);
  HGDIOBJ oldFont = SelectObject(dc, boldFont_);
  SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
  SetBkMode(dc, TRANSPARENT);
  const std::wstring caption = Wide(caption_);
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, oldFont);

  // The picture strip: pure blue, the picture on show at its top-left corner.
  const RECT strip = Px(kStripRect);
  Fill(dc, strip, kPureBlue);
  if (HBITMAP picture = pictures_[PictureIndex(picture_)]) DrawPicture(dc, picture, strip);

  // The explanation's frame: white, raised inner bevel; the button strip: lowered.
  RECT explanation = Px(kExplanationRect);
  Fill(dc, explanation, RGB(255, 255, 255));
  DrawEdge(dc, &explanation, BDR_RAISEDINNER, BF_RECT);
  RECT buttons = Px(kButtonsRect);
  DrawEdge(dc, &buttons, BDR_SUNKENOUTER, BF_RECT);
}

// The part of the picture that fits the strip at 96 dpi, scaled to the
// window's DPI with the system's smoothing filter.
void Win32Window::DrawPicture(HDC dc, HBITMAP picture, const RECT& strip) {
  BITMAP size{};
  GetObjectW(picture, sizeof size, &size);
  const int w = std::min<int>(kPictureW, size.bmWidth);
  const int h = std::min<int>(kStripRect.bottom - kStripRect.top, size.bmHeight);
  HDC pictureDc = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(pictureDc, picture);
  if (dpi_ == kLayoutDpi) {
    BitBlt(dc, strip.left, strip.top, w, h, pictureDc, 0, 0, SRCCOPY);
  } else {
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, strip.left, strip.top, Px(w), Px(h), pictureDc, 0, 0, w, h, SRCCOPY);
  }
  SelectObject(pictureDc, old);
  DeleteDC(pictureDc);
}

void Win32Window::DrawCloseGlyph(const DRAWITEMSTRUCT& item) {
  const bool down = (item.itemState & ODS_SELECTED) != 0;
  RECT r = item.rcItem;
  Fill(item.hDC, r, GetSysColor(COLOR_BTNFACE));
  if (down) DrawEdge(item.hDC, &r, BDR_SUNKENOUTER, BF_RECT);
  // Each dot of the glyph becomes a block of the scaled size.
  const int x0 = (r.right - r.left - Px(kGlyphSize)) / 2 + (down ? Px(1) : 0);
  const int y0 = (r.bottom - r.top - Px(kGlyphSize)) / 2 + (down ? Px(1) : 0);
  const COLORREF ink = GetSysColor(COLOR_BTNTEXT);
  for (int row = 0; row < kGlyphSize; ++row) {
    for (int col = 0; col < kGlyphSize; ++col) {
      if (kCloseGlyph[row][col] != '#') continue;
      Fill(item.hDC, RECT{x0 + Px(col), y0 + Px(row), x0 + Px(col + 1), y0 + Px(row + 1)}, ink);
    }
  }
}

// Mouse on the caption bar, in caption bar coordinates taken from the
// screen position of the message (the window may have moved since it was
// queued: a press, a move and a release may all wait for the same pump).
void Win32Window::CaptionMouse(UINT msg) {
  const DWORD at = GetMessagePos();
  RECT window;
  GetWindowRect(hwnd, &window);
  const int x = GET_X_LPARAM(at) - window.left - Px(kSpace);
  const int y = GET_Y_LPARAM(at) - window.top - Px(kSpace);
  switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN:
      if (!events_.CaptionPressed(x, y)) return;
      captured_ = true;
      SetCapture(hwnd);
      return;
    case WM_MOUSEMOVE:
      events_.CaptionDragged(x, y);
      return;
    default:
      captured_ = false;
      events_.CaptionReleased(x, y);
      if (GetCapture() == hwnd) ReleaseCapture();
      return;
  }
}

void Win32Window::StartTimer(int ms) { SetTimer(hwnd, kStartTimerId, static_cast<UINT>(ms), nullptr); }

void Win32Window::StopTimer() {
  if (hwnd != nullptr) KillTimer(hwnd, kStartTimerId);
}

// The start timer fires inside this loop; the run's own pumping happens
// inside its handler. The closed window posts WM_QUIT.
void Win32Window::RunEventLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (PreTranslate(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void Win32Window::Close() {
  if (hwnd != nullptr) DestroyUnhidden(hwnd);
}

bool Win32Window::HandlePendingEvents() { return DispatchWaitingMessages(); }

bool Win32Window::PreTranslate(const MSG& msg) {
  if (hwnd == nullptr || (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN)) return false;
  if (msg.wParam != VK_ESCAPE || (msg.hwnd != hwnd && !IsChild(hwnd, msg.hwnd))) return false;
  // Escape presses the Cancel button while it is enabled.
  if (IsWindowEnabled(cancelButton)) events_.CancelPressed();
  return true;
}

void Win32Window::DisableCancelButton() {
  EnableWindow(cancelButton, FALSE);
  // The disabled button loses the focus; keys still go to the window.
  if (GetFocus() == nullptr || GetFocus() == cancelButton) SetFocus(hwnd);
}

void Win32Window::MoveBy(int dx, int dy) {
  RECT window;
  GetWindowRect(hwnd, &window);
  SetWindowPos(hwnd, nullptr, window.left + dx, window.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Window::ShowText(WindowText which, const std::string& text) {
  if (which == WindowText::Caption) {
    // The caption bar is drawn by the window itself.
    caption_ = text;
    const RECT captionBar = Px(kCaptionRect);
    if (hwnd != nullptr) InvalidateRect(hwnd, &captionBar, FALSE);
    return;
  }
  if (HWND label = LabelOf(which)) SetWindowTextW(label, Wide(text).c_str());
}

void Win32Window::ShowBar(int percent) {
  if (progressBar != nullptr) SendMessageW(progressBar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void Win32Window::ShowPicture(char letter) {
  picture_ = letter;
  const RECT strip = Px(kStripRect);
  if (hwnd != nullptr) InvalidateRect(hwnd, &strip, FALSE);
}

bool Win32Window::PictureLoaded(char letter) const { return pictures_[PictureIndex(letter)] != nullptr; }

std::unique_ptr<WindowToolkit> MakeToolkitWindow(const std::string& title, WindowEvents& events) {
  return std::make_unique<Win32Window>(title, events);
}
