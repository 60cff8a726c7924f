// Brand 4: 512 MiB units with index headers (quick) and "JVS " packet chains (deep).
#include <gtest/gtest.h>

#include <memory>

#include "parsers/unit_index_parser.h"
#include "base/byte_reader.h"
#include "support/conformance_images.h"
#include "support/frame_parser_support.h"
#include "task/task_context.h"
#include "format/time_convention.h"

namespace norvale::test {
namespace {

constexpr std::uint64_t kUnit = 0x20000000;

std::vector<std::uint8_t> unitHeader(std::uint8_t version = 4) {
  std::vector<std::uint8_t> h(0x14008, 0);
  h[0] = 'j', h[1] = 'v', h[2] = 'b', h[3] = 'k';
  h[0x14000] = 'j', h[0x14001] = 'v', h[0x14002] = 'b', h[0x14003] = 'k';
  h[0x14004] = version;
  return h;
}

struct Piece {
  std::uint16_t unit;
  std::uint16_t head;  // 32-byte units
  std::uint32_t offset;
  std::uint32_t end;  // the piece's bytes are end - head x 32
};

std::vector<std::uint8_t> indexHeader(std::uint8_t channelByte, std::uint32_t start, std::uint32_t durationMs,
                                      const std::vector<Piece>& pieces, std::uint16_t count = 0) {
  std::vector<std::uint8_t> h(228 + 20 * pieces.size(), 0);
  putLe32(&h[0], 102);
  putLe32(&h[68], durationMs);
  h[78] = channelByte;
  putLe32(&h[88], start);
  putLe16(&h[224], count ? count : static_cast<std::uint16_t>(pieces.size()));
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    std::uint8_t* e = &h[228 + 20 * k];
    putLe16(e, pieces[k].unit);
    putLe16(e + 2, pieces[k].head);
    putLe32(e + 8, pieces[k].offset);
    putLe32(e + 16, pieces[k].end);
  }
  return h;
}

// A "JVS " packet of payload p (p + 16 bytes); type 8 with p = 64 makes a channel packet when it
// starts on a sector boundary.
std::vector<std::uint8_t> jvsPacket(std::uint32_t p, std::uint8_t type = 1, bool key = false, std::uint8_t channelByte = 0) {
  std::vector<std::uint8_t> f(p + 16, 0x66);
  f[0] = 'J', f[1] = 'V', f[2] = 'S', f[3] = ' ';
  f[4] = type;
  f[5] = static_cast<std::uint8_t>(p), f[6] = static_cast<std::uint8_t>(p >> 8), f[7] = static_cast<std::uint8_t>(p >> 16);
  if (p >= 5) f[16] = 0, f[17] = 0, f[18] = 0, f[19] = 1, f[20] = key ? 0x65 : 0x21;
  if (p + 16 > 48) f[48] = channelByte;
  return f;
}

class UnitIndexTest : public ::testing::Test {
 protected:
  ZoneGuard m_zone{"Asia/Shanghai"};  // the expectations are Shanghai times
  TaskContext m_task;
  std::uint32_t t = utcEpoch(2016, 5, 17, 20, 0, 0);  // the 18th in Shanghai
};

TEST_F(UnitIndexTest, PlainCalendarWithoutTimeZone) {
  const TimeConvention c = UnitIndexParser::timeConvention(kParseQuick);
  EXPECT_EQ(timeText(c, t), "2016年05月17日 20时00分00秒");
  EXPECT_EQ(dayCode(c, t), calendarCode(2016, 5, 17));
  EXPECT_EQ(timeText(c, 0), "未知日期");
  EXPECT_EQ(dayCode(c, 0), 0u);
  EXPECT_EQ(timeText(c, utcEpoch(2016, 2, 29, 23, 59, 59)), "2016年02月29日 23时59分59秒");
  EXPECT_EQ(timeText(c, utcEpoch(2000, 3, 1, 0, 0, 0)), "2000年03月01日 00时00分00秒");
  EXPECT_TRUE(YearWindow::legacy().plainSecondsNotPast(utcEpoch(2020, 12, 31, 23, 59, 59)));
  EXPECT_FALSE(YearWindow::legacy().plainSecondsNotPast(utcEpoch(2021, 1, 1, 0, 0, 0)));
  EXPECT_FALSE(YearWindow::legacy().plainSecondsNotPast(0));
}

TEST_F(UnitIndexTest, EachIndexHeaderBecomesOneFile) {
  TempDir dir;
  SparseImage image(2 * kUnit + 0x200000);
  image.put(0, unitHeader());
  // Header A, channel 3: two pieces in unit 1 and one whose end does not lie past its head.
  image.put(0x20000, indexHeader(2, t, 1500,
                                 {{1, 2, 0x1000, 64 + 0x800}, {1, 4, 0x9000, 2000},
                                  {1, 3, 0x5000, 3 * 32 + 16}}));
  // Header B, channel 1, starts 8 KiB past the first 1 MiB of the unit: between two reads.
  image.put(0x102000, indexHeader(0, t + 7200, 2000, {{0, 0, 0x300000, 0x400}}));
  // Not headers: 2447 entries, no entries, a start time of 0.
  image.put(0x200000, indexHeader(0, t, 1000, {{0, 0, 0x300000, 0x300400}}, 2447));
  image.put(0x200200, indexHeader(0, t, 1000, {}, 0));
  image.put(0x200400, indexHeader(0, 0, 1000, {{0, 0, 0x300000, 0x300400}}));
  image.put(kUnit + 0x1000, patternBytes(64 + 0x800));
  image.put(0x300000, junkBytes(0x400));

  auto out = scanSparseFile(dir, image, scanRequest(4, kParseQuick));
  ASSERT_TRUE(out.ok) << out.error;
  ASSERT_EQ(out.files.size(), 2u);
  EXPECT_EQ(out.files[0].channel, 1);
  EXPECT_EQ(out.files[0].startTime, t + 7200);
  EXPECT_EQ(out.files[0].endTime, t + 7202);  // 2000 ms
  EXPECT_EQ(out.bytes[0], junkBytes(0x400));
  EXPECT_EQ(out.files[1].channel, 3);
  EXPECT_EQ(out.files[1].endTime, t + 2);  // 1500 ms rounds up
  ASSERT_EQ(out.records[1].size(), 2u);
  EXPECT_EQ(out.records[1][0].deviceOffset, kUnit + 0x1000);
  EXPECT_EQ(out.records[1][0].size, 0x800u);  // end - head x 32
  EXPECT_EQ(out.records[1][1].deviceOffset, kUnit + 0x9000);
  EXPECT_EQ(out.records[1][1].size, 2000u - 128);
  EXPECT_EQ(out.keys[1], fileMapKey(3, calendarCode(2016, 5, 17)));
  EXPECT_EQ(out.endSector, image.size() / 512);
  EXPECT_EQ(out.statuses[1].value, 2);  // progress in units

  auto again = loadSparseFile(dir, image);
  ASSERT_TRUE(again.ok) << again.error;
  EXPECT_EQ(again.keys, out.keys);
  EXPECT_EQ(again.files, out.files);
}

// The index's plain-calendar times test no first year: a recording of 2024 is read with a
// window reaching it, and a reset clock's 2003 with any window.
TEST_F(UnitIndexTest, IndexHeadersOfRecentYearsFollowTheWindow) {
  SparseImage image(kUnit + 0x200000);
  image.put(0, unitHeader());
  image.put(0x20000, indexHeader(0, utcEpoch(2024, 3, 14, 9, 0, 0), 1000, {{0, 0, 0x300000, 0x300400}}));
  image.put(0x40000, indexHeader(1, utcEpoch(2003, 1, 1, 0, 0, 0), 1000, {{0, 0, 0x300000, 0x300400}}));
  image.put(0x300000, junkBytes(0x400));
  const auto filesWith = [&](const YearWindow& years) {
    return filesFoundIn(image, scanRequest(4, kParseQuick), years);
  };
  EXPECT_EQ(filesWith(YearWindow{2010, 2027}), 2u);
  EXPECT_EQ(filesWith(YearWindow::legacy()), 1u);
  EXPECT_EQ(filesWith(YearWindow{2010, 2023}), 1u);
  EXPECT_EQ(filesWith(YearWindow{2025, 2030}), 2u);
}

TEST_F(UnitIndexTest, UnitsNeedTheirHeaderAndAMegabyteOfRange) {
  TempDir dir;
  SparseImage image(kUnit + 0x100000);
  image.put(0, unitHeader(5));  // wrong version byte
  image.put(0x20000, indexHeader(0, t, 1000, {{0, 0, 0x300000, 0x300400}}));
  image.put(kUnit, unitHeader());
  image.put(kUnit + 0x20000, indexHeader(0, t, 1000, {{0, 0, 0x300000, 0x300400}}));
  {
    auto out = scanSparseFile(dir, image, scanRequest(4, kParseQuick));
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_EQ(out.files.size(), 1u);  // only the second unit
  }
  {
    // The range ends one sector short of a megabyte past the second unit: it is not read.
    ScanRequest request = scanRequest(4, kParseQuick);
    request.endSector = (kUnit + 0x100000) / 512 - 1;
    auto out = scanSparseFile(dir, image, request);
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_TRUE(out.files.empty());
  }
}

TEST_F(UnitIndexTest, AFullHeaderAtTheEndOfAReadIsTakenWhole) {
  TempDir dir;
  SparseImage image(kUnit + 0x100000);
  image.put(0, unitHeader());
  // 2446 entries from the last sector of the first megabyte: they reach 48 KiB past it.
  std::vector<Piece> pieces(2446, Piece{0, 0, 0x300000, 0x400});
  pieces.back() = Piece{0, 0, 0x400000, 0x200};
  image.put(0xFFE00, indexHeader(0, t, 1000, pieces));
  auto out = scanSparseFile(dir, image, scanRequest(4, kParseQuick));
  ASSERT_TRUE(out.ok) << out.error;
  ASSERT_EQ(out.files.size(), 1u);
  ASSERT_EQ(out.records[0].size(), 2446u);
  EXPECT_EQ(out.records[0].back().deviceOffset, 0x400000u);
  EXPECT_EQ(out.records[0].back().size, 0x200u);
}

TEST_F(UnitIndexTest, PiecesPastTheDeviceEndAreCutOrDropped) {
  TempDir dir;
  SparseImage image(kUnit + 0x100000);
  image.put(kUnit, unitHeader());
  image.put(kUnit + 0x20000, indexHeader(0, t, 1000,
                                         {{0xFFFF, 0, 0x1000, 0x2000},             // 32 TiB in: dropped
                                          {1, 0, 0xFF000, 0x1FF000},               // half on the image
                                          {0, 0, 0xFFFFFFFF, 0xFFFFFFFF}}));       // past the end
  auto out = scanSparseFile(dir, image, scanRequest(4, kParseQuick));
  ASSERT_TRUE(out.ok) << out.error;
  ASSERT_EQ(out.files.size(), 1u);
  ASSERT_EQ(out.records[0].size(), 1u);
  EXPECT_EQ(out.records[0][0].deviceOffset, kUnit + 0xFF000);
  EXPECT_EQ(out.records[0][0].size, 0x1000u);
}

TEST_F(UnitIndexTest, PacketTestAndChannelPackets) {
  auto test = [&](const std::vector<std::uint8_t>& bytes, std::uint64_t at) {
    UnitIndexParser parser;
    DeviceHandle device;
    device.open(std::make_unique<MemorySource>(bytes));
    return parser.decoder().decode(PacketWindow{bytes.data(), bytes.size(), static_cast<std::int64_t>(bytes.size()), at},
                             device);
  };
  auto channel = jvsPacket(64, 8, false, 2);
  append(channel, jvsPacket(10));
  auto onBoundary = test(channel, 1024);
  ASSERT_TRUE(onBoundary);
  EXPECT_EQ(onBoundary->channel, 3u);
  EXPECT_EQ(onBoundary->advance, 80u);
  auto offBoundary = test(channel, 1025);
  ASSERT_TRUE(offBoundary);
  EXPECT_EQ(offBoundary->channel, 0u);
  auto key = jvsPacket(100, 1, true);
  append(key, jvsPacket(10));
  EXPECT_EQ(test(key, 0)->kind, SegmentKind::Key);
  auto lonely = jvsPacket(100, 1, true);
  append(lonely, junkBytes(60));
  EXPECT_FALSE(test(lonely, 0));
}

// Deep mode: a run of channel 3 from its channel packet, and a run of channel 5 too short to keep.
struct ChannelRuns {
  std::vector<std::uint8_t> image, run3;
  std::size_t markerAt = 0;  // channel 3's channel packet
};

ChannelRuns channelRuns() {
  std::vector<std::uint8_t> image = junkBytes(512);
  std::vector<std::uint8_t> run3;  // channel 3 from its channel packet at a sector boundary
  append(run3, jvsPacket(400, 1, false));
  append(run3, jvsPacket(64, 8, false, 6));  // at 512 + 416: not on a boundary, names no channel
  append(run3, jvsPacket(1000, 1, true));
  run3.resize(run3.size());
  append(image, run3);
  // Pad with one packet up to the next sector boundary, then a channel packet of channel 3.
  const std::size_t pad = 512 - (image.size() + 16) % 512;
  std::vector<std::uint8_t> padding = jvsPacket(static_cast<std::uint32_t>(pad), 1, false);
  append(image, padding);
  append(run3, padding);
  std::vector<std::uint8_t> marker = jvsPacket(64, 8, false, 2);
  const std::size_t markerAt = image.size();
  append(image, marker);
  append(run3, marker);
  append(image, jvsPacket(300, 1, false));
  append(run3, jvsPacket(300, 1, false));
  // Pad again and switch to channel 5: the run of channel 3 ends.
  const std::size_t pad2 = 512 - (image.size() + 16) % 512;
  append(image, jvsPacket(static_cast<std::uint32_t>(pad2), 1, false));
  append(run3, jvsPacket(static_cast<std::uint32_t>(pad2), 1, false));
  std::vector<std::uint8_t> run5 = jvsPacket(64, 8, true, 4);
  append(run5, jvsPacket(900, 1, false));  // 80 + 916 bytes: not above 1024, dropped
  append(image, run5);
  append(image, {'J', 'V', 'S', ' '});
  append(image, junkBytes(100));
  return {image, run3, markerAt};
}

std::vector<std::uint8_t> channelRunsImage() { return channelRuns().image; }
// Channel packets stand on sector boundaries: a shift by whole sectors keeps them there.
const ConformanceImageRegistrar kConformance({.brand = 4,
                                              .mode = kParseDeep,
                                              .shift = 1024,
                                              .reason = "channel packets stand on sector boundaries",
                                              .build = &channelRunsImage});

TEST_F(UnitIndexTest, DeepRunsFollowChannelPacketsAndHaveNoDate) {
  TempDir dir;
  const auto [image, run3, markerAt] = channelRuns();
  ASSERT_EQ(markerAt % 512, 0u);

  for (std::uint8_t mode : {kParseDeep}) {  // quick mode reads the units instead
    auto out = scanImage(dir, image, scanRequest(4, mode));
    ASSERT_TRUE(out.ok) << out.error;
    ASSERT_EQ(out.files.size(), 1u);
    EXPECT_EQ(out.files[0].channel, 3);
    EXPECT_EQ(out.bytes[0], run3);
    EXPECT_EQ(out.records[0][0].firstKeyOffset, 416 + 80);
    EXPECT_EQ(out.keys[0], fileMapKey(3, 0));
    EXPECT_EQ(dayText(0), "所有日期");
    EXPECT_EQ(timeText(UnitIndexParser::timeConvention(mode), out.files[0].startTime), "未知日期");
    auto again = loadTaskFolder(dir.file("task"), dir.file("image.img"));
    ASSERT_TRUE(again.ok) << again.error;
    EXPECT_EQ(again.files, out.files);
  }
  // Channel packets stand on sector boundaries: a shift by whole sectors keeps them there.
  expectShiftedOffsets(dir, image, scanRequest(4, kParseDeep), 1024);
}

TEST_F(UnitIndexTest, AnUnreadableUnitIsReportedAndSkipped) {
  TempDir dir;
  SparseImage image(2 * kUnit + 0x100000);
  for (std::uint64_t unit : {std::uint64_t{0}, kUnit}) {
    image.put(unit, unitHeader());
    image.put(unit + 0x20000, indexHeader(0, t, 1000, {{0, 0, 0x300000, 0x400}}));
  }
  auto out = scanSparse(dir, std::make_shared<SparseImage>(image), scanRequest(4, kParseQuick), {kUnit / 512 + 3}).outcome;
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(out.files.size(), 1u);
  EXPECT_TRUE(out.messages[1].starts_with("读取源设备失败,可能存在坏道: 扇区 ")) << out.messages[1];
  EXPECT_EQ(out.endSector, image.size() / 512);
}

TEST_F(UnitIndexTest, AStoppedQuickScanLeavesTheTaskUnfinished) {
  // The unit walk notes the unit it reached as it goes; a stop must still leave no end sector,
  // or the task would pass for a completed one.
  TempDir dir;
  SparseImage image(3 * kUnit);
  image.put(0, unitHeader());
  image.put(0x20000, indexHeader(2, t, 1500, {{1, 2, 0x1000, 64 + 0x800}}));
  auto out = scanSparseFile(dir, image, scanRequest(4, kParseQuick, 2));  // past the first unit
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(out.endSector, 0u);
  auto whole = scanSparseFile(dir, image, scanRequest(4, kParseQuick));
  EXPECT_EQ(whole.endSector, image.size() / 512);
}

}  // namespace
}  // namespace norvale::test
