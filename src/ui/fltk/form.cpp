#include "ui/fltk/form.h"

#include <cstdio>
#include <string>
#include <utility>

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

#include "app/run_context.h"
#include "ui/assets.h"
#include "ui/fltk/fltk_ui.h"

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

// The caption bar: shows the caption and hands mouse presses, drags and
// releases of any button to the form, in caption bar coordinates taken from
// the pointer's screen position (the window moves under the pointer).
class CaptionBar : public Fl_Box {
 public:
  CaptionBar(TForm1& form, int x, int y, int w, int h) : Fl_Box(x, y, w, h), form_(form) {}

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
        form_.Panel1MouseDown(cx, cy);
        return 1;
      case FL_DRAG:
        form_.Panel1MouseMove(cx, cy);
        return 1;
      case FL_RELEASE:
        form_.Panel1MouseUp(cx, cy);
        return 1;
      default:
        return Fl_Box::handle(event);
    }
  }

 private:
  TForm1& form_;
};

void OnCancelButton(Fl_Widget*, void* form) { static_cast<TForm1*>(form)->CancelButtonClick(); }
void OnSpeedButton1(Fl_Widget*, void* form) { static_cast<TForm1*>(form)->SpeedButton1Click(); }
// Escape and the window manager's close button must not close the window:
// Escape belongs to the Cancel button, and the run ends the program itself.
void OnFormClose(Fl_Widget*, void*) {}

}  // namespace

TForm1::TForm1(const std::string& title, std::function<void()> run)
    : title_(title), run_(std::move(run)) {
  FormCreate();
}

TForm1::~TForm1() {
  if (timerRunning_) Fl::remove_timeout(Timer1Callback, this);
  if (window_) window_->hide();
}

void TForm1::FormCreate() {
  UseLayoutFonts();
  Fl_Group* const outer = Fl_Group::current();
  Fl_Group::current(nullptr);

  window_ = std::make_unique<Fl_Double_Window>(kFormWidth, kFormHeight);
  Form = window_.get();
  Form->copy_label(title_.c_str());
  Form->xclass("tvqlupd");
  Form->border(0);
  // The 1-pixel border inside the borderless window.
  Form->box(FL_BORDER_BOX);
  Form->color(kFace);
  Form->callback(OnFormClose);

  Panel2 = new Fl_Group(kSpace, kSpace, kFormWidth - 2 * kSpace, kFormHeight - 2 * kSpace);
  Panel2->box(FL_NO_BOX);

  IllustrationPanel = new Fl_Group(kSpace, kBodyY, kIllustrationW, kBodyH);
  IllustrationPanel->box(FL_FLAT_BOX);
  IllustrationPanel->color(kPureBlue);
  IllustrationPanel->clip_children(1);
  Fl_Box** const boxes[3] = {&Image0, &Image1, &Image2};
  pictures_.resize(3);
  for (int i = 0; i < 3; ++i) {
    *boxes[i] = new FlushBox(kSpace, kBodyY, kPictureW, kPictureH);
    (*boxes[i])->box(FL_NO_BOX);
    (*boxes[i])->align(FL_ALIGN_INSIDE | FL_ALIGN_TOP_LEFT);
    const EmbeddedAsset asset = FindAsset(kPictureFiles[i]);
    pictures_[i] = DecodeJpeg(asset.data, asset.size);
    if (pictures_[i].Empty()) continue;  // the strip stays blue there
    images_.push_back(std::make_unique<Fl_RGB_Image>(pictures_[i].rgb.data(), pictures_[i].width,
                                                     pictures_[i].height, 3));
    (*boxes[i])->image(images_.back().get());
  }
  IllustrationPanel->end();

  ControlsPanel = new Fl_Group(kControlsX, kBodyY, kControlsW, kBodyH);
  ControlsPanel->box(FL_FLAT_BOX);
  ControlsPanel->color(kFace);

  ExplanationPanel = new Fl_Group(kControlsX, kBodyY, kControlsW, kExplanationH);
  ExplanationPanel->box(FL_THIN_UP_BOX);
  ExplanationPanel->color(FL_WHITE);
  InfoMemo = new Fl_Box(kControlsX + kMemoInset, kBodyY + kMemoInset, kControlsW - 2 * kMemoInset,
                        kExplanationH - 2 * kMemoInset);
  InfoMemo->box(FL_FLAT_BOX);
  InfoMemo->color(kTooltip);
  InfoMemo->labelfont(FL_HELVETICA_BOLD);
  InfoMemo->labelsize(kFontPx);
  InfoMemo->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP | FL_ALIGN_CLIP);
  ExplanationPanel->end();

  const int left = kControlsX + kLabelX;
  const int labelW = kControlsW - kLabelX - 10;
  UpdateIDLabel = NewLabel(left, kBodyY + kUpdateIdY, labelW, 14, kFontPx);
  doingLabel = NewLabel(left, kBodyY + kStatusY, labelW, 17, kStatusFontPx);
  Label1 = NewLabel(left, kBodyY + kPercentY, 60, 14, kFontPx);
  ProgressBar1 = new Fl_Progress(left, kBodyY + kBarY, kBarW, kBarH);
  ProgressBar1->box(FL_THIN_DOWN_BOX);
  ProgressBar1->color(kFace);
  ProgressBar1->selection_color(kHighlight);
  ProgressBar1->minimum(0);
  ProgressBar1->maximum(100);
  ProgressBar1->value(0);

  ButtonsPanel = new Fl_Group(kControlsX, kButtonsY, kControlsW, kButtonsH);
  ButtonsPanel->box(FL_THIN_DOWN_BOX);
  ButtonsPanel->color(kFace);
  CancelButton = new Fl_Button(kControlsX + kCancelX, kButtonsY + kCancelY, kCancelW, kCancelH, "Cancel");
  CancelButton->labelsize(kFontPx);
  CancelButton->color(kFace);
  CancelButton->shortcut(FL_Escape);
  CancelButton->callback(OnCancelButton, this);
  ButtonsPanel->end();
  ControlsPanel->end();

  // The caption bar and its close button come last so that they get the
  // mouse first.
  Panel1 = new CaptionBar(*this, kSpace, kSpace, kFormWidth - 2 * kSpace, kCaptionH);
  Panel1->box(FL_FLAT_BOX);
  Panel1->color(kActiveCaption);
  Panel1->labelcolor(FL_WHITE);
  Panel1->labelfont(FL_HELVETICA_BOLD);
  Panel1->labelsize(kFontPx);
  Panel1->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  closeGlyph_ = std::make_unique<Fl_Bitmap>(CloseGlyphBits(), kGlyphSize, kGlyphSize);
  SpeedButton1 = new Fl_Button(kGlyphButtonX, kGlyphButtonY, kGlyphButtonSize, kGlyphButtonSize);
  SpeedButton1->box(FL_FLAT_BOX);
  SpeedButton1->down_box(FL_THIN_DOWN_BOX);
  SpeedButton1->color(kFace);
  SpeedButton1->down_color(kFace);
  SpeedButton1->labelcolor(FL_BLACK);
  SpeedButton1->image(closeGlyph_.get());
  SpeedButton1->visible_focus(0);
  SpeedButton1->callback(OnSpeedButton1, this);

  Panel2->end();
  Form->end();
  Fl_Group::current(outer);

  // CancelRequested is false here: the flag starts false and the window is
  // created once per program start.
  SetCaption(kCaptionText);
  SetStatusText(InitialStatusText());
  SetLabel(InfoMemo, ExplanationText());

  Fl::add_timeout(kTimer1IntervalMs / 1000.0, Timer1Callback, this);
  timerRunning_ = true;
}

void TForm1::FormShow() {
  for (Fl_Box* image : {Image0, Image1, Image2}) image->position(IllustrationPanel->x(), IllustrationPanel->y());
  SetIllustration('0');
}

void TForm1::Show() {
  FormShow();
  int sx, sy, sw, sh;
  Fl::screen_xywh(sx, sy, sw, sh, 0);
  Form->position(sx + (sw - Form->w()) / 2, sy + (sh - Form->h()) / 2);
  Form->show();
}

void TForm1::Timer1Callback(void* form) { static_cast<TForm1*>(form)->Timer1Timer(); }

void TForm1::Timer1Timer() {
  Fl::remove_timeout(Timer1Callback, this);
  timerRunning_ = false;
  // The run reports its own failures; nothing may unwind through FLTK.
  try {
    if (run_) run_();
  } catch (...) {
    std::fputs("tvqlupd: the update run ended by an unexpected error\n", stderr);
  }
  Form->hide();
}

void TForm1::CancelButtonClick() {
  RequestCancel();
  CancelButton->deactivate();
}

void TForm1::SpeedButton1Click() { CancelButtonClick(); }

void TForm1::Panel1MouseDown(int x, int y) {
  dragX_ = x;
  dragY_ = y;
  dragging_ = true;
}

void TForm1::Panel1MouseMove(int x, int y) {
  if (!dragging_) return;
  Form->position(Form->x() + x - dragX_, Form->y() + y - dragY_);
}

void TForm1::Panel1MouseUp(int x, int y) {
  // The toolkit may hand over motion gathered between two pumps only after
  // the release; the release position finishes the move, so a fast drag
  // still moves the window.
  Panel1MouseMove(x, y);
  dragging_ = false;
}

void TForm1::SetLabel(Fl_Box* box, const std::string& text) {
  const std::string label = FltkLabelText(text);
  if (box->label() != nullptr && label == box->label()) return;
  box->copy_label(label.c_str());
  box->redraw();
  NoteVisibleChange();
}

void TForm1::SetStatusText(const std::string& text) { SetLabel(doingLabel, text); }

void TForm1::SetPercent(int percent) {
  SetLabel(Label1, std::to_string(percent) + "%");
  if (static_cast<int>(ProgressBar1->value()) != percent) {
    ProgressBar1->value(static_cast<float>(percent));
    NoteVisibleChange();
  }
}

Fl_Box* TForm1::ImageOf(char which) const {
  switch (which) {
    case 'C':
      return Image1;
    case 'D':
      return Image2;
    default:
      return Image0;
  }
}

void TForm1::SetIllustration(char which) {
  which = IllustrationLetter(which);
  // All three go below the window's bottom, the chosen one to the top.
  for (Fl_Box* image : {Image0, Image1, Image2}) {
    image->position(IllustrationPanel->x(), IllustrationPanel->y() + Form->h());
    image->hide();
  }
  Fl_Box* const chosen = ImageOf(which);
  chosen->position(IllustrationPanel->x(), IllustrationPanel->y());
  chosen->show();
  IllustrationPanel->redraw();
  illustration_ = which;
  NoteVisibleChange();
}

bool TForm1::IllustrationLoaded(char which) const { return ImageOf(which)->image() != nullptr; }

void TForm1::SetCaption(const std::string& caption) { SetLabel(Panel1, caption); }

void TForm1::SetUpdateIdText(const std::string& text) { SetLabel(UpdateIDLabel, text); }

void TForm1::Pump() { PumpFltkEvents(); }
