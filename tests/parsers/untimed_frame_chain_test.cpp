// Brands 13, 14 and 15: untimed frame chains in the arrival list, and brand 15's index blocks.
#include <gtest/gtest.h>

#include <memory>

#include "parsers/untimed_frame_chain_parser.h"
#include "base/byte_reader.h"
#include "support/conformance_images.h"
#include "support/frame_parser_support.h"
#include "task/brand_registry.h"
#include "task/task_context.h"
#include "format/time_convention.h"

namespace norvale::test {
namespace {

// Named-header frame with a header of h bytes and a payload of p bytes.
std::vector<std::uint8_t> namedFrame(std::uint32_t h, std::uint32_t p, bool key) {
  std::vector<std::uint8_t> f(h + p, 0x22);
  f[0] = 'N', f[1] = 'V', f[2] = 'R', f[3] = '1';
  putLe32(&f[12], p);
  if (p >= 5) f[h] = 0, f[h + 1] = 0, f[h + 2] = 0, f[h + 3] = 1, f[h + 4] = key ? 0x65 : 0x01;
  return f;
}

// Length-pair frame of p payload bytes (p + 32 in all).
std::vector<std::uint8_t> pairFrame(std::uint32_t p, bool key) {
  std::vector<std::uint8_t> f(p + 32, 0x22);
  putLe32(&f[4], p + 32);
  putLe32(&f[20], p);
  f[32] = 0, f[33] = 0, f[34] = 0, f[35] = 1;
  if (p >= 5) f[36] = key ? 0x41 : 0x21;
  return f;
}

class UntimedFrameChainTest : public ::testing::Test {
 protected:
  ZoneGuard m_zone{"Asia/Shanghai"};  // the expectations are Shanghai times
  std::optional<Packet> test(std::uint8_t brand, const std::vector<std::uint8_t>& bytes) {
    UntimedFrameChainParser parser(brand);
    DeviceHandle device;
    device.open(std::make_unique<MemorySource>(bytes));
    return parser.decoder().decode(PacketWindow{bytes.data(), bytes.size(), static_cast<std::int64_t>(bytes.size()), 0},
                             device);
  }
  TaskContext m_task;
};

TEST_F(UntimedFrameChainTest, NamedHeaderFramesDifferOnlyInHeaderLength) {
  for (auto [brand, h] : {std::pair<std::uint8_t, std::uint32_t>{14, 64}, {13, 72}}) {
    auto frame = [&](std::uint32_t p) {
      auto f = namedFrame(h, p, true);
      append(f, namedFrame(h, 100, false));
      return f;
    };
    EXPECT_FALSE(test(brand, frame(4))) << int(brand);
    auto packet = test(brand, frame(5));
    ASSERT_TRUE(packet) << int(brand);
    EXPECT_EQ(packet->advance, h + 5u);
    EXPECT_EQ(packet->kind, SegmentKind::Key);
    EXPECT_EQ(packet->channel, 1u);
    EXPECT_EQ(packet->time, 0u);
    EXPECT_FALSE(test(brand, frame(0x200001)));
    // The other brand's header length puts the follower check 8 bytes off.
    EXPECT_FALSE(test(brand == 13 ? 14 : 13, frame(100))) << int(brand);
  }
}

TEST_F(UntimedFrameChainTest, LengthPairFramesNeedAgreeingLengthsAndAStartCode) {
  auto frame = pairFrame(100, true);
  append(frame, pairFrame(50, false));
  auto packet = test(15, frame);
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->advance, 132u);
  EXPECT_EQ(packet->kind, SegmentKind::Key);

  auto wrongLength = frame;
  putLe32(&wrongLength[4], 133);
  EXPECT_FALSE(test(15, wrongLength));
  auto noStartCode = frame;
  noStartCode[35] = 2;
  EXPECT_FALSE(test(15, noStartCode));
  auto badFollower = frame;
  putLe32(&badFollower[132 + 20], 4);  // follower payload below 5
  EXPECT_FALSE(test(15, badFollower));
  auto tiny = pairFrame(4, true);
  append(tiny, pairFrame(50, false));
  EXPECT_FALSE(test(15, tiny));
}

// Named-header frames with headers of h bytes: a keyless orphan, a run whose key frame is 3000
// bytes in, and a single key frame of 100 bytes.
struct NamedRuns {
  std::vector<std::uint8_t> image, orphan, first, single;
};

NamedRuns namedRuns(std::uint32_t h) {
  std::vector<std::uint8_t> image = junkBytes(33);
  std::vector<std::uint8_t> orphan = namedFrame(h, 400, false);  // no key frame: in no file
  append(image, orphan);
  append(image, {'N', 'V', 'R', '1'});
  append(image, junkBytes(50));
  std::vector<std::uint8_t> first;  // ordinary frames first, its key frame 3000 bytes in
  append(first, namedFrame(h, 1500 - h, false));
  append(first, namedFrame(h, 1500 - h, false));
  append(first, namedFrame(h, 600, true));
  append(first, namedFrame(h, 200, false));
  append(image, first);
  append(image, {'N', 'V', 'R', '1'});
  append(image, junkBytes(70));
  std::vector<std::uint8_t> single = namedFrame(h, 100 - h, true);  // 100 bytes: kept
  append(image, single);
  append(image, {'N', 'V', 'R', '1'});
  append(image, junkBytes(90));
  return {image, orphan, first, single};
}

// Brands 13 and 14 differ only in their header length.
const ConformanceImageRegistrar kNamedRuns13({.brand = 13, .mode = kParseDeep, .shift = 65,
                                              .build = [] { return namedRuns(72).image; }});
const ConformanceImageRegistrar kNamedRuns14({.brand = 14, .mode = kParseDeep, .shift = 65,
                                              .build = [] { return namedRuns(64).image; }});

TEST_F(UntimedFrameChainTest, RunsGoToTheArrivalListAndGroupWithoutChannelOrDate) {
  TempDir dir;
  for (auto [brand, h] : {std::pair<std::uint8_t, std::uint32_t>{14, 64}, {13, 72}}) {
    const auto [image, orphan, first, single] = namedRuns(h);

    for (std::uint8_t mode : {kParseQuick, kParseDeep}) {
      auto out = scanImage(dir, image, scanRequest(brand, mode));
      ASSERT_TRUE(out.ok) << out.error;
      ASSERT_EQ(out.files.size(), 1u) << int(brand);
      ASSERT_EQ(out.records[0].size(), 2u);
      const SegmentRecord& r = out.records[0][0];
      EXPECT_EQ(r.kind, SegmentKind::Key);
      EXPECT_EQ(r.firstKeyOffset, 3000);
      EXPECT_EQ(r.channel, 1u);
      EXPECT_EQ(r.deviceOffset, 33 + orphan.size() + 4 + 50);
      EXPECT_EQ(out.records[0][1].size, 100u);
      std::vector<std::uint8_t> expected = first;
      append(expected, single);
      EXPECT_EQ(out.bytes[0], expected);
      EXPECT_EQ(out.keys[0], fileMapKey(1, 0));
      EXPECT_EQ(dayText(static_cast<std::uint32_t>(out.keys[0])), "所有日期");
      EXPECT_EQ(timeText(UntimedFrameChainParser::timeConvention(mode), out.files[0].startTime), "未知日期");
      // A second run of the program lists the same.
      auto again = loadTaskFolder(dir.file("task"), dir.file("image.img"));
      ASSERT_TRUE(again.ok) << again.error;
      EXPECT_EQ(again.files, out.files);
      EXPECT_EQ(again.keys, out.keys);
    }
    // The other brand sees nothing in this image.
    auto other = scanImage(dir, image, scanRequest(brand == 13 ? 14 : 13, kParseDeep));
    ASSERT_TRUE(other.ok);
    EXPECT_TRUE(other.files.empty());
    expectShiftedOffsets(dir, image, scanRequest(brand, kParseDeep), 65);
  }
}

// Brand 15: a run of length-pair frames across the first block boundary, its key frame second.
struct PairRun {
  std::vector<std::uint8_t> image, run;
};

PairRun pairRun() {
  std::vector<std::uint8_t> image = junkBytes(0xFF000);
  std::vector<std::uint8_t> run;
  for (int k = 0; k < 8; ++k) append(run, pairFrame(1000, k == 1));
  append(image, run);
  append(image, pairFrame(10, false));  // last frame: followed by junk, rejected
  append(image, junkBytes(100));
  return {image, run};
}

const ConformanceImageRegistrar kPairRun({.brand = 15, .mode = kParseDeep, .shift = 65,
                                          .build = [] { return pairRun().image; }});

TEST_F(UntimedFrameChainTest, LengthPairDeepScanKeepsRunsAcrossBlocks) {
  TempDir dir;
  const auto [image, run] = pairRun();
  auto out = scanImage(dir, image, scanRequest(15, kParseDeep));
  ASSERT_TRUE(out.ok) << out.error;
  ASSERT_EQ(out.files.size(), 1u);
  ASSERT_EQ(out.records[0].size(), 1u);
  EXPECT_EQ(out.records[0][0].firstKeyOffset, 1032);
  EXPECT_EQ(out.bytes[0], run);
  EXPECT_EQ(out.endSector, (image.size() + 511) / 512);
  expectShiftedOffsets(dir, image, scanRequest(15, kParseDeep), 65);
}

TEST_F(UntimedFrameChainTest, TruncatedImageYieldsNothing) {
  TempDir dir;
  // A frame that claims more bytes than the image holds: its follower cannot be read.
  auto truncated = namedFrame(64, 0x100000, true);
  truncated.resize(5000);
  auto out = scanImage(dir, truncated, scanRequest(14, kParseDeep));
  ASSERT_TRUE(out.ok);
  EXPECT_TRUE(out.files.empty());
}

// Brand 15 quick mode: one index block per gigabyte, 0x41200000 past the start.
std::vector<std::uint8_t> indexRecordAt(std::vector<std::uint8_t>& block, std::size_t r, std::uint8_t channelByte,
                                        std::uint32_t startTime, std::uint32_t endTime, std::uint32_t start,
                                        std::uint32_t end) {
  const std::size_t at = 0x220 + r * 0x200;
  block[at - 8] = channelByte;
  putLe32(&block[at], startTime);
  putLe32(&block[at + 8], endTime);
  putLe32(&block[at + 0x38], start);
  putLe32(&block[at + 0x40], end);
  return block;
}

TEST_F(UntimedFrameChainTest, IndexBlocksGiveOneFilePerUsableRecord) {
  TempDir dir;
  const std::uint32_t t = localEpoch(2019, 3, 4, 5, 6, 7);
  const std::uint64_t first = 0x41200000, second = 0x81200000;
  SparseImage image(second + 0x200000 + 0x300000);
  std::vector<std::uint8_t> block(0x200000, 0);
  indexRecordAt(block, 0, 2, t, t + 60, 0x200000, 0x200400);       // taken, channel 3
  indexRecordAt(block, 1, 0, t, t + 60, 0x1FFFFF, 0x200400);       // start inside the index block
  indexRecordAt(block, 2, 0, t, t + 60, 0x300000, 0x40000000);     // end at 1 GiB
  indexRecordAt(block, 3, 0, t, t, 0x300000, 0x300400);            // start time = end time
  indexRecordAt(block, 4, 0, localEpoch(2009, 12, 31, 0, 0, 0), t, 0x300000, 0x300400);
  indexRecordAt(block, 4094, 5, t + 100, t + 200, 0x250000, 0x250200);  // the last record
  image.put(first, block);
  image.put(first + 0x200000, patternBytes(0x400));
  image.put(first + 0x250000, junkBytes(0x200));
  std::vector<std::uint8_t> block2(0x200000, 0);
  indexRecordAt(block2, 7, 0, t + 3600, t + 3700, 0x200000, 0x200100);
  image.put(second, block2);

  auto out = scanSparseFile(dir, image, scanRequest(15, kParseQuick));
  ASSERT_TRUE(out.ok) << out.error;
  ASSERT_EQ(out.files.size(), 3u);
  // File map order: channel, then day.
  EXPECT_EQ(out.files[0].channel, 1);
  EXPECT_EQ(out.files[0].startTime, t + 3600);
  EXPECT_EQ(out.records[0][0].deviceOffset, second + 0x200000);
  EXPECT_EQ(out.files[1].channel, 3);
  EXPECT_EQ(out.files[1].size, 0x400u);
  EXPECT_EQ(out.bytes[1], patternBytes(0x400));
  EXPECT_EQ(out.files[2].channel, 6);
  EXPECT_EQ(out.bytes[2], junkBytes(0x200));
  EXPECT_EQ(out.keys[1], fileMapKey(3, calendarCode(2019, 3, 4)));
  EXPECT_EQ(timeText(UntimedFrameChainParser::timeConvention(kParseQuick), out.files[1].startTime),
            "2019年03月04日 05时06分07秒");
  // No rebuild: the reassembly text is followed directly by the completion text.
  ASSERT_GE(out.messages.size(), 3u);
  EXPECT_EQ(out.messages[out.messages.size() - 2], "正在构建重组**" + brandName(15) + "**视频流信息...");
  EXPECT_EQ(out.endSector, image.size() / 512);

  auto again = loadSparseFile(dir, image);
  ASSERT_TRUE(again.ok) << again.error;
  EXPECT_EQ(again.files, out.files);
  EXPECT_EQ(again.bytes, out.bytes);
}

TEST_F(UntimedFrameChainTest, IndexBlocksOnShortOrTruncatedImages) {
  TempDir dir;
  const std::uint32_t t = localEpoch(2019, 3, 4, 5, 6, 7);
  {
    // The range ends one byte short of the first index block: nothing is read.
    SparseImage image(0x41200000 + 0x200000 - 512);
    auto out = scanSparseFile(dir, image, scanRequest(15, kParseQuick));
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_TRUE(out.files.empty());
  }
  {
    // Records pointing past the end of a truncated image: the part on the image is kept.
    SparseImage image(0x41200000 + 0x300000);
    std::vector<std::uint8_t> block(0x200000, 0);
    indexRecordAt(block, 0, 0, t, t + 1, 0x200000, 0x300000 + 0x1000);  // half on the image
    indexRecordAt(block, 1, 0, t, t + 1, 0x400000, 0x500000);           // wholly past the end
    image.put(0x41200000, block);
    auto out = scanSparseFile(dir, image, scanRequest(15, kParseQuick));
    ASSERT_TRUE(out.ok) << out.error;
    ASSERT_EQ(out.files.size(), 1u);
    EXPECT_EQ(out.files[0].size, 0x100000u);
  }
}

TEST_F(UntimedFrameChainTest, AnUnreadableIndexBlockLosesOnlyItsGigabyte) {
  TempDir dir;
  const std::uint32_t t = localEpoch(2019, 3, 4, 5, 6, 7);
  SparseImage image(0x81200000 + 0x300000);
  std::vector<std::uint8_t> block(0x200000, 0);
  indexRecordAt(block, 0, 0, t, t + 60, 0x200000, 0x200400);
  image.put(0x41200000, block);
  image.put(0x81200000, block);
  auto out = scanSparse(dir, std::make_shared<SparseImage>(image), scanRequest(15, kParseQuick), {(0x41200000 + 0x1000) / 512}).outcome;
  ASSERT_TRUE(out.ok);
  ASSERT_EQ(out.files.size(), 1u);
  EXPECT_EQ(out.records[0][0].deviceOffset, 0x81200000u + 0x200000);
  EXPECT_TRUE(out.messages[1].starts_with("读取源设备失败,可能存在坏道: 扇区 ")) << out.messages[1];
}

}  // namespace
}  // namespace norvale::test
