#pragma once
// Baseline JPEG decoding to 8-bit RGB (libjpeg).

#include <cstddef>
#include <vector>

struct RgbPicture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;  // width * height * 3 bytes, rows top to bottom
  bool Empty() const { return rgb.empty(); }
};

// Decodes a JPEG held in memory. Returns an empty picture when the data is not
// a JPEG, is corrupt or truncated (libjpeg would otherwise fill the missing
// part with grey and call it a success).
RgbPicture DecodeJpeg(const unsigned char* data, std::size_t size);
