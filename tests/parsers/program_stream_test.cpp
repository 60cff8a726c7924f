// Brand 1: index areas of the data blocks (quick) and program-stream packets (deep).
#include <gtest/gtest.h>

#include <memory>

#include "format/packed_time.h"
#include "parsers/program_stream_parser.h"
#include "base/byte_reader.h"
#include "support/conformance_images.h"
#include "support/frame_parser_support.h"
#include "task/task_context.h"
#include "format/time_convention.h"

namespace norvale::test {
namespace {

constexpr std::uint64_t kIndexAt = 0x3FF00000;

// Master header: signature, first block, data area size, block size.
std::vector<std::uint8_t> masterHeader(std::uint64_t first, std::uint64_t area, std::uint64_t blockSize) {
  std::vector<std::uint8_t> h(1024, 0);
  const std::uint8_t signature[8] = {0x48, 0x49, 0x4B, 0x56, 0x49, 0x53, 0x49, 0x4F};
  std::copy(signature, signature + 8, h.begin() + 0x210);
  putLe64(&h[0x278], first);
  putLe64(&h[0x280], area);
  putLe64(&h[0x288], blockSize);
  return h;
}

void putEntry(std::vector<std::uint8_t>& area, std::size_t k, std::uint8_t channel, std::uint32_t startTime,
              std::uint32_t endTime, std::uint32_t start, std::uint32_t end) {
  std::uint8_t* e = &area[k * 512];
  e[0x0D] = channel;
  putLe32(e + 0x30, endTime);
  putLe32(e + 0x38, startTime);
  putLe32(e + 0x48, start);
  putLe32(e + 0x4C, end);
}

std::vector<std::uint8_t> packHeader() {
  std::vector<std::uint8_t> p(20, 0x44);
  p[0] = 0, p[1] = 0, p[2] = 1, p[3] = 0xBA;
  return p;
}

// A stream map of 36 bytes carrying packed time t from bit 2 of byte 16.
std::vector<std::uint8_t> streamMap(std::uint32_t t) {
  std::vector<std::uint8_t> p(36, 0x44);
  p[0] = 0, p[1] = 0, p[2] = 1, p[3] = 0xBC, p[4] = 0, p[5] = 30;
  const std::uint32_t high = t >> 2;
  p[16] = static_cast<std::uint8_t>(high >> 24), p[17] = static_cast<std::uint8_t>(high >> 16);
  p[18] = static_cast<std::uint8_t>(high >> 8), p[19] = static_cast<std::uint8_t>(high);
  p[20] = static_cast<std::uint8_t>((t & 3) << 6);
  return p;
}

std::vector<std::uint8_t> videoPacket(std::uint16_t length) {
  std::vector<std::uint8_t> p(length + 6u, 0x55);
  p[0] = 0, p[1] = 0, p[2] = 1, p[3] = 0xE0, p[4] = static_cast<std::uint8_t>(length >> 8);
  p[5] = static_cast<std::uint8_t>(length);
  return p;
}


class ProgramStreamTest : public ::testing::Test {
 protected:
  ZoneGuard m_zone{"Asia/Shanghai"};  // the expectations are Shanghai times
  std::optional<Packet> test(const std::vector<std::uint8_t>& bytes) {
    DeviceHandle device;
    device.open(std::make_unique<MemorySource>(bytes));
    return m_parser.decoder().decode(PacketWindow{bytes.data(), bytes.size(), static_cast<std::int64_t>(bytes.size()), 0},
                               device);
  }
  TaskContext m_task;
  ProgramStreamParser m_parser;
};

TEST_F(ProgramStreamTest, StreamMapTimeIsPackedFromBitTwoOfByte16) {
  const std::uint32_t t = packed(2016, 5, 17, 8, 30, 59);
  EXPECT_EQ(streamMapTime(streamMap(t).data(), YearWindow::legacy()), t);
  EXPECT_FALSE(streamMapTime(streamMap(packed(2009, 5, 17, 8, 30, 59)).data(), YearWindow::legacy()));
  EXPECT_FALSE(streamMapTime(streamMap(packed(2021, 5, 17, 8, 30, 59)).data(), YearWindow::legacy()));
  EXPECT_TRUE(streamMapTime(streamMap(packed(2010, 12, 0, 24, 60, 60)).data(), YearWindow::legacy()));
  EXPECT_FALSE(streamMapTime(streamMap(packed(2016, 13, 1, 0, 0, 0)).data(), YearWindow::legacy()));
  EXPECT_FALSE(streamMapTime(streamMap(packed(2016, 1, 1, 25, 0, 0)).data(), YearWindow::legacy()));
}

TEST_F(ProgramStreamTest, PacketTestsAndTheirFollowers) {
  auto with = [](std::vector<std::uint8_t> p) {
    append(p, {0, 0, 1, 0xE0});
    return p;
  };
  auto pack = test(with(packHeader()));
  ASSERT_TRUE(pack);
  EXPECT_EQ(pack->advance, 20u);
  EXPECT_EQ(pack->kind, SegmentKind::Other);
  EXPECT_EQ(pack->time, 0u);
  auto map = test(with(streamMap(packed(2016, 5, 17, 8, 30, 0))));
  ASSERT_TRUE(map);
  EXPECT_EQ(map->kind, SegmentKind::Key);
  EXPECT_EQ(map->advance, 36u);
  EXPECT_EQ(map->time, packed(2016, 5, 17, 8, 30, 0));
  EXPECT_EQ(map->channel, 1u);
  EXPECT_FALSE(test(with(streamMap(packed(2009, 5, 17, 8, 30, 0)))));
  auto video = test(with(videoPacket(1000)));
  ASSERT_TRUE(video);
  EXPECT_EQ(video->advance, 1006u);
  auto lonely = videoPacket(1000);
  append(lonely, junkBytes(8));
  EXPECT_FALSE(test(lonely));
  EXPECT_FALSE(test({0, 0, 2, 0xBA, 0, 0}));
}

// Deep mode: two runs from their stream maps, a rejected map and a run that never meets one.
struct StreamRuns {
  std::vector<std::uint8_t> image, run1, run2;
  std::uint64_t run1At = 0, run2At = 0;
};

StreamRuns streamRuns(std::uint32_t t) {
  std::vector<std::uint8_t> image = junkBytes(10);
  std::vector<std::uint8_t> run1;
  append(run1, packHeader());
  append(run1, streamMap(t));
  append(run1, videoPacket(3000));
  append(run1, packHeader());
  append(run1, streamMap(t + 59));  // 59 s on: same run
  append(run1, videoPacket(3000));
  const std::uint64_t run1At = image.size();
  append(image, run1);
  std::vector<std::uint8_t> run2;  // 60 s after run1's last map: a new run
  append(run2, streamMap(packed(2016, 5, 17, 8, 31, 59)));
  append(run2, videoPacket(2000));
  const std::uint64_t run2At = image.size();
  append(image, run2);
  auto badMap = streamMap(packed(2009, 5, 17, 8, 32, 0));  // year offset 9: rejected, run2 ends
  append(image, badMap);
  std::vector<std::uint8_t> keyless;  // never meets a stream map: never added
  append(keyless, packHeader());
  append(keyless, videoPacket(5000));
  append(image, keyless);
  append(image, {0, 0, 1, 0xE0});
  append(image, junkBytes(30));
  return {image, run1, run2, run1At, run2At};
}

std::vector<std::uint8_t> streamRunsImage() { return streamRuns(packed(2016, 5, 17, 8, 30, 0)).image; }
const ConformanceImageRegistrar kConformance({.brand = 1, .mode = kParseDeep, .shift = 65, .build = &streamRunsImage});

TEST_F(ProgramStreamTest, DeepRunsStartAtTheirFirstStreamMap) {
  TempDir dir;
  const std::uint32_t t = packed(2016, 5, 17, 8, 30, 0);
  const auto [image, run1, run2, run1At, run2At] = streamRuns(t);

  auto out = scanImage(dir, image, scanRequest(1, kParseDeep));
  ASSERT_TRUE(out.ok) << out.error;
  ASSERT_EQ(out.files.size(), 1u);
  ASSERT_EQ(out.records[0].size(), 2u);
  const SegmentRecord& r1 = out.records[0][0];
  EXPECT_EQ(r1.deviceOffset, run1At);
  EXPECT_EQ(r1.size, run1.size());
  EXPECT_EQ(r1.startTime, t);
  EXPECT_EQ(r1.endTime, t + 59);
  EXPECT_EQ(r1.firstKeyOffset, 20);
  const SegmentRecord& r2 = out.records[0][1];
  EXPECT_EQ(r2.deviceOffset, run2At);
  EXPECT_EQ(r2.size, run2.size());
  std::vector<std::uint8_t> expected = run1;
  append(expected, run2);
  EXPECT_EQ(out.bytes[0], expected);
  EXPECT_EQ(out.keys[0], fileMapKey(1, calendarCode(2016, 5, 17)));
  EXPECT_EQ(timeText(ProgramStreamParser::timeConvention(kParseDeep), out.files[0].startTime),
            "2016年05月17日 08时30分00秒");
  EXPECT_EQ(out.endSector, (image.size() + 511) / 512);
  auto again = loadTaskFolder(dir.file("task"), dir.file("image.img"));
  ASSERT_TRUE(again.ok) << again.error;
  EXPECT_EQ(again.keys, out.keys);
  EXPECT_EQ(again.files, out.files);
  expectShiftedOffsets(dir, image, scanRequest(1, kParseDeep), 65);
}

TEST_F(ProgramStreamTest, QuickModeReadsTheIndexAreaOfEveryBlock) {
  TempDir dir;
  // 256 MiB blocks from byte 0: the index is still read 1 GiB - 1 MiB into each block.
  const std::uint64_t block = 0x10000000;
  SparseImage image(0x50000000);
  image.put(0, masterHeader(0, 8 * block, block));
  const std::uint32_t t = utcEpoch(2016, 5, 17, 20, 0, 0);  // already the 18th in Shanghai
  std::vector<std::uint8_t> area(0x100000, 0);
  putEntry(area, 0, 2, t, t + 600, 0x100000, 0x180000);         // taken
  putEntry(area, 1, 2, t, t + 600, 0x200000, 0x27FFFF);         // 0x7FFFF bytes: too short
  putEntry(area, 2, 2, t, t + 600, 0x100000, 0x180000);         // same range again
  putEntry(area, 3, 2, utcEpoch(2009, 12, 31, 23, 59, 59), t, 0x300000, 0x380000);
  putEntry(area, 4, 2, utcEpoch(2021, 1, 1, 0, 0, 0), t, 0x300000, 0x380000);
  putEntry(area, 5, 3, utcEpoch(2020, 12, 31, 23, 59, 59), utcEpoch(2020, 12, 31, 23, 59, 59), 0x400000, 0x480000);
  putEntry(area, 6, 2, t + 1, t + 700, 0x80000, 0x200000);      // encloses entry 0: taken
  putEntry(area, 7, 2, t, t + 600, 0x3FE00000, 0x3FF00001);     // ends inside the index area
  putEntry(area, 8, 2, t, t + 600, 0x110000, 0x190000);         // starts inside entry 0
  image.put(kIndexAt, area);
  image.put(0x100000, patternBytes(0x80000));
  std::vector<std::uint8_t> area2(0x100000, 0);
  putEntry(area2, 0, 2, t + 3600, t + 4000, 0x100000, 0x180000);  // block 2 at 256 MiB
  image.put(block + kIndexAt, area2);

  auto out = scanSparseFile(dir, image, scanRequest(1, kParseQuick));
  ASSERT_TRUE(out.ok) << out.error;
  ASSERT_EQ(out.files.size(), 4u);  // quick mode joins nothing
  EXPECT_EQ(out.files[0].channel, 2);
  EXPECT_EQ(out.files[0].startTime, t);
  EXPECT_EQ(out.files[0].endTime, t + 600);
  EXPECT_EQ(out.records[0][0].deviceOffset, 0x100000u);
  EXPECT_EQ(out.bytes[0], patternBytes(0x80000));
  EXPECT_EQ(out.files[1].startTime, t + 1);
  EXPECT_EQ(out.files[1].size, 0x180000u);
  EXPECT_EQ(out.records[2][0].deviceOffset, block + 0x100000);
  EXPECT_EQ(out.files[3].channel, 3);
  EXPECT_EQ(out.keys[0], fileMapKey(2, calendarCode(2016, 5, 17)));  // the UTC day
  EXPECT_EQ(out.keys[3], fileMapKey(3, calendarCode(2020, 12, 31)));
  EXPECT_EQ(timeText(ProgramStreamParser::timeConvention(kParseQuick), out.files[0].startTime),
            "2016年05月17日 20时00分00秒");
  EXPECT_EQ(out.endSector, image.size() / 512);
  // Progress counts blocks.
  EXPECT_EQ(out.statuses[1].code, StatusCode::ScanStart);
  EXPECT_EQ(out.statuses[1].value, 5);

  auto again = loadSparseFile(dir, image);
  ASSERT_TRUE(again.ok) << again.error;
  EXPECT_EQ(again.keys, out.keys);
  EXPECT_EQ(again.files, out.files);
}

TEST_F(ProgramStreamTest, QuickModeIndexOfRecentYearsFollowsTheWindow) {
  const std::uint64_t block = 0x10000000;
  SparseImage image(0x50000000);
  image.put(0, masterHeader(0, 8 * block, block));
  std::vector<std::uint8_t> area(0x100000, 0);
  const std::uint32_t recent = utcEpoch(2024, 3, 14, 9, 0, 0);
  const std::uint32_t early = utcEpoch(2005, 3, 14, 9, 0, 0);
  putEntry(area, 0, 1, recent, recent + 600, 0x100000, 0x180000);
  putEntry(area, 1, 2, early, early + 600, 0x200000, 0x280000);
  image.put(kIndexAt, area);
  const auto filesWith = [&](const YearWindow& years) {
    return filesFoundIn(image, scanRequest(1, kParseQuick), years);
  };
  EXPECT_EQ(filesWith(YearWindow{2010, 2027}), 1u);
  EXPECT_EQ(filesWith(YearWindow::legacy()), 0u);
  EXPECT_EQ(filesWith(YearWindow{2000, 2030}), 2u);  // both bounds move
  EXPECT_EQ(filesWith(YearWindow{2000, 2023}), 1u);
}

TEST_F(ProgramStreamTest, QuickModeFallsBackToTheFixedLayout) {
  TempDir dir;
  const std::uint64_t first = 80076800;
  const std::uint32_t t = utcEpoch(2015, 1, 2, 3, 4, 5);
  std::vector<std::uint8_t> area(0x100000, 0);
  putEntry(area, 0, 1, t, t + 60, 0x100000, 0x200000);
  for (std::uint64_t blockSize : {0x6400000ull - 1, 0x6400000ull * 3}) {
    // A block size below 100 MiB, or an area that is no whole number of blocks: no header.
    SparseImage image(first + kIndexAt + 0x100000);
    image.put(0, masterHeader(0, 0x6400000ull * 4, blockSize));
    image.put(first + kIndexAt, area);
    auto out = scanSparseFile(dir, image, scanRequest(1, kParseQuick));
    ASSERT_TRUE(out.ok) << out.error;
    ASSERT_EQ(out.files.size(), 1u) << blockSize;
    EXPECT_EQ(out.records[0][0].deviceOffset, first + 0x100000);
  }
  // One byte short: the last block's index area would end past the device end.
  SparseImage shorter(first + kIndexAt + 0x100000 - 512);
  shorter.put(first + kIndexAt, std::vector<std::uint8_t>(area.begin(), area.end() - 512));
  auto out = scanSparseFile(dir, shorter, scanRequest(1, kParseQuick));
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_TRUE(out.files.empty());
}

TEST_F(ProgramStreamTest, HostileOrMissingHeadersEndTheWalkCleanly) {
  TempDir dir;
  {
    // No bytes at all: the header cannot be read.
    auto out = scanImage(dir, {}, scanRequest(1, kParseQuick));
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_TRUE(out.files.empty());
    ASSERT_GE(out.messages.size(), 2u);
    EXPECT_TRUE(out.messages[1].starts_with("读取源设备失败,可能存在坏道: 扇区 ")) << out.messages[1];
  }
  for (auto [first, area, blockSize] :
       {std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>{0x100000, 0xFFFFFFFFFFF00000ull, 0xFFFFFFFFFFF00000ull},
        {0x100000000ull, 0, 0x6400000}, {0, 0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull}}) {
    // Block and area sizes near 2^64 must neither wrap the position nor the end round.
    SparseImage image(0x41000000);
    image.put(0, masterHeader(first, area, blockSize));
    auto out = scanSparseFile(dir, image, scanRequest(1, kParseQuick));
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_TRUE(out.files.empty());
  }
}

TEST_F(ProgramStreamTest, StartCodesWithoutStreamMapsYieldNothing) {
  TempDir dir;
  // Start codes everywhere: every candidate is tested, none makes a key run.
  std::vector<std::uint8_t> codes;
  for (int k = 0; k < 50000; ++k) append(codes, {0, 0, 1, static_cast<std::uint8_t>(k), 0, 0});
  auto out = scanImage(dir, codes, scanRequest(1, kParseDeep));
  ASSERT_TRUE(out.ok);
  EXPECT_TRUE(out.files.empty());
}

TEST_F(ProgramStreamTest, UnreadableHeaderOrIndexArea) {
  TempDir dir;
  const std::uint64_t block = 0x10000000;
  SparseImage image(0x50000000);
  image.put(0, masterHeader(0, 8 * block, block));
  const std::uint32_t t = utcEpoch(2016, 5, 17, 20, 0, 0);
  std::vector<std::uint8_t> area(0x100000, 0);
  putEntry(area, 0, 2, t, t + 600, 0x100000, 0x180000);
  image.put(kIndexAt, area);
  image.put(block + kIndexAt, area);
  {
    // The first block's index area has a bad sector: the walk goes on with the next block.
    auto out = scanSparse(dir, std::make_shared<SparseImage>(image), scanRequest(1, kParseQuick), {(kIndexAt + 0x80000) / 512}).outcome;
    ASSERT_TRUE(out.ok);
    ASSERT_EQ(out.files.size(), 1u);
    EXPECT_EQ(out.records[0][0].deviceOffset, block + 0x100000);
    EXPECT_TRUE(out.messages[1].starts_with("读取源设备失败,可能存在坏道: 扇区 ")) << out.messages[1];
    EXPECT_EQ(out.endSector, image.size() / 512);
  }
  {
    // The master header cannot be read: no walk, no end sector.
    auto out = scanSparse(dir, std::make_shared<SparseImage>(image), scanRequest(1, kParseQuick), {1}).outcome;
    ASSERT_TRUE(out.ok);
    EXPECT_TRUE(out.files.empty());
    EXPECT_TRUE(out.messages[1].starts_with("读取源设备失败,可能存在坏道: 扇区 ")) << out.messages[1];
    EXPECT_EQ(out.endSector, 0u);
  }
}

}  // namespace
}  // namespace norvale::test
