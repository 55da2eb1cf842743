// Decoding of the embedded illustrations, and of data that is not a picture.
#include "ui/jpeg_picture.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ui/assets.h"

namespace {

std::vector<unsigned char> AssetBytes(const char* name) {
  const EmbeddedAsset a = FindAsset(name);
  return std::vector<unsigned char>(a.data, a.data + a.size);
}

// Whether the JPEG has a baseline frame header and no progressive one.
bool IsBaseline(const std::vector<unsigned char>& jpeg) {
  bool baseline = false;
  for (std::size_t i = 0; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] != 0xFF) continue;
    if (jpeg[i + 1] == 0xC0) baseline = true;
    if (jpeg[i + 1] == 0xC2) return false;
  }
  return baseline;
}

TEST(JpegPicture, EmbeddedIllustrationsAreBaselineAndDecodeTo130By402) {
  for (const char* name : {"start.jpg", "local.jpg", "download.jpg"}) {
    const auto bytes = AssetBytes(name);
    ASSERT_FALSE(bytes.empty()) << name;
    EXPECT_TRUE(IsBaseline(bytes)) << name;
    const RgbPicture p = DecodeJpeg(bytes.data(), bytes.size());
    EXPECT_EQ(p.width, 130) << name;
    EXPECT_EQ(p.height, 402) << name;
    EXPECT_EQ(p.rgb.size(), 130u * 402u * 3u) << name;
  }
}

TEST(JpegPicture, UnknownAssetIsEmpty) {
  const EmbeddedAsset a = FindAsset("missing.jpg");
  EXPECT_EQ(a.size, 0u);
  EXPECT_EQ(a.data, nullptr);
}

TEST(JpegPicture, DamagedDataGivesNoPicture) {
  const auto good = AssetBytes("download.jpg");
  ASSERT_GT(good.size(), 2000u);
  auto scrambled = good;
  for (std::size_t i = good.size() / 2; i < good.size() / 2 + 400; ++i) scrambled[i] = static_cast<unsigned char>(i * 37);
  const struct {
    const char* what;
    std::vector<unsigned char> bytes;
  } cases[] = {
      {"empty", {}},
      {"not a JPEG", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}},
      {"header only", std::vector<unsigned char>(good.begin(), good.begin() + 300)},
      {"cut in half", std::vector<unsigned char>(good.begin(), good.begin() + good.size() / 2)},
      {"scrambled middle", scrambled},
  };
  for (const auto& c : cases) {
    const RgbPicture p = DecodeJpeg(c.bytes.data(), c.bytes.size());
    EXPECT_TRUE(p.Empty()) << c.what;
    EXPECT_EQ(p.width, 0) << c.what;
  }
}

}  // namespace
