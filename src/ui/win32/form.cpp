#include "ui/win32/form.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "app/run_context.h"
#include "platform/win32/wide.h"
#include "ui/assets.h"
#include "ui/jpeg_picture.h"
#include "ui/win32/win32_ui.h"

using namespace layout;
using os::win32::Wide;

namespace {

constexpr const wchar_t* kFormClass = L"TForm1";
constexpr UINT_PTR kTimer1Id = 1;
constexpr int kSpeedButton1Id = 100;
const COLORREF kPureBlue = RGB(0, 0, 255);
// The DPI the layout's values are given for.
constexpr UINT kLayoutDpi = 96;

constexpr RECT kCaptionRect{kSpace, kSpace, kFormWidth - kSpace, kSpace + kCaptionH};
constexpr RECT kStripRect{kSpace, kBodyY, kSpace + kIllustrationW, kBodyY + kBodyH};
constexpr RECT kExplanationRect{kControlsX, kBodyY, kControlsX + kControlsW, kBodyY + kExplanationH};
constexpr RECT kButtonsRect{kControlsX, kButtonsY, kControlsX + kControlsW, kButtonsY + kButtonsH};

int PictureIndex(char which) { return which == 'C' ? 1 : which == 'D' ? 2 : 0; }

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

void RegisterFormClass(WNDPROC proc) {
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
  cls.lpszClassName = kFormClass;
  registered = RegisterClassExW(&cls) != 0;
}

}  // namespace

TForm1::TForm1(const std::string& title, std::function<void()> run)
    : title_(title), run_(std::move(run)) {
  FormCreate();
}

TForm1::~TForm1() {
  if (Form != nullptr) {
    if (timerRunning_) KillTimer(Form, kTimer1Id);
    quiet_ = true;
    DestroyWindow(Form);
  }
  for (HBITMAP& picture : pictures_) {
    if (picture != nullptr) DeleteObject(picture);
  }
  DeleteFonts();
}

int TForm1::Px(int at96) const { return MulDiv(at96, static_cast<int>(dpi_), kLayoutDpi); }

RECT TForm1::Px(const RECT& at96) const {
  return RECT{Px(at96.left), Px(at96.top), Px(at96.right), Px(at96.bottom)};
}

void TForm1::DeleteFonts() {
  for (HFONT* font : {&font_, &boldFont_, &statusFont_}) {
    if (*font != nullptr) DeleteObject(*font);
    *font = nullptr;
  }
}

// Fonts, controls and the window's size for the DPI in dpi_. The old fonts
// go only after every control uses the new ones.
void TForm1::ApplyDpi() {
  HFONT oldFonts[] = {font_, boldFont_, statusFont_};
  font_ = LayoutFont(Px(kFontPx), FW_NORMAL);
  boldFont_ = LayoutFont(Px(kFontPx), FW_BOLD);
  statusFont_ = LayoutFont(Px(kStatusFontPx), FW_NORMAL);
  const int left = kControlsX + kLabelX;
  const int labelW = kControlsW - kLabelX - 10;
  Place(InfoMemo, kControlsX + kMemoInset, kBodyY + kMemoInset, kControlsW - 2 * kMemoInset,
        kExplanationH - 2 * kMemoInset, boldFont_);
  Place(UpdateIDLabel, left, kBodyY + kUpdateIdY, labelW, 14, font_);
  Place(doingLabel, left, kBodyY + kStatusY, labelW, 17, statusFont_);
  Place(Label1, left, kBodyY + kPercentY, 60, 14, font_);
  Place(ProgressBar1, left, kBodyY + kBarY, kBarW, kBarH, font_);
  Place(CancelButton, kControlsX + kCancelX, kButtonsY + kCancelY, kCancelW, kCancelH, font_);
  Place(SpeedButton1, kGlyphButtonX, kGlyphButtonY, kGlyphButtonSize, kGlyphButtonSize, font_);
  for (HFONT font : oldFonts) {
    if (font != nullptr) DeleteObject(font);
  }
  if (Form != nullptr) InvalidateRect(Form, nullptr, FALSE);
}

void TForm1::Place(HWND control, int x, int y, int w, int h, HFONT font) {
  if (control == nullptr) return;
  MoveWindow(control, Px(x), Px(y), Px(w), Px(h), FALSE);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

// A control of the window; ApplyDpi gives it its place and font.
HWND TForm1::NewChild(const wchar_t* cls, const std::string& text, DWORD style, int id) {
  return CreateWindowExW(0, cls, Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, Form,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

void TForm1::FormCreate() {
  RegisterFormClass(WindowProc);
  faceBrush_ = GetSysColorBrush(COLOR_BTNFACE);
  infoBrush_ = GetSysColorBrush(COLOR_INFOBK);

  // Borderless (the 1-pixel border is drawn inside), in the task bar.
  Form = CreateWindowExW(WS_EX_APPWINDOW, kFormClass, Wide(title_).c_str(), WS_POPUP | WS_CLIPCHILDREN, 0,
                         0, kFormWidth, kFormHeight, nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (Form == nullptr) return;
  // Laid out at 96 dpi and scaled to the DPI of the window's monitor.
  dpi_ = WindowDpi(Form);
  SetWindowPos(Form, nullptr, 0, 0, Px(kFormWidth), Px(kFormHeight), SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);

  for (int i = 0; i < 3; ++i) pictures_[i] = PictureBitmap(kPictureFiles[i]);

  // InfoMemo: read-only, borderless, not reachable with Tab.
  InfoMemo = NewChild(L"EDIT", "", ES_MULTILINE | ES_READONLY, 0);
  const DWORD label = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
  UpdateIDLabel = NewChild(L"STATIC", "", label, 0);
  doingLabel = NewChild(L"STATIC", "", label, 0);
  Label1 = NewChild(L"STATIC", "", label, 0);
  ProgressBar1 = NewChild(PROGRESS_CLASSW, "", PBS_SMOOTH, 0);
  SendMessageW(ProgressBar1, PBM_SETRANGE32, 0, 100);
  SendMessageW(ProgressBar1, PBM_SETPOS, 0, 0);
  CancelButton = NewChild(L"BUTTON", "Cancel", BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL);
  SpeedButton1 = NewChild(L"BUTTON", "", BS_OWNERDRAW, kSpeedButton1Id);
  ApplyDpi();

  // CancelRequested is false here: the flag starts false and the window is
  // created once per program start.
  SetCaption(kCaptionText);
  SetStatusText(InitialStatusText());
  SetLabel(InfoMemo, ExplanationText());

  timerRunning_ = SetTimer(Form, kTimer1Id, kTimer1IntervalMs, nullptr) != 0;
}

void TForm1::FormShow() { SetIllustration('0'); }

void TForm1::Show() {
  if (Form == nullptr) return;
  FormShow();
  // Centred; a window larger than the screen keeps its caption bar on it.
  const int x = std::max(0, (GetSystemMetrics(SM_CXSCREEN) - Px(kFormWidth)) / 2);
  const int y = std::max(0, (GetSystemMetrics(SM_CYSCREEN) - Px(kFormHeight)) / 2);
  SetWindowPos(Form, nullptr, x, y, Px(kFormWidth), Px(kFormHeight), SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(Form, SW_SHOW);
  SetForegroundWindow(Form);
  // The Cancel button is the first control reachable with Tab.
  SetFocus(CancelButton);
  UpdateWindow(Form);
}

LRESULT CALLBACK TForm1::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    // The form comes with the creation; Form is set before any handler runs.
    auto* created = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    created->Form = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
  }
  auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcW(hwnd, msg, wParam, lParam);
  return form->Handle(msg, wParam, lParam);
}

LRESULT TForm1::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_TIMER:
      if (wParam == kTimer1Id) Timer1Timer();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT draws everything
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(Form, &ps);
      // Drawn off screen first, so that a redraw does not flicker.
      RECT client;
      GetClientRect(Form, &client);
      HDC mem = CreateCompatibleDC(dc);
      HBITMAP buffer = CreateCompatibleBitmap(dc, client.right, client.bottom);
      HGDIOBJ old = SelectObject(mem, buffer);
      Paint(mem);
      BitBlt(dc, 0, 0, client.right, client.bottom, mem, 0, 0, SRCCOPY);
      SelectObject(mem, old);
      DeleteObject(buffer);
      DeleteDC(mem);
      EndPaint(Form, &ps);
      return 0;
    }
    case WM_DPICHANGED: {
      // Moved to a monitor of another scaling: the system suggests the
      // window's new place and size.
      dpi_ = HIWORD(wParam);
      ApplyDpi();
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(Form, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      if (reinterpret_cast<HWND>(lParam) == InfoMemo) {
        SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
        SetBkColor(dc, GetSysColor(COLOR_INFOBK));
        return reinterpret_cast<LRESULT>(infoBrush_);
      }
      SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(faceBrush_);
    }
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDCANCEL && IsWindowEnabled(CancelButton)) CancelButtonClick();
        if (LOWORD(wParam) == kSpeedButton1Id) SpeedButton1Click();
      }
      return 0;
    case WM_DRAWITEM:
      if (wParam == kSpeedButton1Id) {
        DrawCloseGlyph(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
      }
      break;
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) {
        MSG m{Form, msg, wParam, lParam, 0, {}};
        PreTranslate(m);
        return 0;
      }
      break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN: {
      const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      const RECT caption = Px(kCaptionRect);
      if (PtInRect(&caption, at)) CaptionMouse(msg);
      return 0;
    }
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
    case WM_XBUTTONUP:
      if (dragging_) CaptionMouse(msg);
      return 0;
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lParam) != Form) dragging_ = false;
      return 0;
    case WM_CLOSE:
      // Closing (Alt+F4, the task bar) asks the run to stop, as the close
      // glyph does; the run ends the program itself.
      SpeedButton1Click();
      return 0;
    case WM_DESTROY:
      // The closed window ends the message loop, and with it the program.
      if (!quiet_) PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(Form, GWLP_USERDATA, 0);
      Form = nullptr;
      return 0;
    default:
      break;
  }
  return DefWindowProcW(Form, msg, wParam, lParam);
}

void TForm1::Paint(HDC dc) {
  const RECT all = Px(RECT{0, 0, kFormWidth, kFormHeight});
  Fill(dc, all, GetSysColor(COLOR_BTNFACE));
  FrameRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));

  // Panel1: the caption in bold, left-aligned, clear of the close button.
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

  // IllustrationPanel: pure blue, the picture on show at its top-left corner.
  const RECT strip = Px(kStripRect);
  Fill(dc, strip, kPureBlue);
  if (HBITMAP picture = pictures_[PictureIndex(illustration_)]) DrawPicture(dc, picture, strip);

  // ExplanationPanel: white, raised inner bevel; ButtonsPanel: lowered.
  RECT explanation = Px(kExplanationRect);
  Fill(dc, explanation, RGB(255, 255, 255));
  DrawEdge(dc, &explanation, BDR_RAISEDINNER, BF_RECT);
  RECT buttons = Px(kButtonsRect);
  DrawEdge(dc, &buttons, BDR_SUNKENOUTER, BF_RECT);
}

// The part of the picture that fits the strip at 96 dpi, scaled to the
// window's DPI with the system's smoothing filter.
void TForm1::DrawPicture(HDC dc, HBITMAP picture, const RECT& strip) {
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

void TForm1::DrawCloseGlyph(const DRAWITEMSTRUCT& item) {
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
void TForm1::CaptionMouse(UINT msg) {
  const DWORD at = GetMessagePos();
  RECT window;
  GetWindowRect(Form, &window);
  const int x = GET_X_LPARAM(at) - window.left - Px(kSpace);
  const int y = GET_Y_LPARAM(at) - window.top - Px(kSpace);
  switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN:
      if (dragging_) return;
      Panel1MouseDown(x, y);
      SetCapture(Form);
      return;
    case WM_MOUSEMOVE:
      Panel1MouseMove(x, y);
      return;
    default:
      // The release ends the drag where the pointer was let go.
      Panel1MouseMove(x, y);
      Panel1MouseUp();
      if (GetCapture() == Form) ReleaseCapture();
      return;
  }
}

void TForm1::Timer1Timer() {
  KillTimer(Form, kTimer1Id);
  timerRunning_ = false;
  // The run reports its own failures; nothing may unwind through the
  // window procedure.
  try {
    if (run_) run_();
  } catch (...) {
    std::fputs("tvqlupd: the update run ended by an unexpected error\n", stderr);
  }
  if (Form != nullptr) DestroyWindow(Form);
}

bool TForm1::PreTranslate(const MSG& msg) {
  if (Form == nullptr || (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN)) return false;
  if (msg.wParam != VK_ESCAPE || (msg.hwnd != Form && !IsChild(Form, msg.hwnd))) return false;
  // Escape presses the Cancel button while it is enabled.
  if (IsWindowEnabled(CancelButton)) CancelButtonClick();
  return true;
}

void TForm1::CancelButtonClick() {
  RequestCancel();
  EnableWindow(CancelButton, FALSE);
  // The disabled button loses the focus; keys still go to the window.
  if (GetFocus() == nullptr || GetFocus() == CancelButton) SetFocus(Form);
  NoteVisibleChange();
}

void TForm1::SpeedButton1Click() { CancelButtonClick(); }

void TForm1::Panel1MouseDown(int x, int y) {
  dragX_ = x;
  dragY_ = y;
  dragging_ = true;
}

void TForm1::Panel1MouseMove(int x, int y) {
  if (!dragging_ || (x == dragX_ && y == dragY_)) return;
  RECT window;
  GetWindowRect(Form, &window);
  SetWindowPos(Form, nullptr, window.left + x - dragX_, window.top + y - dragY_, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm1::Panel1MouseUp() { dragging_ = false; }

void TForm1::SetLabel(HWND label, const std::string& text) {
  if (label == nullptr) return;
  const std::wstring wide = Wide(text);
  const int n = GetWindowTextLengthW(label);
  std::wstring current(static_cast<std::size_t>(n) + 1, L'\0');
  GetWindowTextW(label, current.data(), n + 1);
  current.resize(static_cast<std::size_t>(n));
  if (current == wide) return;
  SetWindowTextW(label, wide.c_str());
  NoteVisibleChange();
}

void TForm1::SetStatusText(const std::string& text) { SetLabel(doingLabel, text); }

void TForm1::SetPercent(int percent) {
  SetLabel(Label1, std::to_string(percent) + "%");
  if (ProgressBar1 != nullptr && SendMessageW(ProgressBar1, PBM_GETPOS, 0, 0) != percent) {
    SendMessageW(ProgressBar1, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    NoteVisibleChange();
  }
}

void TForm1::SetIllustration(char which) {
  illustration_ = IllustrationLetter(which);
  const RECT strip = Px(kStripRect);
  if (Form != nullptr) InvalidateRect(Form, &strip, FALSE);
  NoteVisibleChange();
}

bool TForm1::IllustrationLoaded(char which) const {
  return pictures_[PictureIndex(IllustrationLetter(which))] != nullptr;
}

void TForm1::SetCaption(const std::string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  const RECT captionBar = Px(kCaptionRect);
  if (Form != nullptr) InvalidateRect(Form, &captionBar, FALSE);
  NoteVisibleChange();
}

void TForm1::SetUpdateIdText(const std::string& text) { SetLabel(UpdateIDLabel, text); }

void TForm1::Pump() { PumpWin32Messages(); }
