// The first decodable key frame as a picture.
#include <gtest/gtest.h>

#include "convert/carrier_images.h"
#include "convert/converter.h"
#include "sample/sample_image.h"

namespace norvale::convert {
namespace {

double variance(const RgbPicture& p) {
  double sum = 0, squares = 0;
  for (auto v : p.rgb) sum += v, squares += double(v) * v;
  const double n = static_cast<double>(p.rgb.size());
  return squares / n - (sum / n) * (sum / n);
}

TEST(Preview, TheSamplesFirstPictureHasTheClipsSizeAndIsNotBlank) {
  auto open = test::scanAndOpen(sample::buildSampleImage().bytes, 18);
  ASSERT_TRUE(open->task);
  auto summary = summariseFile(*open->task, 0, true);
  ASSERT_TRUE(summary);
  ASSERT_TRUE(summary->picture) << summary->pictureError;
  EXPECT_EQ(summary->codec, "h264");
  EXPECT_EQ(summary->frames, static_cast<std::uint64_t>(test::kClipFrames));
  EXPECT_EQ(summary->keyFrames, static_cast<std::uint64_t>(test::kClipKeyFrames));
  auto png = encodePng(*summary->picture);
  ASSERT_TRUE(png);
  ASSERT_GT(png->size(), 8u);
  EXPECT_EQ(std::string(png->begin() + 1, png->begin() + 4), "PNG");
  auto back = decodePng(*png);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->width, test::kClipWidth);
  EXPECT_EQ(back->height, test::kClipHeight);
  EXPECT_EQ(back->rgb, summary->picture->rgb);  // PNG keeps every pixel
  EXPECT_GT(variance(*back), 1000.0);           // the colour bars, not a flat picture
}

TEST(Preview, AFileWithoutAKeyFrameSaysSo) {
  // Only P frames of the clip: nothing can be decoded on its own.
  std::vector<std::uint8_t> bytes;
  const auto frames = test::clipFrames();
  for (int k = 1; k < 20; ++k) bytes.insert(bytes.end(), frames[k].bytes.begin(), frames[k].bytes.end());
  MemorySource source(bytes);
  StreamInput input;
  input.bytes = &source;
  input.brand = 18;
  auto summary = summariseStream(input, true);
  EXPECT_FALSE(summary.picture);
  EXPECT_EQ(summary.frames, 0u);
  EXPECT_FALSE(summary.pictureError.empty());
}

TEST(Preview, DecodingAPngRefusesGarbage) {
  EXPECT_FALSE(decodePng(std::vector<std::uint8_t>(100, 0x42)));
  EXPECT_FALSE(encodePng(RgbPicture{}));
}

}  // namespace
}  // namespace norvale::convert
