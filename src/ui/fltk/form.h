#pragma once
// The main window TForm1: a borderless box with its own caption bar, an
// illustration strip, the explanation, the status line, the percentage, the
// progress bar and the Cancel button. It draws what the display operations
// (app/display.h) tell it, starts the run 2000 ms after it was created and
// closes when the run returns.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/display.h"
#include "ui/form_layout.h"
#include "ui/jpeg_picture.h"

class Fl_Box;
class Fl_Button;
class Fl_Double_Window;
class Fl_Group;
class Fl_Progress;
class Fl_RGB_Image;
class Fl_Bitmap;

class TForm1 : public DisplaySurface {
 public:
  // Builds the window (FormCreate) and starts Timer1. title is the X window
  // title; run is called by Timer1Timer.
  TForm1(const std::string& title, std::function<void()> run);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // FormShow, then shows the window centred on the first screen.
  void Show();

  void SetStatusText(const std::string& text) override;
  void SetPercent(int percent) override;
  void SetIllustration(char which) override;
  void SetCaption(const std::string& caption) override;
  void SetUpdateIdText(const std::string& text) override;
  // Handles pending events: at once after a visible change, otherwise at
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
  void Panel1MouseUp(int x, int y);  // where the button was released

  // The letter of the picture on show: '0', 'C' or 'D'.
  char VisibleIllustration() const { return illustration_; }
  // Whether the picture of that letter could be decoded (else the strip
  // stays blue where it would be).
  bool IllustrationLoaded(char which) const;

  // The elements, owned by Form.
  Fl_Double_Window* Form = nullptr;
  Fl_Group* Panel2 = nullptr;
  Fl_Box* Panel1 = nullptr;
  Fl_Button* SpeedButton1 = nullptr;
  Fl_Group* IllustrationPanel = nullptr;
  Fl_Box* Image0 = nullptr;
  Fl_Box* Image1 = nullptr;
  Fl_Box* Image2 = nullptr;
  Fl_Group* ControlsPanel = nullptr;
  Fl_Group* ExplanationPanel = nullptr;
  Fl_Box* InfoMemo = nullptr;
  Fl_Box* UpdateIDLabel = nullptr;
  Fl_Box* doingLabel = nullptr;
  Fl_Box* Label1 = nullptr;
  Fl_Progress* ProgressBar1 = nullptr;
  Fl_Group* ButtonsPanel = nullptr;
  Fl_Button* CancelButton = nullptr;

 private:
  static void Timer1Callback(void* form);
  void SetLabel(Fl_Box* box, const std::string& text);
  Fl_Box* ImageOf(char which) const;

  std::string title_;
  std::function<void()> run_;
  // Pictures and glyph outlive the window that draws them.
  std::vector<RgbPicture> pictures_;
  std::vector<std::unique_ptr<Fl_RGB_Image>> images_;
  std::unique_ptr<Fl_Bitmap> closeGlyph_;
  std::unique_ptr<Fl_Double_Window> window_;
  bool timerRunning_ = false;
  bool dragging_ = false;
  int dragX_ = 0;
  int dragY_ = 0;
  char illustration_ = '0';
};
