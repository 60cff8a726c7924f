// The benchmark's recorder images: each design's parser recovers what the image holds, so the
// corpus measures scans that find video rather than scans that reject everything.
#include <gtest/gtest.h>

#include <numeric>
#include <set>

#include "corpus/recorder_stream.h"
#include "support/index_table_images.h"
#include "task/task_context.h"

namespace norvale::test {
namespace {

std::vector<std::uint8_t> recorderImage(std::uint8_t brand, std::uint64_t size, int channels = 6) {
  corpus::StreamLayout layout;
  layout.channels = channels;
  layout.seed = brand;
  layout.recordingSeconds = 6;  // several recordings within a few megabytes
  layout.pauseSeconds = 120;
  corpus::MemoryImageWriter out;
  EXPECT_TRUE(corpus::writeRecorderImage(brand, layout, size, out));
  return std::move(out.bytes());
}

std::uint64_t recoveredBytes(const ScanOutcome& out) {
  return std::accumulate(out.files.begin(), out.files.end(), std::uint64_t{0},
                         [](std::uint64_t n, const FileEntry& f) { return n + f.size; });
}

TEST(RecorderCorpus, ImagesAreExactlyTheSizeAskedAndRepeatable) {
  for (std::uint8_t brand : corpus::distinctLayoutBrands()) {
    const auto a = recorderImage(brand, 3'000'001);
    const auto b = recorderImage(brand, 3'000'001);
    EXPECT_EQ(a.size(), 3'000'001u) << int(brand);
    EXPECT_EQ(a, b) << int(brand);
  }
  EXPECT_FALSE(corpus::hasRecorderLayout(0));
  corpus::MemoryImageWriter none;
  EXPECT_FALSE(corpus::writeRecorderImage(49, {}, 1000, none));
  EXPECT_TRUE(none.bytes().empty());
}

TEST(RecorderCorpus, EveryDesignsDeepScanRecoversMostOfItsImage) {
  TempDir dir;
  for (std::uint8_t brand : corpus::distinctLayoutBrands()) {
    // Brand 5's sections begin 128 KiB in and spend 2 MiB on their index area.
    const std::uint64_t size = brand == 5 ? 12u << 20 : 8u << 20;
    const auto image = recorderImage(brand, size);
    auto out = scanImage(dir, image, scanRequest(brand, kParseDeep));
    ASSERT_TRUE(out.ok) << int(brand) << " " << out.error;
    ASSERT_FALSE(out.files.empty()) << int(brand);
    const double share = static_cast<double>(recoveredBytes(out)) / static_cast<double>(image.size());
    const double expected = brand == 5 ? 0.7 : 0.85;
    EXPECT_GT(share, expected) << "brand " << int(brand);
    EXPECT_LE(share, 1.0) << "brand " << int(brand);
  }
}

TEST(RecorderCorpus, ChannelsOfTheImageAreTheChannelsFound) {
  TempDir dir;
  // Designs that name the channel in every packet or burst.
  for (std::uint8_t brand : {2, 4, 6, 8, 16, 17, 18}) {
    const auto image = recorderImage(brand, 6u << 20, 5);
    auto out = scanImage(dir, image, scanRequest(brand, kParseDeep));
    ASSERT_TRUE(out.ok) << out.error;
    std::set<unsigned> channels;
    for (const auto& f : out.files) channels.insert(f.channel);
    EXPECT_EQ(channels, (std::set<unsigned>{1, 2, 3, 4, 5})) << "brand " << int(brand);
  }
}

TEST(RecorderCorpus, DenseImageIsOneRecordPerPacket) {
  corpus::MemoryImageWriter out;
  corpus::writeDenseImage(300 * 4000, 300, 5, out);
  ASSERT_EQ(out.bytes().size(), 300u * 4000);
  TempDir dir;
  auto scanned = scanImage(dir, out.bytes(), scanRequest(18, kParseDeep));
  ASSERT_TRUE(scanned.ok);
  std::uint64_t records = 0;
  for (const auto& r : scanned.records) records += r.size();
  // The last packet has no follower; every other one is a record of its own.
  EXPECT_EQ(records, 3999u);
}

TEST(RecorderCorpus, RandomImageHoldsNoRecording) {
  corpus::MemoryImageWriter out;
  corpus::writeRandomImage(4u << 20, 7, out);
  ASSERT_EQ(out.bytes().size(), 4u << 20);
  TempDir dir;
  for (std::uint8_t brand : {1, 2, 3, 18}) {
    auto scanned = scanImage(dir, out.bytes(), scanRequest(brand, kParseDeep));
    ASSERT_TRUE(scanned.ok);
    EXPECT_TRUE(scanned.files.empty()) << int(brand);
  }
}

}  // namespace
}  // namespace norvale::test
