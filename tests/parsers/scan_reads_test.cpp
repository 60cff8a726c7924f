// The one-thread scan reading ahead on a thread of its own finds what block-by-block reads find,
// with the same notifications, over unreadable sectors, ranges inside an image, packets across
// the read-ahead's slots, and sources read past the page cache.
#include <gtest/gtest.h>

#include "corpus/recorder_stream.h"
#include "parsers/brand_parser.h"
#include "support/index_table_images.h"
#include "support/test_support.h"
#include "task/scan_wording.h"
#include "task/task_context.h"

namespace norvale::test {
namespace {

std::vector<std::uint8_t> recordings(std::uint8_t brand, std::uint64_t size, std::uint32_t keyBytes = 60'000) {
  corpus::StreamLayout layout;
  layout.channels = 4;
  layout.recordingSeconds = 4;
  layout.pauseSeconds = 100;
  layout.seed = brand + 40;
  layout.keyMin = keyBytes / 2, layout.keyMax = keyBytes * 2;
  corpus::MemoryImageWriter out;
  corpus::writeRecorderImage(brand, layout, size, out);
  return std::move(out.bytes());
}

void expectSame(const ScanOutcome& a, const ScanOutcome& b, const std::string& what) {
  ASSERT_TRUE(a.ok && b.ok) << what;
  EXPECT_EQ(a.files, b.files) << what;
  EXPECT_EQ(a.records, b.records) << what;
  EXPECT_EQ(a.messages, b.messages) << what;
  EXPECT_EQ(a.endSector, b.endSector) << what;
  ASSERT_EQ(a.statuses.size(), b.statuses.size()) << what;
  for (std::size_t i = 0; i < a.statuses.size(); ++i) {
    EXPECT_EQ(a.statuses[i].code, b.statuses[i].code) << what << " " << i;
    EXPECT_EQ(a.statuses[i].value, b.statuses[i].value) << what << " " << i;
    EXPECT_EQ(a.statuses[i].currentSector, b.statuses[i].currentSector) << what << " " << i;
    EXPECT_EQ(a.statuses[i].foundCount, b.statuses[i].foundCount) << what << " " << i;
  }
}

TEST(ScanReads, ReadAheadFindsWhatBlockReadsFindWithTheSameNotifications) {
  TempDir dir;
  // Over 8 MiB so that the scan reads ahead, and packets of up to 3 MB that cross its slots.
  for (std::uint8_t brand : {1, 2, 18}) {
    for (std::uint32_t key : {60'000u, 1'500'000u}) {
      const auto image = recordings(brand, 21u << 20, key);
      ScanRequest blocks = scanRequest(brand, kParseDeep);
      blocks.scan.readAhead = false;
      ScanRequest ahead = scanRequest(brand, kParseDeep);
      const auto a = scanImage(dir, image, blocks);
      ASSERT_FALSE(a.files.empty()) << int(brand);
      expectSame(a, scanImage(dir, image, ahead), "brand " + std::to_string(brand) + " key " + std::to_string(key));
      // A range that starts inside a packet and ends short of the image.
      blocks.startSector = ahead.startSector = 3333;
      blocks.endSector = ahead.endSector = image.size() / 512 - 4444;
      expectSame(scanImage(dir, image, blocks), scanImage(dir, image, ahead), "range of brand " + std::to_string(brand));
    }
  }
}

TEST(ScanReads, UnreadableSectorsFailTheirBlocksAsWithBlockReads) {
  const auto bytes = recordings(18, 20u << 20);
  auto image = std::make_shared<SparseImage>(bytes.size());
  image->put(0, bytes);
  // In a block, at a read-ahead slot's start (8 MiB), in the look-ahead of the slot before it,
  // and in the last block.
  const std::set<std::uint64_t> bad = {3000, (8u << 20) / 512, (8u << 20) / 512 - 1, (20u << 20) / 512 - 9};
  TempDir dir;
  ScanRequest blocks = scanRequest(18, kParseDeep);
  blocks.scan.readAhead = false;
  const SourceScan a = scanSparse(dir, image, blocks, bad);
  // Three stretches: sector 3000's window, the two windows around 8 MiB, the last block's.
  EXPECT_EQ(std::count_if(a.outcome.messages.begin(), a.outcome.messages.end(),
                          [](const std::string& m) { return m.starts_with(kUnreadableBlockText); }),
            3)
      << ::testing::PrintToString(a.outcome.messages);
  const SourceScan b = scanSparse(dir, image, scanRequest(18, kParseDeep), bad);
  expectSame(a.outcome, b.outcome, "bad sectors");
}

TEST(ScanReads, DirectReadsScanAsCachedReads) {
  TempDir dir;
  const auto image = recordings(18, 10u << 20);
  ScanRequest cached = scanRequest(18, kParseDeep);
  ScanRequest direct = cached;
  direct.scan.directReads = true;
  expectSame(scanImage(dir, image, cached), scanImage(dir, image, direct), "direct");
}

TEST(ScanReads, ABlockThatEndsTheRangeHasZerosAfterWhatWasRead) {
  // A packet chain 4 KiB into the first block, and the same chain 4 KiB into the second, past
  // the end of the range (which ends 2 KiB into the second block). The last block reads 2 KiB:
  // the rest of its window must read as zeros, not as what the first block left there, or the
  // walk would take the first chain's header for a packet past the range's end, whose follower
  // the device holds.
  const auto chain = recordings(18, 200'000, 4000);
  std::vector<std::uint8_t> image(2 * kBlockSize + 200'000, 0);
  std::copy(chain.begin(), chain.end(), image.begin() + 4096);
  std::copy(chain.begin(), chain.end(), image.begin() + kBlockSize + 4096);
  TempDir dir;
  for (bool ahead : {false, true}) {
    ScanRequest request = scanRequest(18, kParseDeep);
    request.endSector = (kBlockSize + 2048) / 512;
    request.scan.readAhead = ahead;
    const auto out = scanImage(dir, image, request);
    ASSERT_TRUE(out.ok);
    ASSERT_FALSE(out.files.empty());
    for (const auto& records : out.records)
      for (const auto& r : records) EXPECT_LT(r.deviceOffset, kBlockSize) << "nothing of the chain past the range";
  }
}

}  // namespace
}  // namespace norvale::test
