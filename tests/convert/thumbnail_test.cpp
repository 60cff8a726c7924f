// Thumbnails: made from the file's first key picture once, then read from the task folder.
#include "convert/thumbnail.h"

#include <gtest/gtest.h>

#include <fstream>

#include "convert/carrier_images.h"
#include "convert/decoder.h"
#include "sample/sample_image.h"

namespace norvale::convert {
namespace {

TEST(Thumbnail, IsMadeOnceAndReadFromTheTaskFolderAfterwards) {
  const auto image = sample::buildSampleImage().bytes;
  auto open = test::scanAndOpen(image, 18);
  ASSERT_TRUE(open->task);
  auto made = thumbnailFor(*open->task, 1);
  ASSERT_TRUE(made) << made.error().message;
  EXPECT_FALSE(made->fromCache);
  EXPECT_EQ(made->width, kThumbnailWidth);
  EXPECT_EQ(made->height, kThumbnailWidth * test::kClipHeight / test::kClipWidth);
  const auto path = thumbnailPath(*open->task, 1);
  EXPECT_EQ(path.filename(), "2.png");  // numbered as the listings number files
  ASSERT_TRUE(std::filesystem::exists(path));

  // The source's recordings gone: the second call cannot have decoded anything.
  test::reopen(*open, std::vector<std::uint8_t>(image.size(), 0));
  auto again = thumbnailFor(*open->task, 1);
  ASSERT_TRUE(again) << again.error().message;
  EXPECT_TRUE(again->fromCache);
  EXPECT_EQ(again->png, made->png);
  // Nor is a file without a thumbnail given one from the blank source.
  EXPECT_FALSE(thumbnailFor(*open->task, 0));
}

TEST(Thumbnail, ADamagedCacheFileIsMadeAgain) {
  auto open = test::scanAndOpen(sample::buildSampleImage().bytes, 18);
  ASSERT_TRUE(open->task);
  const auto path = thumbnailPath(*open->task, 0);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << "\x89PNG truncated";
  auto made = thumbnailFor(*open->task, 0);
  ASSERT_TRUE(made) << made.error().message;
  EXPECT_FALSE(made->fromCache);
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> stored{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(stored, made->png);
  EXPECT_TRUE(decodePng(stored));
}

}  // namespace
}  // namespace norvale::convert
