// The FLTK user interface under a private Xvfb: message boxes, the keyboard
// state and event handling, without the main window.
#include "ui/fltk/fltk_ui.h"

#include <string>
#include <vector>

// GoogleTest before the X11 headers, whose macros (None, Bool) clash with it.
#include <gtest/gtest.h>
#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>

#include "support/ui_hooks.h"
#include "ui/window_start.h"
#include "x_server.h"

namespace {

using Labels = std::vector<std::string>;

class FltkUi : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!xtest::XServer::Instance().Running()) GTEST_SKIP() << "Xvfb is not available";
    if (!xtest::HaveProgram("xdotool")) GTEST_SKIP() << "xdotool is not available";
    ASSERT_TRUE(TryOpenDisplay());
  }
  FltkUserInterface& ui = TheFltkUserInterface();
};

TEST_F(FltkUi, InfoBoxHasNoIconAndAnEmptyCaption) {
  const auto box = xtest::DriveBox(
      [&] { return ui.MessageBox("cannot create work directory (/tmp/x)", "", kMbSetForeground | kMbTopmost); },
      [](Fl_Window& shown) { xtest::KeysTo(fl_xid(&shown), "Return"); });
  EXPECT_FALSE(box.timedOut);
  EXPECT_EQ(box.answer, kIdOk);
  EXPECT_EQ(box.title, "");
  EXPECT_EQ(box.labels, (Labels{"cannot create work directory (/tmp/x)", "OK"}));
}

TEST_F(FltkUi, QuestionAnswersYesOnReturnAndNoOnItsButton) {
  const std::string question = "Keep the previous settings?";
  const unsigned flags = kMbYesNo | kMbIconQuestion;
  const auto yes = xtest::DriveBox([&] { return ui.MessageBox(question, "Zadovez", flags); },
                                   [](Fl_Window& shown) { xtest::KeysTo(fl_xid(&shown), "Return"); });
  EXPECT_FALSE(yes.timedOut);
  EXPECT_EQ(yes.answer, kIdYes);
  EXPECT_EQ(yes.title, "Zadovez");
  EXPECT_EQ(yes.labels, (Labels{"?", question, "Yes", "No"}));

  const auto no = xtest::DriveBox([&] { return ui.MessageBox(question, "Zadovez", flags); },
                                  [](Fl_Window& shown) {
                                    Fl_Widget* button = shown.child(shown.children() - 1);
                                    xtest::Run("xdotool mousemove " +
                                               std::to_string(shown.x() + button->x() + 10) + " " +
                                               std::to_string(shown.y() + button->y() + 10) + " click 1");
                                  });
  EXPECT_FALSE(no.timedOut);
  EXPECT_EQ(no.answer, kIdNo);
}

TEST_F(FltkUi, EscapeClosesAnOkBoxButNotAQuestion) {
  const auto ok = xtest::DriveBox([&] { return ui.MessageBox("text", "Error", kMbIconExclamation); },
                                  [](Fl_Window& shown) { xtest::KeysTo(fl_xid(&shown), "Escape"); });
  EXPECT_FALSE(ok.timedOut);
  EXPECT_EQ(ok.answer, kIdOk);

  // The question has no cancel answer: Escape leaves it open, Return answers.
  bool openAfterEscape = false;
  const auto question = xtest::DriveBox(
      [&] { return ui.MessageBox("Keep?", "", kMbYesNo | kMbIconQuestion); },
      [&](Fl_Window& shown) {
        xtest::KeysTo(fl_xid(&shown), "Escape");
        xtest::Settle();
        openAfterEscape = shown.shown();
        xtest::KeysTo(fl_xid(&shown), "Return");
      });
  EXPECT_FALSE(question.timedOut);
  EXPECT_TRUE(openAfterEscape);
  EXPECT_EQ(question.answer, kIdYes);
}

TEST_F(FltkUi, BoxTextShowsLineBreaksAndAtSignsAsWritten) {
  const auto box = xtest::DriveBox(
      [&] { return ui.MessageBox("first line\rsecond\r\nthird @C0 mail@example", "", kMbOk); },
      [](Fl_Window& shown) { xtest::KeysTo(fl_xid(&shown), "Return"); });
  // FLTK reads "@@" as one '@'; a lone '@' would start a symbol.
  ASSERT_EQ(box.labels.size(), 2u);
  EXPECT_EQ(box.labels[0], "first line\nsecond\nthird @@C0 mail@@example");
}

TEST_F(FltkUi, KeyDownFollowsTheKeysHeldNow) {
  const struct {
    const char* command;
    bool ctrl, shift;
  } steps[] = {
      {"keydown Control_L", true, false}, {"keydown Shift_R", true, true},
      {"keyup Control_L", false, true},   {"keyup Shift_R", false, false},
      {"keydown Control_R", true, false}, {"keyup Control_R", false, false},
  };
  for (const auto& s : steps) {
    xtest::Run(std::string("xdotool ") + s.command);
    // No event is handled in between: the state comes from the server.
    EXPECT_EQ(ui.KeyDown(kVkControl), s.ctrl) << s.command;
    EXPECT_EQ(ui.KeyDown(kVkShift), s.shift) << s.command;
    EXPECT_FALSE(ui.KeyDown('A')) << s.command;
  }
}

TEST_F(FltkUi, PumpMessagesForAWhileRunsDueTimers) {
  bool fired = false;
  Fl::add_timeout(0.05, [](void* flag) { *static_cast<bool*>(flag) = true; }, &fired);
  ui.PumpMessages(300);
  EXPECT_TRUE(fired);
}

}  // namespace
