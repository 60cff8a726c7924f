// Brand 17: its own calendar without time zone, the "liu "/" uil" packet test and the
// channel-and-gap runs, in quick and deep mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "base/byte_reader.h"
#include "parsers/brand_table.h"
#include "parsers/marker_packet_parser.h"
#include "support/index_table_images.h"
#include "task/brand_registry.h"
#include "task/task_context.h"

namespace norvale::test {
namespace {

constexpr std::uint32_t kMay17 = 1463473800;  // 2016-05-17 08:30:00 on the recorder's clock

TEST(RecorderClock, CalendarWithoutTimeZone) {
  const auto fields = [](std::uint32_t t) {
    const CalendarTime c = recorderCalendar(t);
    return std::vector<int>{c.year, c.month, c.day, c.hour, c.minute, c.second};
  };
  EXPECT_EQ(fields(0), (std::vector<int>{1970, 1, 1, 0, 0, 0}));
  EXPECT_EQ(fields(86400), (std::vector<int>{1970, 1, 2, 0, 0, 0}));
  EXPECT_EQ(fields(951782400), (std::vector<int>{2000, 2, 29, 0, 0, 0}));   // leap day of a year divisible by 400
  EXPECT_EQ(fields(1456790399), (std::vector<int>{2016, 2, 29, 23, 59, 59}));
  EXPECT_EQ(fields(1483228799), (std::vector<int>{2016, 12, 31, 23, 59, 59}));
  EXPECT_EQ(fields(kMay17), (std::vector<int>{2016, 5, 17, 8, 30, 0}));
  EXPECT_EQ(fields(0xFFFFFFFF), (std::vector<int>{2106, 2, 7, 6, 28, 15}));  // 2100 is no leap year
}

TEST(RecorderClock, TimeTextDayCodeAndJoinRule) {
  const TimeConvention c = timeConventionFor(17, 1);
  EXPECT_EQ(timeText(c, 86400), "1970年01月02日 00时00分00秒");
  EXPECT_EQ(timeText(c, 0), "未知日期");
  // 23:30 on the recorder's clock stays on its day whatever the machine's zone (Asia/Shanghai here).
  EXPECT_EQ(dayCode(c, 1463527800), calendarCode(2016, 5, 17));
  EXPECT_EQ(dayCode(timeConventionFor(17, 0), 1463527800), calendarCode(2016, 5, 17));
  EXPECT_TRUE(c.joins(kMay17, kMay17 + 3600));
  EXPECT_FALSE(c.joins(kMay17, kMay17 + 3601));
  EXPECT_FALSE(c.joins(kMay17, kMay17 - 1));
  // Months weigh 12 days: from Jan 31 23:59:00 to Feb 1 00:01:00 is a negative difference.
  EXPECT_FALSE(c.joins(1454284740, 1454284860));
}

class MarkerProbe {
 public:
  explicit MarkerProbe(std::shared_ptr<const SparseImage> device = std::make_shared<SparseImage>(1 << 20))
      {
    m_device.open(std::make_unique<SparseSource>(std::move(device), std::set<std::uint64_t>{}, &reads));
  }
  std::optional<Packet> test(const std::vector<std::uint8_t>& buffer, std::int64_t valid, std::uint64_t at = 0x4000) {
    return m_parser.decoder().decode(PacketWindow{buffer.data(), buffer.size(), valid, at}, m_device);
  }
  std::optional<Packet> testFollowed(std::vector<std::uint8_t> packet) {
    append(packet, markerPacket(0, kMay17, 5, false));
    packet.resize(packet.size() + 512);
    return test(packet, static_cast<std::int64_t>(packet.size() - 512));
  }
  std::vector<std::pair<std::uint64_t, std::size_t>> reads;

 private:
  TaskContext m_task;
  MarkerPacketParser m_parser;
  DeviceHandle m_device;
};

TEST(MarkerPacket, AcceptedPacketFields) {
  MarkerProbe probe;
  const auto key = probe.testFollowed(markerPacket(3, kMay17, 100, true));
  ASSERT_TRUE(key);
  EXPECT_EQ(key->kind, SegmentKind::Key);
  EXPECT_EQ(key->channel, 4u);
  EXPECT_EQ(key->time, kMay17);
  EXPECT_EQ(key->dataOffset, 0x4000u);
  EXPECT_EQ(key->dataLength, 228u);
  EXPECT_EQ(key->advance, 228u);
  EXPECT_EQ(probe.testFollowed(markerPacket(0xFF, kMay17, 100, false))->kind, SegmentKind::Other);
  EXPECT_EQ(probe.testFollowed(markerPacket(0xFF, kMay17, 100, false))->channel, 0u);
}

TEST(MarkerPacket, PayloadAndTimeBounds) {
  MarkerProbe probe;
  EXPECT_FALSE(probe.testFollowed(markerPacket(0, kMay17, 4, true)));
  EXPECT_TRUE(probe.testFollowed(markerPacket(0, kMay17, 5, true)));
  EXPECT_TRUE(probe.testFollowed(markerPacket(0, kMay17, 0x200000, true)));
  auto tooLong = markerPacket(0, kMay17, 16, true);
  putLe32(&tooLong[60], 0x200001);
  EXPECT_FALSE(probe.testFollowed(tooLong));
  EXPECT_FALSE(probe.testFollowed(markerPacket(0, 0, 10, true)));
  EXPECT_FALSE(probe.testFollowed(markerPacket(0, 1609459200, 10, true)));  // 2021-01-01
  EXPECT_TRUE(probe.testFollowed(markerPacket(0, 1609459199, 10, true)));
  EXPECT_TRUE(probe.testFollowed(markerPacket(0, 1, 10, true)));
}

TEST(MarkerPacket, BothMarkersOfPacketAndFollowerAreNeeded) {
  MarkerProbe probe;
  auto noTail = markerPacket(0, kMay17, 10, true);
  noTail[124] = 'x';
  EXPECT_FALSE(probe.testFollowed(noTail));
  auto packet = markerPacket(0, kMay17, 10, true);
  auto follower = markerPacket(0, kMay17, 10, true);
  follower[125] = 'U';
  append(packet, follower);
  packet.resize(packet.size() + 512);
  EXPECT_FALSE(probe.test(packet, static_cast<std::int64_t>(packet.size())));
}

TEST(MarkerPacket, FollowerMarkersPastTheValidBytesAreReadFromTheDevice) {
  // The follower's first marker came from the device, its second did not: the device decides.
  auto chain = markerPacket(0, kMay17, 300, true);
  append(chain, markerPacket(0, kMay17, 300, false));
  auto device = std::make_shared<SparseImage>(1 << 20);
  device->put(0x4000, chain);
  std::vector<std::uint8_t> buffer(chain.begin(), chain.begin() + 428 + 64);
  buffer.resize(buffer.size() + 512);
  MarkerProbe probe(device);
  ASSERT_TRUE(probe.test(buffer, 428 + 64));
  ASSERT_EQ(probe.reads.size(), 1u);
  EXPECT_EQ(probe.reads[0].first, (0x4000u + 428 + 124) / 512 * 512);

  auto cut = std::make_shared<SparseImage>(0x4000 + 428 + 100);  // the follower is cut by the end
  cut->put(0x4000, chain);
  MarkerProbe atEnd(cut);
  EXPECT_FALSE(atEnd.test(buffer, 428 + 64));
  EXPECT_TRUE(atEnd.reads.empty());
}

TEST(MarkerPacket, TruncatedWindowIsRejected) {
  MarkerProbe probe;
  auto packet = markerPacket(0, kMay17, 10, true);
  packet.resize(132);
  EXPECT_FALSE(probe.test(packet, 132));
}

// ---- scans ----

struct Chain {
  std::vector<std::uint8_t> image;
  std::uint64_t add(std::uint8_t channelByte, std::uint32_t time, std::uint32_t payload, bool key) {
    const std::uint64_t at = image.size();
    append(image, markerPacket(channelByte, time, payload, key));
    return at;
  }
  void garbage(std::size_t n) { append(image, std::vector<std::uint8_t>(n, 0xEE)); }
  std::vector<std::uint8_t> slice(std::uint64_t from, std::uint64_t to) const {
    return {image.begin() + static_cast<std::ptrdiff_t>(from), image.begin() + static_cast<std::ptrdiff_t>(to)};
  }
};

TEST(MarkerScan, RunsByChannelAndGapInBothModes) {
  Chain c;
  c.garbage(77);
  const std::uint64_t a = c.add(0, kMay17, 500, false);        // run A, channel 1: first key 628 bytes in
  c.add(0, kMay17 + 1, 500, true);
  c.add(0, kMay17 + 60, 500, false);                            // 59 s after the last: joins
  const std::uint64_t b = c.add(1, kMay17 + 60, 300, true);    // same time, other channel: splits
  const std::uint64_t b2 = c.add(1, kMay17 + 120, 300, true);  // 60 s: splits
  c.add(1, kMay17 + 200, 128, true);   // a run of 256 bytes: dropped
  c.add(0, kMay17 + 5000, 5, true);     // only there as the follower of the one before
  c.garbage(10);
  const std::uint64_t e = c.add(0, kMay17 + 3000, 129, true);  // 257 bytes: kept
  const std::uint64_t last = c.add(0, kMay17 + 3001, 50, true);  // no follower: not part of any run
  c.garbage(300);

  for (const std::uint8_t mode : {std::uint8_t{0}, std::uint8_t{1}}) {
    TempDir dir;
    const auto out = scanImage(dir, c.image, scanRequest(17, mode));
    ASSERT_TRUE(out.ok) << out.error;
    const std::string brand = brandName(17);
    EXPECT_EQ(out.messages.front(), std::string(mode == 0 ? "正在快速解析**" : "正在深度解析**") + brand + "**视频流信息...");
    ASSERT_EQ(out.files.size(), 2u);
    EXPECT_EQ(out.records[0], (std::vector<SegmentRecord>{{SegmentKind::Key, 1, kMay17, kMay17 + 60, 628, a, 3 * 628},
                                                          {SegmentKind::Key, 1, kMay17 + 3000, kMay17 + 3000, 0, e, 257}}));
    std::vector<std::uint8_t> bytes0 = c.slice(a, b);
    append(bytes0, c.slice(e, last));
    EXPECT_EQ(out.bytes[0], bytes0);
    EXPECT_EQ(out.keys[0], fileMapKey(1, calendarCode(2016, 5, 17)));
    EXPECT_EQ(out.records[1], (std::vector<SegmentRecord>{{SegmentKind::Key, 2, kMay17 + 60, kMay17 + 60, 0, b, 428},
                                                          {SegmentKind::Key, 2, kMay17 + 120, kMay17 + 120, 0, b2, 428}}));
    EXPECT_EQ(out.endSector, (c.image.size() + 511) / 512);

    // Reloaded, the files keep their days and their time text.
    const auto loaded = loadTaskFolder(dir.file("task"), dir.file("image.img"));
    ASSERT_TRUE(loaded.ok) << loaded.error;
    EXPECT_EQ(loaded.files, out.files);
    EXPECT_EQ(loaded.keys, out.keys);
    EXPECT_EQ(timeText(timeConventionFor(17, mode), loaded.files[0].startTime), "2016年05月17日 08时30分00秒");
  }
}

TEST(MarkerScan, GapTestCountsAMonthAsTwelveDays) {
  Chain c;
  c.add(0, 1463097600, 300, true);  // 2016-05-13 00:00:00
  c.add(0, 1464739200, 300, true);  // 2016-06-01 00:00:00: no gap with 12-day months
  c.add(1, 1464739199, 300, true);  // 2016-05-31 23:59:59
  c.add(1, 1464739200, 300, true);  // one second later, but a negative difference
  c.add(1, 1464739200, 5, true);
  c.garbage(100);
  auto image = std::make_shared<SparseImage>(c.image.size());
  image->put(0, c.image);
  TempDir dir;
  const auto scan = scanSparse(dir, image, scanRequest(17, 1));
  EXPECT_EQ(scan.sorted, (std::vector<SegmentRecord>{{SegmentKind::Key, 1, 1463097600, 1464739200, 0, 0, 856},
                                                     {SegmentKind::Key, 2, 1464739199, 1464739199, 0, 856, 428},
                                                     {SegmentKind::Key, 2, 1464739200, 1464739200, 0, 1284, 428}}));
}

TEST(MarkerScan, UnreadableBlockEndsTheRun) {
  // 512-byte packets back to back over 3 MiB; the second block cannot be read and the third
  // starts on a packet boundary. The last packet has no follower and belongs to no run.
  std::vector<std::uint8_t> chain;
  for (int i = 0; i < 6144; ++i) append(chain, markerPacket(0, kMay17, 384, true));
  auto image = std::make_shared<SparseImage>(chain.size());
  image->put(0, chain);
  TempDir dir;
  const auto scan = scanSparse(dir, image, scanRequest(17, 1), {(0x100000 + 0x8000) / 512});
  const ScanOutcome& out = scan.outcome;
  EXPECT_TRUE(hasMessage(out.messages, "读取源设备失败,可能存在坏道"));
  ASSERT_EQ(out.files.size(), 1u);
  EXPECT_EQ(out.records[0], (std::vector<SegmentRecord>{{SegmentKind::Key, 1, kMay17, kMay17, 0, 0, 0x100000},
                                                        {SegmentKind::Key, 1, kMay17, kMay17, 0, 0x200200, chain.size() - 512 - 0x200200}}));
}

TEST(MarkerScan, GarbageAndEmptyImages) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{130}, std::size_t{2 << 20}}) {
    auto bytes = patternBytes(size);
    if (size > 1000) {
      auto header = markerPacket(0, kMay17, 5, true);
      putLe32(&header[60], 0x1FFFFF);  // points past the end of the image
      std::copy(header.begin(), header.begin() + 133, bytes.end() - 200);
    }
    auto image = std::make_shared<SparseImage>(size);
    image->put(0, bytes);
    TempDir dir;
    const auto scan = scanSparse(dir, image, scanRequest(17, 1));
    EXPECT_TRUE(scan.outcome.ok);
    EXPECT_TRUE(scan.sorted.empty());
    for (const auto& [offset, length] : scan.reads) EXPECT_LT(offset, std::max<std::uint64_t>(size, 1));
  }
}

}  // namespace
}  // namespace norvale::test
