// Brand 8: 16-byte packet headers with the recorder's own time bit order.
#include <gtest/gtest.h>

#include <memory>

#include "parsers/reversed_time_packet_parser.h"
#include "base/byte_reader.h"
#include "support/conformance_images.h"
#include "support/frame_parser_support.h"
#include "task/task_context.h"
#include "format/time_convention.h"

namespace norvale::test {
namespace {

std::uint32_t recorderTime(int year, int month, int day, int hour, int minute, int second) {
  return static_cast<std::uint32_t>(year - 2000) | static_cast<std::uint32_t>(month) << 6 |
         static_cast<std::uint32_t>(day) << 10 | static_cast<std::uint32_t>(hour) << 15 |
         static_cast<std::uint32_t>(minute) << 20 | static_cast<std::uint32_t>(second) << 26;
}

// A packet of channel byte c with s payload bytes (s + 16 in all).
std::vector<std::uint8_t> packet(std::uint8_t c, std::uint32_t time, std::uint32_t s, std::uint8_t unit = 0x65) {
  std::vector<std::uint8_t> p(s + 16, 0x33);
  p[2] = c;
  putLe32(&p[4], s);
  putLe32(&p[12], time);
  p[16] = 0, p[17] = 0, p[18] = 0, p[19] = 1;
  if (s > 4) p[20] = unit;
  return p;
}

// What makes the packet before it acceptable: a header with the start code 16 bytes in.
std::vector<std::uint8_t> follower() {
  std::vector<std::uint8_t> f(20, 0x44);
  f[16] = 0, f[17] = 0, f[18] = 0, f[19] = 1;
  return f;
}

class ReversedTimePacketTest : public ::testing::Test {
 protected:
  std::optional<Packet> test(const std::vector<std::uint8_t>& bytes) {
    DeviceHandle device;
    device.open(std::make_unique<MemorySource>(bytes));
    return m_parser.decoder().decode(PacketWindow{bytes.data(), bytes.size(), static_cast<std::int64_t>(bytes.size()), 0},
                               device);
  }
  TaskContext m_task;
  ReversedTimePacketParser m_parser;
  std::uint32_t t = recorderTime(2016, 5, 17, 8, 30, 0);
};

TEST_F(ReversedTimePacketTest, RecorderTimeMovesEveryFieldToItsPackedPlace) {
  EXPECT_EQ(packedFromReversed(t).raw, PackedTime::fromFields(2016, 5, 17, 8, 30, 0).raw);
  EXPECT_EQ(packedFromReversed(recorderTime(2020, 12, 31, 23, 59, 58)).raw,
            PackedTime::fromFields(2020, 12, 31, 23, 59, 58).raw);
}

TEST_F(ReversedTimePacketTest, PayloadSizeBounds) {
  for (std::uint32_t s : {4u, 5u}) {
    auto bytes = packet(0, t, s);
    append(bytes, follower());
    EXPECT_EQ(test(bytes).has_value(), s == 5) << s;
  }
  // The largest sizes: the follower lies 100 MiB on and is read from the device.
  for (std::uint32_t s : {0x63FFFFFu, 0x6400000u}) {
    SparseImage image(s + 16 + 4096);
    auto head = packet(0, t, 100);
    putLe32(&head[4], s);
    image.put(0, head);
    image.put(s + 16, follower());
    DeviceHandle device;
    device.open(std::make_unique<SparseSource>(std::make_shared<SparseImage>(image), std::set<std::uint64_t>{}, nullptr));
    auto got = m_parser.decoder().decode(PacketWindow{head.data(), head.size(), static_cast<std::int64_t>(head.size()), 0},
                                   device);
    EXPECT_EQ(got.has_value(), s == 0x63FFFFF) << s;
    if (got) {
      EXPECT_EQ(got->advance, 0x63FFFFFu + 16);
    }
  }
}

TEST_F(ReversedTimePacketTest, ChannelKindAndPlausibility) {
  auto with = [&](std::uint8_t c, std::uint32_t time, std::uint8_t unit) {
    auto bytes = packet(c, time, 40, unit);
    append(bytes, follower());
    return test(bytes);
  };
  auto wrapped = with(0xFF, t, 0x65);
  ASSERT_TRUE(wrapped);
  EXPECT_EQ(wrapped->channel, 0u);
  EXPECT_EQ(with(2, t, 0x65)->channel, 3u);
  EXPECT_EQ(with(0, t, 0x65)->kind, SegmentKind::Key);
  EXPECT_EQ(with(0, t, 0x41)->kind, SegmentKind::Key);
  EXPECT_EQ(with(0, t, 0x21)->kind, SegmentKind::Other);
  EXPECT_EQ(with(0, t, 0x01)->kind, SegmentKind::Other);
  EXPECT_FALSE(with(0, 0, 0x65));
  EXPECT_FALSE(with(0, recorderTime(2021, 1, 1, 0, 0, 0), 0x65));
  EXPECT_FALSE(with(0, recorderTime(2016, 13, 1, 0, 0, 0), 0x65));
  EXPECT_TRUE(with(0, recorderTime(2016, 0, 0, 24, 60, 60), 0x65));
  auto noFollower = packet(0, t, 40);
  append(noFollower, junkBytes(40));
  EXPECT_FALSE(test(noFollower));
}

// Channel 3: a run of packets 59 s apart, one 60 s later and one going backwards; channels 1 and
// 2 interleaved; a last packet without follower.
struct ChannelPackets {
  std::vector<std::uint8_t> image, run, later, back;
  std::uint64_t runAt = 0;
};

ChannelPackets channelPackets(std::uint32_t t) {
  std::vector<std::uint8_t> image = junkBytes(21);
  std::vector<std::uint8_t> run;  // channel 3, times 59 s apart
  append(run, packet(2, recorderTime(2016, 5, 17, 8, 30, 0), 300, 0x01));
  append(run, packet(2, recorderTime(2016, 5, 17, 8, 30, 59), 300, 0x65));
  const std::uint64_t runAt = image.size();
  append(image, run);
  std::vector<std::uint8_t> later = packet(2, recorderTime(2016, 5, 17, 8, 31, 59), 200);  // 60 s: new run
  append(image, later);
  std::vector<std::uint8_t> back = packet(2, recorderTime(2016, 5, 17, 8, 31, 58), 200);  // backwards
  append(image, back);
  // Channels 1 and 2 interleaved: one record per packet.
  for (int k = 0; k < 4; ++k) append(image, packet(static_cast<std::uint8_t>(k % 2), t, 100));
  append(image, packet(0, t, 100));  // the last packet: no follower, rejected
  append(image, junkBytes(64));
  return {image, run, later, back, runAt};
}

const ConformanceImageRegistrar kConformance({.brand = 8, .mode = kParseDeep, .shift = 65, .build = [] {
  return channelPackets(recorderTime(2016, 5, 17, 8, 30, 0)).image;
}});

TEST_F(ReversedTimePacketTest, RunsJoinPacketsOfOneChannelWithFollowingTimes) {
  TempDir dir;
  const auto [image, run, later, back, runAt] = channelPackets(t);

  for (std::uint8_t mode : {kParseQuick, kParseDeep}) {
    auto out = scanImage(dir, image, scanRequest(8, mode));
    ASSERT_TRUE(out.ok) << out.error;
    std::vector<SegmentRecord> all;
    for (const auto& r : out.records) all.insert(all.end(), r.begin(), r.end());
    ASSERT_EQ(all.size(), 7u);
    // Channel 1 and 2 files come first in the file map.
    ASSERT_EQ(out.files.size(), 3u);
    EXPECT_EQ(out.files[0].channel, 1);
    EXPECT_EQ(out.records[0].size(), 2u);
    EXPECT_EQ(out.files[1].channel, 2);
    EXPECT_EQ(out.files[2].channel, 3);
    const auto& ch3 = out.records[2];
    ASSERT_EQ(ch3.size(), 3u);  // sorted by start time: run, the backwards packet, the later one
    EXPECT_EQ(ch3[0].deviceOffset, runAt);
    EXPECT_EQ(ch3[0].size, run.size());
    EXPECT_EQ(ch3[0].firstKeyOffset, 316);
    EXPECT_EQ(ch3[0].kind, SegmentKind::Key);
    EXPECT_EQ(ch3[0].endTime, packedFromReversed(recorderTime(2016, 5, 17, 8, 30, 59)).raw);
    EXPECT_EQ(ch3[1].size, back.size());
    EXPECT_EQ(ch3[2].size, later.size());
    EXPECT_EQ(out.keys[2], fileMapKey(3, calendarCode(2016, 5, 17)));
    EXPECT_EQ(timeText(ReversedTimePacketParser::timeConvention(mode), out.files[2].startTime),
              "2016年05月17日 08时30分00秒");
    std::vector<std::uint8_t> expected = run;
    append(expected, back);
    append(expected, later);
    EXPECT_EQ(out.bytes[2], expected);
  }
  auto again = loadTaskFolder(dir.file("task"), dir.file("image.img"));
  ASSERT_TRUE(again.ok) << again.error;
  EXPECT_EQ(again.keys.size(), 3u);
  expectShiftedOffsets(dir, image, scanRequest(8, kParseDeep), 65);
}

TEST_F(ReversedTimePacketTest, HostileSizeYieldsNothing) {
  TempDir dir;
  // A header whose payload size runs past the image end, followed by one that fits.
  auto image = packet(0, t, 0x63FFFFF);
  image.resize(4000);
  auto out = scanImage(dir, image, scanRequest(8, kParseDeep));
  ASSERT_TRUE(out.ok);
  EXPECT_TRUE(out.files.empty());
}

}  // namespace
}  // namespace norvale::test
