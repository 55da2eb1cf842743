#include "ui/fltk/fltk_window.h"

#include <string>

#include <FL/Enumerations.H>
#include <FL/Fl.H>
#include <FL/Fl_Bitmap.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Image.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_RGB_Image.H>

#include "ui/assets.h"
#include "ui/fltk/fltk_ui.h"
#include "ui/form_layout.h"

namespace {

// Colours of the classic desktop the layout was drawn for.
const Fl_Color kFace = fl_rgb_color(212, 208, 200);
const Fl_Color kActiveCaption = fl_rgb_color(10, 36, 106);
const Fl_Color kTooltip = fl_rgb_color(255, 255, 225);
const Fl_Color kHighlight = fl_rgb_color(0, 0, 128);
const Fl_Color kPureBlue = fl_rgb_color(0, 0, 255);

using namespace layout;

const unsigned char* CloseGlyphBits() {
  // X bitmap rows: two bytes each, least significant bit leftmost.
  static unsigned char bits[kGlyphSize * 2] = {};
  static bool made = false;
  if (!made) {
    for (int row = 0; row < kGlyphSize; ++row) {
      for (int col = 0; col < kGlyphSize; ++col) {
        if (kCloseGlyph[row][col] == '#') bits[row * 2 + col / 8] |= 1u << (col % 8);
      }
    }
    made = true;
  }
  return bits;
}

void UseLayoutFonts() {
  // The layout's narrow sans-serif; FLTK's default maps to a wider face.
  static bool done = false;
  if (done) return;
  Fl::set_font(FL_HELVETICA, " Liberation Sans");
  Fl::set_font(FL_HELVETICA_BOLD, "BLiberation Sans");
  done = true;
}

// A box whose label or image starts at its very left edge (FLTK's boxes
// indent left-aligned labels by 3 pixels).
class FlushBox : public Fl_Box {
 public:
  FlushBox(int x, int y, int w, int h) : Fl_Box(x, y, w, h) {}
  void draw() override {
    draw_box();
    if (image() != nullptr) {
      image()->draw(x(), y());
    } else {
      draw_label(x(), y(), w(), h());
    }
  }
};

Fl_Box* NewLabel(int x, int y, int w, int h, int size) {
  Fl_Box* label = new FlushBox(x, y, w, h);
  // A flat box of the panel's colour: a changed label redraws only itself.
  label->box(FL_FLAT_BOX);
  label->color(kFace);
  label->labelsize(size);
  label->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  return label;
}

// The caption bar: shows the caption and hands presses, drags and releases
// of any mouse button to the window core, in caption bar coordinates taken
// from the pointer's screen position (the window moves under the pointer).
class CaptionBar : public Fl_Box {
 public:
  CaptionBar(WindowEvents& events, int x, int y, int w, int h) : Fl_Box(x, y, w, h), events_(events) {}

  void draw() override {
    draw_box();
    // A small left margin; the text stops short of the close button.
    draw_label(x() + kCaptionTextX, y(), w() - kCaptionTextX - kCaptionTextRightGap, h());
  }

  int handle(int event) override {
    const int cx = Fl::event_x_root() - window()->x() - x();
    const int cy = Fl::event_y_root() - window()->y() - y();
    switch (event) {
      case FL_PUSH:
        events_.CaptionPressed(cx, cy);
        return 1;
      case FL_DRAG:
        events_.CaptionDragged(cx, cy);
        return 1;
      case FL_RELEASE:
        events_.CaptionReleased(cx, cy);
        return 1;
      default:
        return Fl_Box::handle(event);
    }
  }

 private:
  WindowEvents& events_;
};

// The Cancel button, the close glyph, Escape once the button is disabled
// and the window manager's close all ask the core to cancel; the window
// closes only when the run ends.
void OnCancel(Fl_Widget*, void* events) { static_cast<WindowEvents*>(events)->CancelPressed(); }

}  // namespace

FltkWindow::FltkWindow(const std::string& title, WindowEvents& events) : events_(events) {
  UseLayoutFonts();
  Fl_Group* const outer = Fl_Group::current();
  Fl_Group::current(nullptr);
  window_ = std::make_unique<Fl_Double_Window>(kFormWidth, kFormHeight);
  window = window_.get();
  window->copy_label(title.c_str());
  window->xclass("tvqlupd");
  window->border(0);
  // The 1-pixel border inside the borderless window.
  window->box(FL_BORDER_BOX);
  window->color(kFace);
  window->callback(OnCancel, &events_);
  Fl_Group* const inner = new Fl_Group(kSpace, kSpace, kFormWidth - 2 * kSpace, kFormHeight - 2 * kSpace);
  inner->box(FL_NO_BOX);
  MakePictureStrip();
  MakeControls();
  // The caption bar and its close button come last so that they get the
  // mouse first.
  MakeCaptionBar();
  inner->end();
  window->end();
  Fl_Group::current(outer);
  labels_[static_cast<int>(WindowText::Caption)] = captionBar;
  labels_[static_cast<int>(WindowText::Explanation)] = explanation;
  labels_[static_cast<int>(WindowText::UpdateId)] = updateIdLabel;
  labels_[static_cast<int>(WindowText::StatusLine)] = statusLine;
  labels_[static_cast<int>(WindowText::Percent)] = percentLabel;
}

FltkWindow::~FltkWindow() {
  StopTimer();
  if (window_) window_->hide();
}

void FltkWindow::MakePictureStrip() {
  pictureStrip = new Fl_Group(kSpace, kBodyY, kIllustrationW, kBodyH);
  pictureStrip->box(FL_FLAT_BOX);
  pictureStrip->color(kPureBlue);
  pictureStrip->clip_children(1);
  decoded_.resize(3);
  for (int i = 0; i < 3; ++i) {
    pictures[i] = new FlushBox(kSpace, kBodyY, kPictureW, kPictureH);
    pictures[i]->box(FL_NO_BOX);
    pictures[i]->align(FL_ALIGN_INSIDE | FL_ALIGN_TOP_LEFT);
    const EmbeddedAsset asset = FindAsset(kPictureFiles[i]);
    decoded_[i] = DecodeJpeg(asset.data, asset.size);
    if (decoded_[i].Empty()) continue;  // the strip stays blue there
    images_.push_back(std::make_unique<Fl_RGB_Image>(decoded_[i].rgb.data(), decoded_[i].width,
                                                     decoded_[i].height, 3));
    pictures[i]->image(images_.back().get());
  }
  pictureStrip->end();
}

void FltkWindow::MakeControls() {
  Fl_Group* const controls = new Fl_Group(kControlsX, kBodyY, kControlsW, kBodyH);
  controls->box(FL_FLAT_BOX);
  controls->color(kFace);
  Fl_Group* const frame = new Fl_Group(kControlsX, kBodyY, kControlsW, kExplanationH);
  frame->box(FL_THIN_UP_BOX);
  frame->color(FL_WHITE);
  explanation = new Fl_Box(kControlsX + kMemoInset, kBodyY + kMemoInset, kControlsW - 2 * kMemoInset,
                           kExplanationH - 2 * kMemoInset);
  explanation->box(FL_FLAT_BOX);
  explanation->color(kTooltip);
  explanation->labelfont(FL_HELVETICA_BOLD);
  explanation->labelsize(kFontPx);
  explanation->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP | FL_ALIGN_CLIP);
  frame->end();

  const int left = kControlsX + kLabelX;
  const int labelW = kControlsW - kLabelX - 10;
  updateIdLabel = NewLabel(left, kBodyY + kUpdateIdY, labelW, 14, kFontPx);
  statusLine = NewLabel(left, kBodyY + kStatusY, labelW, 17, kStatusFontPx);
  percentLabel = NewLabel(left, kBodyY + kPercentY, 60, 14, kFontPx);
  progressBar = new Fl_Progress(left, kBodyY + kBarY, kBarW, kBarH);
  progressBar->box(FL_THIN_DOWN_BOX);
  progressBar->color(kFace);
  progressBar->selection_color(kHighlight);
  progressBar->minimum(0);
  progressBar->maximum(100);
  progressBar->value(0);

  Fl_Group* const buttons = new Fl_Group(kControlsX, kButtonsY, kControlsW, kButtonsH);
  buttons->box(FL_THIN_DOWN_BOX);
  buttons->color(kFace);
  cancelButton = new Fl_Button(kControlsX + kCancelX, kButtonsY + kCancelY, kCancelW, kCancelH, "Cancel");
  cancelButton->labelsize(kFontPx);
  cancelButton->color(kFace);
  cancelButton->shortcut(FL_Escape);
  cancelButton->callback(OnCancel, &events_);
  buttons->end();
  controls->end();
}

void FltkWindow::MakeCaptionBar() {
  captionBar = new CaptionBar(events_, kSpace, kSpace, kFormWidth - 2 * kSpace, kCaptionH);
  captionBar->box(FL_FLAT_BOX);
  captionBar->color(kActiveCaption);
  captionBar->labelcolor(FL_WHITE);
  captionBar->labelfont(FL_HELVETICA_BOLD);
  captionBar->labelsize(kFontPx);
  captionBar->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  closeGlyph_ = std::make_unique<Fl_Bitmap>(CloseGlyphBits(), kGlyphSize, kGlyphSize);
  closeButton = new Fl_Button(kGlyphButtonX, kGlyphButtonY, kGlyphButtonSize, kGlyphButtonSize);
  closeButton->box(FL_FLAT_BOX);
  closeButton->down_box(FL_THIN_DOWN_BOX);
  closeButton->color(kFace);
  closeButton->down_color(kFace);
  closeButton->labelcolor(FL_BLACK);
  closeButton->image(closeGlyph_.get());
  closeButton->visible_focus(0);
  closeButton->callback(OnCancel, &events_);
}

void FltkWindow::ShowCentred() {
  int sx, sy, sw, sh;
  Fl::screen_xywh(sx, sy, sw, sh, 0);
  window->position(sx + (sw - window->w()) / 2, sy + (sh - window->h()) / 2);
  window->show();
}

void FltkWindow::StartTimerCallback(void* toolkit) {
  static_cast<FltkWindow*>(toolkit)->events_.StartTimerFired();
}

void FltkWindow::StartTimer(int ms) { Fl::add_timeout(ms / 1000.0, StartTimerCallback, this); }

void FltkWindow::StopTimer() { Fl::remove_timeout(StartTimerCallback, this); }

// Fl::run returns once no window is shown.
void FltkWindow::RunEventLoop() { Fl::run(); }

void FltkWindow::Close() { window->hide(); }

bool FltkWindow::HandlePendingEvents() { return HandleFltkEventsNow(); }

void FltkWindow::DisableCancelButton() { cancelButton->deactivate(); }

void FltkWindow::MoveBy(int dx, int dy) { window->position(window->x() + dx, window->y() + dy); }

void FltkWindow::ShowText(WindowText which, const std::string& text) {
  Fl_Box* const label = LabelOf(which);
  label->copy_label(FltkLabelText(text).c_str());
  label->redraw();
}

void FltkWindow::ShowBar(int percent) { progressBar->value(static_cast<float>(percent)); }

void FltkWindow::ShowPicture(char letter) {
  // All three go below the window's bottom, the chosen one to the top.
  for (Fl_Box* picture : pictures) {
    picture->position(pictureStrip->x(), pictureStrip->y() + window->h());
    picture->hide();
  }
  Fl_Box* const chosen = pictures[PictureIndex(letter)];
  chosen->position(pictureStrip->x(), pictureStrip->y());
  chosen->show();
  pictureStrip->redraw();
}

bool FltkWindow::PictureLoaded(char letter) const { return pictures[PictureIndex(letter)]->image() != nullptr; }

std::unique_ptr<WindowToolkit> MakeToolkitWindow(const std::string& title, WindowEvents& events) {
  return std::make_unique<FltkWindow>(title, events);
}
