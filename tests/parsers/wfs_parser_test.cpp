// Brand 3 (WFS): the packet test, quick mode over the superblock at 0x3000 and its index, and
// deep mode over the FC/FD/FA/F9 packet chain.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "parsers/brand_table.h"
#include "format/packed_time.h"
#include "parsers/wfs_parser.h"
#include "base/byte_reader.h"
#include "support/frame_parser_support.h"
#include "support/index_table_images.h"
#include "task/brand_registry.h"
#include "task/task_context.h"

namespace norvale::test {
namespace {

const std::uint32_t kT0 = packed(2016, 5, 17, 8, 30, 0);
const char* kNotWfs = "此设备可能不是WFS监控系统或者请选择深度解析方式";
const char* kReadFailed = "读取源设备失败,可能存在坏道";

class WfsProbe {
 public:
  explicit WfsProbe(std::shared_ptr<const SparseImage> device = std::make_shared<SparseImage>(1 << 20)) {
    m_device.open(std::make_unique<SparseSource>(std::move(device), std::set<std::uint64_t>{}, &reads));
  }
  std::optional<Packet> test(const std::vector<std::uint8_t>& buffer, std::int64_t valid, std::uint64_t at = 0x2000) {
    return m_parser.decoder().decode(PacketWindow{buffer.data(), buffer.size(), valid, at}, m_device);
  }
  // The packet followed by a start code, all of it valid.
  std::optional<Packet> testFollowed(std::vector<std::uint8_t> packet) {
    append(packet, {0, 0, 1, 0xFD});
    packet.resize(packet.size() + 512);
    return test(packet, static_cast<std::int64_t>(packet.size() - 512));
  }
  std::vector<std::pair<std::uint64_t, std::size_t>> reads;

 private:
  TaskContext m_task;
  WfsParser m_parser;
  DeviceHandle m_device;
};

TEST(WfsPacket, ThreePacketTypes) {
  WfsProbe probe;
  const auto key = probe.testFollowed(wfsKeyPacket(kT0, 200));
  ASSERT_TRUE(key);
  EXPECT_EQ(key->kind, SegmentKind::Key);
  EXPECT_EQ(key->time, kT0);
  EXPECT_EQ(key->channel, 1u);
  EXPECT_EQ(key->dataOffset, 0x2000u);
  EXPECT_EQ(key->dataLength, 216u);
  EXPECT_EQ(key->advance, 216u);

  const auto longPacket = probe.testFollowed(wfsLongPacket(300));
  ASSERT_TRUE(longPacket);
  EXPECT_EQ(longPacket->kind, SegmentKind::Other);
  EXPECT_EQ(longPacket->time, 0u);
  EXPECT_EQ(longPacket->dataLength, 308u);

  const auto shortPacket = probe.testFollowed(wfsShortPacket(50));
  ASSERT_TRUE(shortPacket);
  EXPECT_EQ(shortPacket->kind, SegmentKind::Other);
  EXPECT_EQ(shortPacket->dataLength, 58u);

  auto other = wfsShortPacket(50);
  other[3] = 0xFB;
  EXPECT_FALSE(probe.testFollowed(other));
  other[3] = 0xE0;
  EXPECT_FALSE(probe.testFollowed(other));
}

TEST(WfsPacket, KeyPacketNeedsAPlausibleTimeAndBoundedLength) {
  WfsProbe probe;
  EXPECT_FALSE(probe.testFollowed(wfsKeyPacket(0, 10)));
  EXPECT_FALSE(probe.testFollowed(wfsKeyPacket(packed(2021, 1, 1, 0, 0, 0), 10)));
  EXPECT_TRUE(probe.testFollowed(wfsKeyPacket(kT0, 0x200000)));
  auto tooLong = wfsKeyPacket(kT0, 16);
  putLe32(&tooLong[12], 0x200001);
  EXPECT_FALSE(probe.testFollowed(tooLong));
  EXPECT_TRUE(probe.testFollowed(wfsLongPacket(0x200000)));
  auto longTooLong = wfsLongPacket(16);
  putLe32(&longTooLong[4], 0x200001);
  EXPECT_FALSE(probe.testFollowed(longTooLong));
}

TEST(WfsPacket, FollowerMustStartWithAStartCode) {
  WfsProbe probe;
  auto packet = wfsLongPacket(100);
  packet.resize(packet.size() + 512, 0x77);
  EXPECT_FALSE(probe.test(packet, static_cast<std::int64_t>(packet.size())));
  EXPECT_TRUE(probe.reads.empty());
}

TEST(WfsPacket, FollowerPastTheValidBytesIsReadFromTheDevice) {
  auto device = std::make_shared<SparseImage>(1 << 20);
  auto chain = wfsLongPacket(1000);
  append(chain, wfsLongPacket(10));
  device->put(0x2000, chain);
  // Only the first 100 bytes came from the device; the buffer's zeros after them do not count.
  std::vector<std::uint8_t> buffer(chain.begin(), chain.begin() + 100);
  buffer.resize(612);
  WfsProbe probe(device);
  ASSERT_TRUE(probe.test(buffer, 100));
  ASSERT_EQ(probe.reads.size(), 1u);
  EXPECT_EQ(probe.reads[0].first, (0x2000u + 1008) / 512 * 512);

  auto cut = std::make_shared<SparseImage>(0x2000 + 1008);  // the follower would lie past the end
  cut->put(0x2000, chain);
  WfsProbe atEnd(cut);
  EXPECT_FALSE(atEnd.test(buffer, 100));
  EXPECT_TRUE(atEnd.reads.empty());
}

TEST(WfsPacket, TruncatedWindowsAreRejected) {
  WfsProbe probe;
  auto key = wfsKeyPacket(kT0, 0);
  key.resize(15);
  EXPECT_FALSE(probe.test(key, 15));
  auto shortPacket = wfsShortPacket(0);
  shortPacket.resize(7);
  EXPECT_FALSE(probe.test(shortPacket, 7));
}

// ---- quick mode ----

struct WfsVolume {
  SuperblockSpec fields{0x789ABCDE, 512, 16, 0x20, 0x40, 17};  // S = 8 KiB, index at 16 KiB, data at 32 KiB
  std::vector<std::pair<std::uint64_t, IndexRecordSpec>> entries;
  std::vector<std::uint64_t> filled;
  std::uint64_t blockSize() const { return std::uint64_t{fields.unit} * fields.unitsPerBlock; }
  std::uint64_t dataOffset(std::uint64_t k) const { return std::uint64_t{fields.dataStartUnits} * fields.unit + k * blockSize(); }
  void writeTo(SparseImage& image) const {
    image.put(0x3000, superblock(fields));
    for (const auto& [k, e] : entries) image.put(std::uint64_t{fields.indexStartUnits} * fields.unit + k * 32, wfsIndexEntry(e));
    for (const auto k : filled)
      image.put(dataOffset(k), std::vector<std::uint8_t>(blockSize(), static_cast<std::uint8_t>(0x60 + k)));
  }
};

TEST(WfsQuickScan, IndexEntriesBecomeWholeBlocksJoinedWithinAnHour) {
  WfsVolume v;
  v.entries = {
      {0, {0, 0, kT0, plusSeconds(kT0, 30), 1}},
      {1, {0, 0, 0, plusSeconds(kT0, 30), 1}},                                     // start 0: skipped
      {2, {0, 7, plusSeconds(kT0, 5), plusSeconds(kT0, 9), 17}},                  // code 7: channel 2
      {3, {0, 0, plusSeconds(kT0, 5), plusSeconds(kT0, 9), 18}},                  // link above N
      {4, {0, 1, plusSeconds(kT0, 3000), plusSeconds(kT0, 3600), 2}},             // ends 3600 s after the file start
      {5, {0, 2, plusSeconds(kT0, 3100), plusSeconds(kT0, 3601), 2}},             // ends 3601 s after: a new file
  };
  v.filled = {0, 2, 4, 5};
  SparseImage image(v.dataOffset(8));
  v.writeTo(image);
  const auto bytes = image.flat();

  TempDir dir;
  const auto out = scanImage(dir, bytes, scanRequest(3, 0));
  ASSERT_TRUE(out.ok) << out.error;
  const std::string brand = brandName(3);
  EXPECT_EQ(out.messages, (std::vector<std::string>{"正在快速解析**" + brand + "**视频流信息...",
                                                   "正在构建重组**" + brand + "**视频流信息...",
                                                   "快速解析**" + brand + "**视频流信息完成"}));
  EXPECT_EQ(out.endSector, bytes.size() / 512);
  ASSERT_EQ(out.files.size(), 3u);
  const std::uint64_t s = v.blockSize();
  EXPECT_EQ(out.records[0], (std::vector<SegmentRecord>{
                                indexedBlock(1, kT0, plusSeconds(kT0, 30), v.dataOffset(0), s),
                                indexedBlock(1, plusSeconds(kT0, 3000), plusSeconds(kT0, 3600), v.dataOffset(4), s)}));
  std::vector<std::uint8_t> expected(s, 0x60);
  append(expected, std::vector<std::uint8_t>(s, 0x64));
  EXPECT_EQ(out.bytes[0], expected);
  EXPECT_EQ(out.records[1], (std::vector<SegmentRecord>{
                                indexedBlock(1, plusSeconds(kT0, 3100), plusSeconds(kT0, 3601), v.dataOffset(5), s)}));
  EXPECT_EQ(out.records[2],
            (std::vector<SegmentRecord>{indexedBlock(2, plusSeconds(kT0, 5), plusSeconds(kT0, 9), v.dataOffset(2), s)}));
  EXPECT_EQ(out.bytes[2], std::vector<std::uint8_t>(s, 0x62));

  // A second run of the program lists the same files under the same days.
  const auto loaded = loadTaskFolder(dir.file("task"), dir.file("image.img"));
  ASSERT_TRUE(loaded.ok) << loaded.error;
  EXPECT_EQ(loaded.files, out.files);
  EXPECT_EQ(loaded.keys, out.keys);
  EXPECT_EQ(loaded.keys[0], fileMapKey(1, calendarCode(2016, 5, 17)));
  EXPECT_EQ(timeText(timeConventionFor(3, 0), loaded.files[0].startTime), "2016年05月17日 08时30分00秒");
}

// Packed index times test no first year: a 2024 entry needs a window reaching it, a reset
// clock's 2003 passes any window.
TEST(WfsQuickScan, IndexEntriesOfRecentYearsFollowTheWindow) {
  const std::uint32_t recent = packed(2024, 3, 14, 9, 0, 0);
  const std::uint32_t reset = packed(2003, 1, 1, 0, 0, 0);
  WfsVolume v;
  v.entries = {{0, {0, 0, recent, plusSeconds(recent, 30), 1}}, {1, {0, 4, reset, plusSeconds(reset, 30), 1}}};
  v.filled = {0, 1};
  SparseImage image(v.dataOffset(4));
  v.writeTo(image);
  const auto filesWith = [&](const YearWindow& years) {
    return filesFoundIn(image, scanRequest(3, 0), years);
  };
  EXPECT_EQ(filesWith(YearWindow{2010, 2027}), 2u);
  EXPECT_EQ(filesWith(YearWindow::legacy()), 1u);
  EXPECT_EQ(filesWith(YearWindow{2010, 2023}), 1u);
  EXPECT_EQ(filesWith(YearWindow{2025, 2030}), 2u);
}

TEST(WfsQuickScan, RefusedSuperblocks) {
  const auto tryScan = [](const SuperblockSpec& fields) {
    WfsVolume v;
    v.fields = fields;
    v.entries = {{0, {0, 0, kT0, kT0, 0}}};
    SparseImage image(1 << 20);
    v.writeTo(image);
    TempDir dir;
    return scanImage(dir, image.flat(), scanRequest(3, 0));
  };
  SuperblockSpec good{0x789ABCDE, 512, 16, 0x20, 0x40, 17};
  EXPECT_EQ(tryScan(good).files.size(), 1u);
  std::vector<SuperblockSpec> refused(4, good);
  refused[0].magic = 0x55AA55AA;                 // the volume-table magic is not WFS
  refused[1].unit = 1000;                        // not whole sectors
  refused[2].records = 16'384'001;               // N x 32 above 0x1F400000
  refused[3].unitsPerBlock = 0xA00000 / 512 + 1;  // S one unit above 10 MiB
  for (std::size_t i = 0; i < refused.size(); ++i) {
    const auto out = tryScan(refused[i]);
    EXPECT_TRUE(hasMessage(out.messages, kNotWfs)) << i;
    EXPECT_TRUE(out.files.empty()) << i;
  }
}

TEST(WfsQuickScan, TinyOrUnreadableSource) {
  TempDir dir;
  const auto tiny = scanImage(dir, patternBytes(0x3000 + 100), scanRequest(3, 0));
  EXPECT_TRUE(hasMessage(tiny.messages, kNotWfs));
  EXPECT_FALSE(hasMessage(tiny.messages, kReadFailed));

  WfsVolume v;
  v.entries = {{0, {0, 0, kT0, kT0, 0}}};
  auto image = std::make_shared<SparseImage>(1 << 20);
  v.writeTo(*image);
  TempDir dir2;
  const auto scan = scanSparse(dir2, image, scanRequest(3, 0), {0x3000 / 512});
  EXPECT_TRUE(hasMessage(scan.outcome.messages, kReadFailed));
  EXPECT_TRUE(scan.outcome.files.empty());
  EXPECT_EQ(scan.outcome.endSector, 0u);
}

TEST(WfsQuickScan, UnreadableIndexBlockKeepsBlockNumbers) {
  WfsVolume v;
  v.fields.records = 40000;
  v.fields.dataStartUnits = 0x1000;
  v.entries = {{10, {0, 0, kT0, kT0, 0}}, {35000, {0, 4, kT0, plusSeconds(kT0, 2), 0}}};
  v.filled = {35000};
  auto image = std::make_shared<SparseImage>(v.dataOffset(40000));
  v.writeTo(*image);
  TempDir dir;
  const auto scan = scanSparse(dir, image, scanRequest(3, 0), {0x20 + 7});
  const ScanOutcome& out = scan.outcome;
  EXPECT_TRUE(hasMessage(out.messages, kReadFailed));
  ASSERT_EQ(out.files.size(), 1u);
  EXPECT_EQ(out.records[0], (std::vector<SegmentRecord>{indexedBlock(2, kT0, plusSeconds(kT0, 2), v.dataOffset(35000), 8192)}));
  EXPECT_EQ(out.bytes[0], std::vector<std::uint8_t>(8192, static_cast<std::uint8_t>(0x60 + 35000)));
  EXPECT_EQ(out.endSector, image->size() / 512);
}

// ---- deep mode ----

TEST(WfsDeepScan, GapOnlyRunsWithKeyTimes) {
  std::vector<std::uint8_t> image(333, 0xEE);
  const std::uint64_t run1 = image.size();
  append(image, wfsLongPacket(1000));         // 1008, untimed: the run's times wait for a key packet
  append(image, wfsKeyPacket(kT0, 200));      // 216
  append(image, wfsShortPacket(50));          // 58
  append(image, wfsLongPacket(300));          // 308
  append(image, wfsKeyPacket(plusSeconds(kT0, 59), 100));  // 116: 59 s joins
  append(image, wfsShortPacket(20));          // 28
  const std::uint64_t run2 = image.size();
  append(image, wfsKeyPacket(plusSeconds(kT0, 119), 1100));  // 60 s: a new run
  const std::uint64_t last = image.size();
  append(image, wfsLongPacket(100));          // followed by no packet: belongs to no segment
  append(image, std::vector<std::uint8_t>(400, 0xEE));

  TempDir dir;
  const auto out = scanImage(dir, image, scanRequest(3, 1));
  ASSERT_TRUE(out.ok) << out.error;
  ASSERT_EQ(out.files.size(), 1u);
  const std::uint64_t size1 = 1008 + 216 + 58 + 308 + 116 + 28;
  EXPECT_EQ(out.records[0], (std::vector<SegmentRecord>{
                                {SegmentKind::Key, 1, kT0, plusSeconds(kT0, 59), 1008, run1, size1},
                                {SegmentKind::Key, 1, plusSeconds(kT0, 119), plusSeconds(kT0, 119), 0, run2, 1116}}));
  EXPECT_EQ(run2 + 1116, last);
  std::vector<std::uint8_t> expected(image.begin() + static_cast<std::ptrdiff_t>(run1),
                                     image.begin() + static_cast<std::ptrdiff_t>(last));
  EXPECT_EQ(out.bytes[0], expected);
}

// Recorders write information packets (F9) between frames: they continue the chain, so the
// frames after them stay in the file of the key packet before them.
TEST(WfsDeepScan, InformationPacketsBetweenFramesKeepTheRecordingWhole) {
  std::vector<std::uint8_t> image(100, 0xEE);
  const std::uint64_t first = image.size();
  for (int second = 0; second < 3; ++second) {
    append(image, wfsKeyPacket(plusSeconds(kT0, second), 3000));
    append(image, wfsInfoPacket(24));
    for (int frame = 0; frame < 4; ++frame) {
      append(image, wfsLongPacket(700));
      append(image, wfsShortPacket(160));
      append(image, wfsInfoPacket(24));
    }
  }
  const std::uint64_t end = image.size();
  append(image, wfsKeyPacket(plusSeconds(kT0, 3), 16));  // no follower: not part of the recording
  append(image, std::vector<std::uint8_t>(100, 0xEE));

  TempDir dir;
  const auto out = scanImage(dir, image, scanRequest(3, 1));
  ASSERT_TRUE(out.ok) << out.error;
  ASSERT_EQ(out.files.size(), 1u);
  EXPECT_EQ(out.records[0], (std::vector<SegmentRecord>{
                                {SegmentKind::Key, 1, kT0, plusSeconds(kT0, 2), 0, first, end - first}}));
  EXPECT_EQ(out.bytes[0], std::vector<std::uint8_t>(image.begin() + static_cast<std::ptrdiff_t>(first),
                                                    image.begin() + static_cast<std::ptrdiff_t>(end)));
}

TEST(WfsDeepScan, UntimedChainIsKeptWithoutTimes) {
  std::vector<std::uint8_t> bytes(100, 0xEE);
  for (int i = 0; i < 5; ++i) append(bytes, wfsLongPacket(300));
  append(bytes, wfsShortPacket(10));  // ends the chain: no follower
  append(bytes, std::vector<std::uint8_t>(100, 0xEE));
  auto image = std::make_shared<SparseImage>(bytes.size());
  image->put(0, bytes);
  TempDir dir;
  const auto scan = scanSparse(dir, image, scanRequest(3, 1));
  EXPECT_TRUE(scan.outcome.files.empty());  // no key packet: no file can begin with it
  EXPECT_EQ(scan.sorted, (std::vector<SegmentRecord>{{SegmentKind::Other, 1, 0, 0, -1, 100, 5 * 308}}));
}

TEST(WfsDeepScan, RunsOfAtMost1024BytesAreDropped) {
  for (const std::uint32_t payload : {1008u, 1009u}) {
    std::vector<std::uint8_t> bytes(64, 0xEE);
    append(bytes, wfsKeyPacket(kT0, payload));
    append(bytes, wfsShortPacket(4));
    append(bytes, std::vector<std::uint8_t>(64, 0xEE));
    auto image = std::make_shared<SparseImage>(bytes.size());
    image->put(0, bytes);
    TempDir dir;
    const auto scan = scanSparse(dir, image, scanRequest(3, 1));
    if (payload == 1008) {
      EXPECT_TRUE(scan.sorted.empty());
    } else {
      EXPECT_EQ(scan.sorted, (std::vector<SegmentRecord>{{SegmentKind::Key, 1, kT0, kT0, 0, 64, 1025}}));
    }
  }
}

TEST(WfsDeepScan, GarbageAndEmptyImages) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{5}, std::size_t{2 << 20}}) {
    auto bytes = patternBytes(size);
    if (size > 1000) {
      auto header = wfsLongPacket(0);
      putLe32(&header[4], 0x1FFFFF);  // points past the end of the image
      std::copy(header.begin(), header.end(), bytes.end() - 50);
    }
    auto image = std::make_shared<SparseImage>(size);
    image->put(0, bytes);
    for (const std::uint8_t mode : {std::uint8_t{0}, std::uint8_t{1}}) {
      TempDir dir;
      const auto scan = scanSparse(dir, image, scanRequest(3, mode));
      EXPECT_TRUE(scan.outcome.ok);
      EXPECT_TRUE(scan.sorted.empty());
      for (const auto& [offset, length] : scan.reads) EXPECT_LT(offset, std::max<std::uint64_t>(size, 1));
    }
  }
}

}  // namespace
}  // namespace norvale::test
