#pragma once
// The window drawn with FLTK: a borderless box with its own caption bar, the
// picture strip, the explanation, the status line, the percentage, the
// progress bar and the Cancel button. It shows what the window core
// (ui/window_core.h) tells it and hands the user's input to the core.

#include <memory>
#include <string>
#include <vector>

#include "ui/jpeg_picture.h"
#include "ui/window_core.h"

class Fl_Bitmap;
class Fl_Box;
class Fl_Button;
class Fl_Double_Window;
class Fl_Group;
class Fl_Progress;
class Fl_RGB_Image;

class FltkWindow : public WindowToolkit {
 public:
  FltkWindow(const std::string& title, WindowEvents& events);
  ~FltkWindow() override;
  FltkWindow(const FltkWindow&) = delete;
  FltkWindow& operator=(const FltkWindow&) = delete;

  bool Created() const override { return true; }
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

  // The widgets, owned by window.
  Fl_Double_Window* window = nullptr;
  Fl_Box* captionBar = nullptr;
  Fl_Button* closeButton = nullptr;
  Fl_Group* pictureStrip = nullptr;
  Fl_Box* pictures[3] = {};
  Fl_Box* explanation = nullptr;
  Fl_Box* updateIdLabel = nullptr;
  Fl_Box* statusLine = nullptr;
  Fl_Box* percentLabel = nullptr;
  Fl_Progress* progressBar = nullptr;
  Fl_Button* cancelButton = nullptr;
  // The widget that shows a text.
  Fl_Box* LabelOf(WindowText which) const { return labels_[static_cast<int>(which)]; }

 private:
  static void StartTimerCallback(void* toolkit);
  void MakePictureStrip();
  void MakeControls();
  void MakeCaptionBar();

  WindowEvents& events_;
  Fl_Box* labels_[kWindowTextCount] = {};
  // Pictures and glyph outlive the window that draws them.
  std::vector<RgbPicture> decoded_;
  std::vector<std::unique_ptr<Fl_RGB_Image>> images_;
  std::unique_ptr<Fl_Bitmap> closeGlyph_;
  std::unique_ptr<Fl_Double_Window> window_;
};
