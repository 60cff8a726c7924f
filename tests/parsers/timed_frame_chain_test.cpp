// Brands 6, 12 and 16: frame chains with capture times, joined into runs while scanning.
#include <gtest/gtest.h>

#include <memory>

#include "base/byte_reader.h"
#include "parsers/timed_frame_chain_parser.h"
#include "support/conformance_images.h"
#include "support/frame_parser_support.h"
#include "task/brand_registry.h"
#include "task/task_context.h"

namespace norvale::test {
namespace {

constexpr std::uint8_t kKeyUnit = 0x65;
constexpr std::uint8_t kOtherUnit = 0x21;

// Brand 6 frame: 28-byte header ("CH" + digits at 24 when marker is set), payload of p bytes.
std::vector<std::uint8_t> markedFrame(std::uint32_t time, std::uint32_t p, bool key, const char* marker = nullptr) {
  std::vector<std::uint8_t> f(28 + p, 0x11);
  f[0] = 'H', f[1] = 'B', f[2] = 'M', f[3] = 'S';
  f[4] = 28;
  putLe16(&f[5], static_cast<std::uint16_t>(p * 2));
  putLe32(&f[12], time);
  if (marker) f[24] = 'C', f[25] = 'H', f[26] = static_cast<std::uint8_t>(marker[0]), f[27] = static_cast<std::uint8_t>(marker[1]);
  if (p >= 5) f[28] = 0, f[29] = 0, f[30] = 0, f[31] = 1, f[32] = key ? kKeyUnit : kOtherUnit;
  return f;
}

// Brand 16 frame: occupies length + 6 bytes.
std::vector<std::uint8_t> pesFrame(std::uint8_t streamId, std::uint32_t time, std::uint16_t length, bool key) {
  std::vector<std::uint8_t> f(length + 6u, 0x11);
  f[0] = 0, f[1] = 0, f[2] = 1, f[3] = streamId;
  f[4] = static_cast<std::uint8_t>(length >> 8), f[5] = static_cast<std::uint8_t>(length);
  f[27] = static_cast<std::uint8_t>(time >> 24), f[28] = static_cast<std::uint8_t>(time >> 16);
  f[29] = static_cast<std::uint8_t>(time >> 8), f[30] = static_cast<std::uint8_t>(time);
  f[48] = 0, f[49] = 0, f[50] = 0, f[51] = 1, f[52] = key ? kKeyUnit : kOtherUnit;
  return f;
}

// Brand 12 frame: occupies p + 32 rounded up to 8 bytes.
std::vector<std::uint8_t> microFrame(std::uint32_t time, std::uint32_t p, bool key) {
  std::vector<std::uint8_t> f((p + 32 + 7) / 8 * 8, 0x11);
  putLe64(&f[0], static_cast<std::uint64_t>(time) * 1'000'000u + 123'456u);
  putLe32(&f[8], p);
  f[32] = 0, f[33] = 0, f[34] = 0, f[35] = 1, f[36] = key ? kKeyUnit : kOtherUnit;
  return f;
}

class TimedFrameChainTest : public ::testing::Test {
 protected:
  ZoneGuard m_zone{"Asia/Shanghai"};  // the expectations are Shanghai times

  std::optional<Packet> test(std::uint8_t brand, const std::vector<std::uint8_t>& bytes, std::size_t at = 0) {
    TimedFrameChainParser parser(brand);
    DeviceHandle device;
    device.open(std::make_unique<MemorySource>(bytes));
    const PacketWindow w{bytes.data() + at, bytes.size() - at, static_cast<std::int64_t>(bytes.size() - at), at};
    return parser.decoder().decode(w, device);
  }

  TaskContext m_task;
  std::uint32_t t0 = localEpoch(2016, 5, 17, 8, 30, 0);
};

TEST_F(TimedFrameChainTest, MarkedHeaderFramesNeedTheirFollowerAndAPlausibleTime) {
  auto chain = markedFrame(t0, 100, true);
  append(chain, {'H', 'B', 'M', 'S'});
  auto packet = test(6, chain);
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->kind, SegmentKind::Key);
  EXPECT_EQ(packet->advance, 128u);
  EXPECT_EQ(packet->time, t0);
  EXPECT_EQ(packet->channel, 0u);  // no marker seen yet

  auto lonely = markedFrame(t0, 100, true);
  append(lonely, junkBytes(8));
  EXPECT_FALSE(test(6, lonely));

  for (std::uint32_t bad : {localEpoch(2009, 12, 31, 23, 59, 59), localEpoch(2021, 1, 1, 0, 0, 0), 0u}) {
    auto frame = markedFrame(bad, 100, true);
    append(frame, {'H', 'B', 'M', 'S'});
    EXPECT_FALSE(test(6, frame)) << bad;
  }
  auto first = markedFrame(localEpoch(2010, 1, 1, 0, 0, 0), 100, false);
  append(first, {'H', 'B', 'M', 'S'});
  auto early = test(6, first);
  ASSERT_TRUE(early);
  EXPECT_EQ(early->kind, SegmentKind::Other);

  auto tiny = markedFrame(t0, 4, true);  // payload of 4 is no frame, 5 is
  append(tiny, {'H', 'B', 'M', 'S'});
  EXPECT_FALSE(test(6, tiny));
  auto small = markedFrame(t0, 5, true);
  append(small, {'H', 'B', 'M', 'S'});
  EXPECT_TRUE(test(6, small));

  auto shortHeader = markedFrame(t0, 100, true);
  shortHeader[4] = 19;
  append(shortHeader, {'H', 'B', 'M', 'S'});
  EXPECT_FALSE(test(6, shortHeader));
}

TEST_F(TimedFrameChainTest, ChannelMarkersReadTheirDigitsLikeAtoi) {
  auto window = [](const std::vector<std::uint8_t>& b) { return PacketWindow{b.data(), b.size(), 64, 0}; };
  EXPECT_EQ(TimedFrameChainParser::markerChannel(window(markedFrame(t0, 100, true, "07"))), 8u);
  EXPECT_EQ(TimedFrameChainParser::markerChannel(window(markedFrame(t0, 100, true, " 2"))), 3u);
  EXPECT_EQ(TimedFrameChainParser::markerChannel(window(markedFrame(t0, 100, true, "5x"))), 6u);
  EXPECT_EQ(TimedFrameChainParser::markerChannel(window(markedFrame(t0, 100, true, "xx"))), 1u);  // atoi gives 0
  EXPECT_FALSE(TimedFrameChainParser::markerChannel(window(markedFrame(t0, 100, true, "-3"))));
  EXPECT_FALSE(TimedFrameChainParser::markerChannel(window(markedFrame(t0, 100, true))));
  EXPECT_FALSE(TimedFrameChainParser::markerChannel(window(markedFrame(0, 100, true, "07"))));
}

TEST_F(TimedFrameChainTest, PesFramesTakeTheirChannelFromTheStreamId) {
  auto frame = [&](std::uint8_t id, std::uint16_t length) {
    auto f = pesFrame(id, t0, length, true);
    append(f, {0, 0, 1, 0xE0});
    return f;
  };
  auto packet = test(16, frame(0xE3, 100));
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->channel, 4u);
  EXPECT_EQ(packet->advance, 106u);
  EXPECT_FALSE(test(16, frame(0xC0, 100)));
  EXPECT_FALSE(test(16, frame(0xE3, 52)));
  EXPECT_TRUE(test(16, frame(0xE3, 53)));
  auto badFollower = pesFrame(0xE0, t0, 100, true);
  append(badFollower, {0, 0, 1, 0xC0});
  EXPECT_FALSE(test(16, badFollower));
  // The same bytes are no frame to the other brands of the design.
  EXPECT_FALSE(test(6, frame(0xE3, 100)));
  EXPECT_FALSE(test(12, frame(0xE3, 100)));
}

TEST_F(TimedFrameChainTest, MicroTimeFramesRoundTheirLengthToEightBytes) {
  auto frame = [&](std::uint32_t p) {
    auto f = microFrame(t0, p, false);
    append(f, microFrame(t0 + 1, 16, false));
    return f;
  };
  for (auto [p, length] : {std::pair<std::uint32_t, std::uint64_t>{9, 48}, {16, 48}, {17, 56}}) {
    auto packet = test(12, frame(p));
    ASSERT_TRUE(packet) << p;
    EXPECT_EQ(packet->advance, length) << p;
    EXPECT_EQ(packet->channel, 1u);
  }
  EXPECT_FALSE(test(12, frame(8)));
  auto huge = microFrame(t0, 16, true);
  putLe32(&huge[8], 0x200001);
  EXPECT_FALSE(test(12, huge));
  auto lonely = microFrame(t0, 16, true);
  append(lonely, junkBytes(16));
  EXPECT_FALSE(test(12, lonely));
}

TEST_F(TimedFrameChainTest, FollowerPastTheWindowIsReadFromTheDevice) {
  // The window ends inside the frame: the follower comes from a device read, and an unreadable
  // follower sector rejects the frame.
  auto bytes = junkBytes(600);
  auto frame = pesFrame(0xE1, t0, 1500, true);
  append(bytes, frame);
  append(bytes, pesFrame(0xE1, t0 + 1, 100, true));
  TimedFrameChainParser parser(16);
  auto source = std::make_unique<ScriptedSource>(bytes);
  ScriptedSource* scripted = source.get();
  DeviceHandle device;
  device.open(std::move(source));
  const PacketWindow w{bytes.data() + 600, 800, 800, 600};
  EXPECT_TRUE(parser.decoder().decode(w, device));
  scripted->markBad((600 + frame.size()) / 512);
  EXPECT_FALSE(parser.decoder().decode(w, device));
  // A follower beyond the end of the device cannot be read either.
  auto last = pesFrame(0xE1, t0, 1500, true);
  DeviceHandle small;
  small.open(std::make_unique<MemorySource>(last));
  EXPECT_FALSE(parser.decoder().decode(PacketWindow{last.data(), 600, 600, 0}, small));
}

TEST_F(TimedFrameChainTest, EpochGapAllowsUpToFiftyNineSeconds) {
  EXPECT_TRUE(TimedFrameChainParser::epochGapContinues(TimeZone::workstation(), t0 + 59, t0));
  EXPECT_TRUE(TimedFrameChainParser::epochGapContinues(TimeZone::workstation(), t0, t0));
  EXPECT_FALSE(TimedFrameChainParser::epochGapContinues(TimeZone::workstation(), t0 + 60, t0));
  EXPECT_FALSE(TimedFrameChainParser::epochGapContinues(TimeZone::workstation(), t0 - 1, t0));
  // The last day of January and the first of February are never continuous.
  EXPECT_FALSE(TimedFrameChainParser::epochGapContinues(TimeZone::workstation(), localEpoch(2016, 2, 1, 0, 0, 0),
                                                        localEpoch(2016, 1, 31, 23, 59, 59)));
}

// Brand 6: runs before the first channel marker, then of channels 3 and 8.
struct MarkedRuns {
  std::vector<std::uint8_t> image, ch0, ch3, ch8;
};

MarkedRuns markedRuns(std::uint32_t t0) {
  std::vector<std::uint8_t> image = junkBytes(100);
  std::vector<std::uint8_t> ch0, ch3, ch8;
  append(ch0, markedFrame(t0, 100, true));
  append(ch0, markedFrame(t0 + 1, 100, false));
  append(ch3, markedFrame(t0 + 2, 100, true, "02"));
  append(ch3, markedFrame(t0 + 3, 100, false));
  append(ch8, markedFrame(t0 + 4, 100, true, "07"));
  append(ch8, markedFrame(t0 + 5, 100, false));
  append(ch8, markedFrame(t0 + 6, 100, false, "07"));  // own channel again: no split
  append(ch8, markedFrame(t0 + 7, 100, false));
  append(image, ch0);
  append(image, ch3);
  append(image, ch8);
  append(image, {'H', 'B', 'M', 'S'});
  append(image, junkBytes(2000));
  return {image, ch0, ch3, ch8};
}

const ConformanceImageRegistrar kMarkedRuns({.brand = 6, .mode = kParseDeep, .shift = 65, .build = [] {
  return markedRuns(localEpoch(2016, 5, 17, 8, 30, 0)).image;
}});

TEST_F(TimedFrameChainTest, ChannelMarkersSplitRunsOfBrand6) {
  TempDir dir;
  const auto [image, ch0, ch3, ch8] = markedRuns(t0);

  for (std::uint8_t mode : {kParseQuick, kParseDeep}) {
    auto out = scanImage(dir, image, scanRequest(6, mode));
    ASSERT_TRUE(out.ok) << out.error;
    ASSERT_EQ(out.files.size(), 3u);
    EXPECT_EQ(out.files[0].channel, 0);  // before the first marker
    EXPECT_EQ(out.files[1].channel, 3);
    EXPECT_EQ(out.files[2].channel, 8);
    EXPECT_EQ(out.bytes[0], ch0);  // a run of 256 bytes is kept
    EXPECT_EQ(out.bytes[1], ch3);
    EXPECT_EQ(out.bytes[2], ch8);
    EXPECT_EQ(out.files[2].startTime, t0 + 4);
    EXPECT_EQ(out.files[2].endTime, t0 + 7);
    EXPECT_EQ(out.keys[1], fileMapKey(3, calendarCode(2016, 5, 17)));
    EXPECT_EQ(out.endSector, (image.size() + 511) / 512);
    EXPECT_EQ(out.messages.front(), std::string(mode == kParseQuick ? "正在快速解析**" : "正在深度解析**") +
                                        brandName(6) + "**视频流信息...");
  }
  expectShiftedOffsets(dir, image, scanRequest(6, kParseDeep), 65);
}

// Brand 16: two runs of channel 4 around one of channel 2 too short to keep.
struct PesRuns {
  std::vector<std::uint8_t> image, ch4, kept;
};

PesRuns pesRuns(std::uint32_t t0) {
  std::vector<std::uint8_t> image = junkBytes(64);
  std::vector<std::uint8_t> ch4, ch2;
  append(ch4, pesFrame(0xE3, t0, 594, true));  // 600 bytes each
  append(ch4, pesFrame(0xE3, t0 + 1, 594, false));
  append(ch2, pesFrame(0xE1, t0 + 2, 506, true));  // 512 + 512: exactly 1024 bytes, dropped
  append(ch2, pesFrame(0xE1, t0 + 3, 506, false));
  append(image, ch4);
  append(image, ch2);
  std::vector<std::uint8_t> kept;
  append(kept, pesFrame(0xE3, t0 + 4, 1019, true));  // 1025 bytes, kept
  append(image, kept);
  append(image, {0, 0, 1, 0xE0});
  append(image, junkBytes(500));
  return {image, ch4, kept};
}

const ConformanceImageRegistrar kPesRuns({.brand = 16, .mode = kParseDeep, .shift = 65, .build = [] {
  return pesRuns(localEpoch(2016, 5, 17, 8, 30, 0)).image;
}});

TEST_F(TimedFrameChainTest, PesRunsBreakOnChannelAndDropShortRuns) {
  TempDir dir;
  const auto [image, ch4, kept] = pesRuns(t0);

  auto out = scanImage(dir, image, scanRequest(16, kParseDeep));
  ASSERT_TRUE(out.ok) << out.error;
  ASSERT_EQ(out.files.size(), 1u);  // both channel-4 runs join into one file
  EXPECT_EQ(out.files[0].channel, 4);
  ASSERT_EQ(out.records[0].size(), 2u);
  EXPECT_EQ(out.records[0][0].size, 1200u);
  EXPECT_EQ(out.records[0][1].size, 1025u);
  std::vector<std::uint8_t> expected = ch4;
  append(expected, kept);
  EXPECT_EQ(out.bytes[0], expected);
  expectShiftedOffsets(dir, image, scanRequest(16, kParseDeep), 65);
}

// Brand 12: a run whose first two frames come before its key frame, and a frame without follower.
struct MicroRun {
  std::vector<std::uint8_t> image, run;
  std::size_t beforeKey = 0;
};

MicroRun microRun(std::uint32_t ten) {
  std::vector<std::uint8_t> image = junkBytes(40);
  std::vector<std::uint8_t> run;
  append(run, microFrame(ten, 600, false));
  append(run, microFrame(ten + 1, 600, false));
  const std::size_t beforeKey = run.size();
  append(run, microFrame(ten + 2, 600, true));
  append(run, microFrame(ten + 3, 600, false));
  append(image, run);
  append(image, microFrame(ten + 4, 600, false));  // no follower: not part of the run
  append(image, junkBytes(300));
  return {image, run, beforeKey};
}

const ConformanceImageRegistrar kMicroRun({.brand = 12, .mode = kParseDeep, .shift = 65, .build = [] {
  return microRun(localEpoch(2016, 5, 17, 10, 0, 0)).image;
}});

TEST_F(TimedFrameChainTest, MicroTimeRunsStartAtTheirFirstKeyFrame) {
  TempDir dir;
  const std::uint32_t ten = localEpoch(2016, 5, 17, 10, 0, 0);
  const auto [image, run, beforeKey] = microRun(ten);

  auto out = scanImage(dir, image, scanRequest(12, kParseQuick));
  ASSERT_TRUE(out.ok) << out.error;
  ASSERT_EQ(out.files.size(), 1u);
  ASSERT_EQ(out.records[0].size(), 1u);
  const SegmentRecord& r = out.records[0][0];
  EXPECT_EQ(r.kind, SegmentKind::Key);
  EXPECT_EQ(r.channel, 1u);
  EXPECT_EQ(r.startTime, ten + 2);
  EXPECT_EQ(r.endTime, ten + 3);
  EXPECT_EQ(r.firstKeyOffset, static_cast<std::int64_t>(beforeKey));
  EXPECT_EQ(r.deviceOffset, 40u);
  EXPECT_EQ(out.bytes[0], run);
  expectShiftedOffsets(dir, image, scanRequest(12, kParseDeep), 65);
}

TEST_F(TimedFrameChainTest, TimeGapsSplitRunsAndRunsCrossBlocks) {
  TempDir dir;
  std::vector<std::uint8_t> image = junkBytes(0xF0000);
  // 40 frames of ~8 KiB from 0xF0000 run across the first 1 MiB block boundary.
  std::vector<std::uint8_t> across;
  for (int k = 0; k < 40; ++k) append(across, microFrame(t0 + static_cast<std::uint32_t>(k), 8000, k == 0));
  append(image, across);
  std::vector<std::uint8_t> gap59, gap60, backwards;
  append(gap59, microFrame(t0 + 98, 2000, true));
  append(gap60, microFrame(t0 + 158, 2000, true));
  append(backwards, microFrame(t0 + 150, 2000, true));
  append(image, gap59);      // 59 s after the last frame: same run
  append(image, gap60);      // 60 s later: a new run
  append(image, backwards);  // earlier than the run's end: a new run
  append(image, microFrame(t0 + 151, 100, true));
  append(image, junkBytes(100));

  auto out = scanImage(dir, image, scanRequest(12, kParseDeep));
  ASSERT_TRUE(out.ok) << out.error;
  std::vector<SegmentRecord> records;
  for (const auto& file : out.records) records.insert(records.end(), file.begin(), file.end());
  ASSERT_EQ(records.size(), 3u);
  std::sort(records.begin(), records.end(), [](auto& a, auto& b) { return a.deviceOffset < b.deviceOffset; });
  EXPECT_EQ(records[0].deviceOffset, 0xF0000u);
  EXPECT_EQ(records[0].size, across.size() + gap59.size());
  EXPECT_EQ(records[0].endTime, t0 + 98);
  EXPECT_EQ(records[1].size, gap60.size());
  EXPECT_EQ(records[2].size, backwards.size());
}

TEST_F(TimedFrameChainTest, TruncatedImageYieldsNothing) {
  TempDir dir;
  // A frame whose length runs past the end of the image.
  auto truncated = junkBytes(10);
  auto frame = pesFrame(0xE0, t0, 60000, true);
  frame.resize(3000);
  append(truncated, frame);
  auto out = scanImage(dir, truncated, scanRequest(16, kParseDeep));
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_TRUE(out.files.empty());
  EXPECT_EQ(out.messages.back(), "深度解析**" + brandName(16) + "**视频流信息完成");
}

TEST_F(TimedFrameChainTest, ReloadedTaskListsTheSameFiles) {
  TempDir dir;
  std::vector<std::uint8_t> image = junkBytes(17);
  for (int k = 0; k < 4; ++k) append(image, pesFrame(0xE0, t0 + static_cast<std::uint32_t>(k), 700, k == 0));
  append(image, {0, 0, 1, 0xE0});
  auto out = scanImage(dir, image, scanRequest(16, kParseQuick));
  ASSERT_TRUE(out.ok);
  auto again = loadTaskFolder(dir.file("task"), dir.file("image.img"));
  ASSERT_TRUE(again.ok) << again.error;
  EXPECT_EQ(again.files, out.files);
  EXPECT_EQ(again.keys, out.keys);
  EXPECT_EQ(again.bytes, out.bytes);
  ASSERT_EQ(out.files.size(), 1u);
  EXPECT_EQ(out.files[0].size, 4u * 706u);
}

// The recorder's zone, not the workstation's, decides which frames are plausible and where runs
// break: frames at the turn of 2010 and of a month in Shanghai, scanned on a UTC workstation.
TEST_F(TimedFrameChainTest, TheRecordersZoneDecidesPlausibilityAndRunBreaks) {
  TempDir dir;
  const std::uint32_t newYear = localEpoch(2010, 1, 1, 0, 0, 0);
  const std::uint32_t monthEnd = localEpoch(2016, 1, 31, 23, 59, 50);
  std::vector<std::uint8_t> image = junkBytes(64);
  append(image, pesFrame(0xE3, newYear, 1019, true));  // 1025 bytes: above the run minimum
  append(image, pesFrame(0xE3, newYear + 1, 594, false));
  append(image, pesFrame(0xE1, monthEnd, 1019, true));
  append(image, pesFrame(0xE1, monthEnd + 15, 1019, true));  // 00:00:05 on the 1st in Shanghai
  append(image, {0, 0, 1, 0xE0});
  append(image, junkBytes(500));

  auto inShanghai = scanRequest(16, kParseDeep);
  const ScanOutcome here = scanImage(dir, image, inShanghai);  // today's way: the process's zone
  ScanOutcome named, plain;
  {
    ZoneGuard utc("UTC");
    inShanghai.zone = "Asia/Shanghai";
    named = scanImage(dir, image, inShanghai);
    plain = scanImage(dir, image, scanRequest(16, kParseDeep));
  }
  ASSERT_TRUE(here.ok && named.ok && plain.ok) << named.error;
  ASSERT_EQ(named.files.size(), 3u);
  EXPECT_EQ(named.keys, (std::vector<std::uint64_t>{fileMapKey(2, calendarCode(2016, 1, 31)),
                                                     fileMapKey(2, calendarCode(2016, 2, 1)),
                                                     fileMapKey(4, calendarCode(2010, 1, 1))}));
  EXPECT_EQ(named.files, here.files);
  EXPECT_EQ(named.records, here.records);
  EXPECT_EQ(named.bytes, here.bytes);
  // Read in UTC the year 2010 has not begun, and the two frames lie 15 s apart on one day.
  ASSERT_EQ(plain.files.size(), 1u);
  EXPECT_EQ(plain.keys[0], fileMapKey(2, calendarCode(2016, 1, 31)));
  EXPECT_EQ(plain.records[0].size(), 1u);
  EXPECT_EQ(plain.files[0].endTime, monthEnd + 15);
}

TEST_F(TimedFrameChainTest, AnUnreadableBlockEndsTheOpenRun) {
  TempDir dir;
  // 512-byte frames from byte 0; the block after the first cannot be read, and the block after
  // it starts exactly on a frame.
  std::vector<std::uint8_t> frames;
  for (std::uint32_t k = 0; k < 6144; ++k) append(frames, microFrame(t0 + k / 400, 480, k % 1024 == 0));
  SparseImage image(frames.size());
  image.put(0, frames);
  auto out = scanSparse(dir, std::make_shared<SparseImage>(image), scanRequest(12, kParseDeep), {0x180000 / 512}).outcome;
  ASSERT_TRUE(out.ok);
  EXPECT_NE(std::find_if(out.messages.begin(), out.messages.end(),
                         [](const std::string& m) { return m.starts_with("读取源设备失败,可能存在坏道: "); }),
            out.messages.end());
  std::vector<SegmentRecord> records;
  for (const auto& file : out.records) records.insert(records.end(), file.begin(), file.end());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].deviceOffset, 0u);
  EXPECT_EQ(records[0].size, 0x100000u);
  EXPECT_EQ(records[1].deviceOffset, 0x200200u);
  EXPECT_EQ(records[1].size, frames.size() - 0x200200 - 512);  // the last frame has no follower
  EXPECT_EQ(records[1].firstKeyOffset, 0x280000 - 0x200200);  // key frames every 0x80000 bytes
}

}  // namespace
}  // namespace norvale::test
