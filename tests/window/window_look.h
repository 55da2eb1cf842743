#pragma once
// What the window tests look for on screen: where the window should stand,
// the colours of its strip and bar, and which embedded picture a screenshot
// shows in the strip.

#include <string>

#include "ui/assets.h"
#include "ui/fltk/fltk_window.h"
#include "ui/form_layout.h"
#include "ui/jpeg_picture.h"
#include "x_server.h"

namespace xtest {

// The private Xvfb's screen and the window centred on it.
constexpr int kScreenW = 1024;
constexpr int kScreenH = 768;
constexpr int kLeft = (kScreenW - kFormWidth) / 2;
constexpr int kTop = (kScreenH - kFormHeight) / 2;
// Window coordinates of what the tests look at.
constexpr int kStripFreeX = 133;  // right of the 130-wide picture, inside the strip
constexpr int kPictureX = 2;
constexpr int kPictureY = 20;
constexpr int kBarY = 138;
constexpr Rgb kPureBlue{0, 0, 255};
constexpr Rgb kBarFill{0, 0, 128};
constexpr Rgb kFace{212, 208, 200};

inline bool Same(Rgb a, Rgb b) { return Distance(a, b) == 0; }

// The letter ('0', 'C', 'D') of the embedded picture that the screenshot
// shows in the strip of the window whose top-left corner is (left, top);
// '?' when it shows none of them.
inline char PictureShown(const Screenshot& shot, int left, int top) {
  if (!shot.Ok()) return '?';
  const struct {
    char letter;
    const char* file;
  } pictures[] = {{'0', "start.jpg"}, {'C', "local.jpg"}, {'D', "download.jpg"}};
  const int points[][2] = {{10, 10}, {65, 70}, {30, 120}, {65, 180}, {100, 240}, {120, 30}};
  char best = '?';
  int bestDistance = 1 << 30;
  for (const auto& p : pictures) {
    const EmbeddedAsset asset = FindAsset(p.file);
    const RgbPicture picture = DecodeJpeg(asset.data, asset.size);
    if (picture.Empty()) continue;
    int distance = 0;
    for (const auto& pt : points) {
      const std::size_t i = (static_cast<std::size_t>(pt[1]) * picture.width + pt[0]) * 3;
      const Rgb want{picture.rgb[i], picture.rgb[i + 1], picture.rgb[i + 2]};
      distance += Distance(shot.At(left + kPictureX + pt[0], top + kPictureY + pt[1]), want);
    }
    if (distance < bestDistance) {
      bestDistance = distance;
      best = p.letter;
    }
  }
  // The screen shows the decoded pixels unchanged on a 24-bit display.
  return bestDistance <= 6 * 3 ? best : '?';
}

// Cuts the window (546 x 296 at left, top) out of a screenshot into file.
inline bool CropWindow(const Screenshot& shot, int left, int top, const std::string& file) {
  return Run("/usr/bin/convert '" + shot.Path() + "' -crop " + std::to_string(kFormWidth) + "x" +
             std::to_string(kFormHeight) + "+" + std::to_string(left) + "+" + std::to_string(top) +
             " +repage '" + file + "'") == 0;
}

}  // namespace xtest
