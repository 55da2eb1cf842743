#pragma once
// The main window's layout values (pixels at 96 dpi, window coordinates) and
// the texts it shows at creation: one set for every toolkit that draws it.

#include <string>

inline constexpr const char* kApplicationTitle = "Zadovez";

inline constexpr int kFormWidth = 546;
inline constexpr int kFormHeight = 296;
// From the window's creation to the start of the run.
inline constexpr int kStartDelayMs = 2000;

namespace layout {

// The spaced bevel inside the border, the caption bar and the two columns below it.
inline constexpr int kSpace = 2;
inline constexpr int kCaptionH = 18;
inline constexpr int kBodyY = kSpace + kCaptionH;
inline constexpr int kBodyH = kFormHeight - kBodyY - kSpace;
inline constexpr int kIllustrationW = 134;
inline constexpr int kControlsX = kSpace + kIllustrationW;
inline constexpr int kControlsW = 408;
inline constexpr int kPictureW = 130;
inline constexpr int kPictureH = 402;
inline constexpr int kExplanationH = 43;
inline constexpr int kMemoInset = 3;
inline constexpr int kButtonsH = 51;
inline constexpr int kButtonsY = kBodyY + kBodyH - kButtonsH;

// Elements of the controls column, in its coordinates.
inline constexpr int kLabelX = 11;
inline constexpr int kUpdateIdY = 50;
inline constexpr int kStatusY = 66;
inline constexpr int kPercentY = 94;
inline constexpr int kBarY = 110;
inline constexpr int kBarW = 387;
inline constexpr int kBarH = 17;
// In the button strip's coordinates.
inline constexpr int kCancelX = 166;
inline constexpr int kCancelY = 13;
inline constexpr int kCancelW = 75;
inline constexpr int kCancelH = 28;

// The close button at the right end of the caption bar (window coordinates).
inline constexpr int kGlyphButtonSize = 16;
inline constexpr int kGlyphButtonX = kFormWidth - kSpace - 1 - kGlyphButtonSize;
inline constexpr int kGlyphButtonY = kSpace + 1;
// The caption text's left margin; it stops short of the close button.
inline constexpr int kCaptionTextX = 3;
inline constexpr int kCaptionTextRightGap = 20;

// 8 points at 96 dpi; the status line is 10 points.
inline constexpr int kFontPx = 11;
inline constexpr int kStatusFontPx = 13;

// The 11 x 11 close glyph of the caption bar.
inline constexpr int kGlyphSize = 11;
inline constexpr const char* kCloseGlyph[kGlyphSize] = {
    "           ", "           ", " ##     ## ", "  ##   ##  ", "   ## ##   ", "    ###    ",
    "   ## ##   ", "  ##   ##  ", " ##     ## ", "           ", "           "};

// The embedded pictures of '0', 'C' and 'D'.
inline constexpr const char* kPictureFiles[3] = {"start.jpg", "local.jpg", "download.jpg"};

}  // namespace layout

// The status line at creation: "initializing..." in the user's language.
std::string InitialStatusText();
// The explanation's text: what the program does, then "Please wait...".
std::string ExplanationText();
// '0', 'C' or 'D': the picture ShowIllustration shows for a letter.
char IllustrationLetter(char letter);
// Where that letter's picture is in kPictureFiles.
int PictureIndex(char letter);
