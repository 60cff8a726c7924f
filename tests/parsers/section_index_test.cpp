// Brand 5: 256 MiB sections with piece entries (quick) and marked packet chains (deep).
#include <gtest/gtest.h>

#include <memory>

#include "parsers/section_index_parser.h"
#include "base/byte_reader.h"
#include "support/conformance_images.h"
#include "support/frame_parser_support.h"
#include "task/brand_scan.h"
#include "task/result_store.h"
#include "task/task_context.h"
#include "format/time_convention.h"

namespace norvale::test {
namespace {

constexpr std::uint64_t kFirst = 0x20000;
constexpr std::uint64_t kSection = 0x10000000;

std::vector<std::uint8_t> sectionHeader(std::uint8_t channelByte, std::uint32_t first, std::uint32_t last) {
  std::vector<std::uint8_t> h(24, 0);
  putLe16(&h[0], 0x5050);
  h[12] = channelByte;
  putLe32(&h[16], first);
  putLe32(&h[20], last);
  return h;
}

std::vector<std::uint8_t> entry(std::uint32_t time, std::uint16_t units, std::uint16_t startUnit) {
  std::vector<std::uint8_t> e(16, 0);
  putLe32(&e[0], time);
  putLe16(&e[8], units);
  putLe16(&e[10], startUnit);
  return e;
}

// The piece's last sector with its fill value at byte 504.
std::vector<std::uint8_t> lastSector(std::uint32_t fill) {
  std::vector<std::uint8_t> s(512, 0x77);
  putLe32(&s[504], fill);
  return s;
}

// A packet of payload d (d + 28 bytes); alt = recognised by 0x1357 at offset 4 instead.
std::vector<std::uint8_t> packet(std::uint16_t d, bool key, bool alt = false) {
  std::vector<std::uint8_t> p(d + 28u, 0x88);
  putLe32(&p[0], alt ? 0x99999999u : 0x1358u);
  putLe32(&p[4], alt ? 0x1357u : 0x88888888u);
  putLe16(&p[22], d);
  if (d >= 5) p[28] = 0, p[29] = 0, p[30] = 0, p[31] = 1, p[32] = key ? 0x65 : 0x21;
  return p;
}

// A section marker; the packet after it begins 8 bytes in, with the marker's 0x1357 at its 4.
std::vector<std::uint8_t> markerWithPacket(std::uint32_t time, std::uint16_t d, bool key) {
  std::vector<std::uint8_t> m(8, 0);
  putLe32(&m[0], 0x2006);
  putLe32(&m[4], time);
  auto p = packet(d, key, true);
  p[0] = 0x11, p[1] = 0x22, p[2] = 0x33, p[3] = 0x44;
  append(m, p);
  return m;
}

class SectionIndexTest : public ::testing::Test {
 protected:
  ZoneGuard m_zone{"Asia/Shanghai"};  // the expectations are Shanghai times
  TaskContext m_task;
  std::uint32_t t = localEpoch(2018, 7, 8, 9, 10, 11);
};

TEST_F(SectionIndexTest, PieceEntriesOfEachSectionMakeOneFile) {
  TempDir dir;
  SparseImage image(kFirst + 2 * kSection);
  const std::uint64_t s0 = kFirst, s1 = kFirst + kSection;
  std::vector<std::uint8_t> index = sectionHeader(3, t, t + 100);
  index.resize(4096, 0);
  auto put = [&](std::uint32_t time, std::uint16_t units, std::uint16_t start) { append(index, entry(time, units, start)); };
  put(t, 2, 512);               // valid: fill 1000
  put(t, 2, 511);               // inside the index area
  put(t + 1, 1, 520);           // fill value 7
  put(t + 2, 1, 530);           // fill value = piece size
  put(t + 3, 1, 540);           // fill value = piece size - 1: valid
  put(t, 1, 65535);             // ends past the section
  put(t, 0, 600);               // no size
  put(localEpoch(2021, 1, 1, 0, 0, 0), 1, 610);
  image.put(s0, index);
  image.put(s0 + 512 * 4096, patternBytes(8192 - 512));
  image.put(s0 + 514 * 4096 - 512, lastSector(1000));
  image.put(s0 + 521 * 4096 - 512, lastSector(7));
  image.put(s0 + 531 * 4096 - 512, lastSector(4096));
  image.put(s0 + 541 * 4096 - 512, lastSector(4095));
  // Section 1: a header whose last time is before its first gives channel 0; two entries of the
  // largest piece pass the section's total, and nothing from there on is taken.
  std::vector<std::uint8_t> index1 = sectionHeader(3, t + 100, t);
  index1.resize(4096, 0);
  append(index1, entry(t, 0xFE00, 512));
  append(index1, entry(t, 0xFE00, 512));
  append(index1, entry(t, 1, 700));
  image.put(s1, index1);
  image.put(s1 + kSection - 512, lastSector(5000));
  image.put(s1 + 701 * 4096 - 512, lastSector(700));

  auto out = scanSparseFile(dir, image, scanRequest(5, kParseQuick));
  ASSERT_TRUE(out.ok) << out.error;
  ASSERT_EQ(out.files.size(), 2u);
  EXPECT_EQ(out.files[0].channel, 0);
  ASSERT_EQ(out.records[0].size(), 1u);
  EXPECT_EQ(out.records[0][0].size, 5000u - 8);
  EXPECT_EQ(out.files[1].channel, 4);
  ASSERT_EQ(out.records[1].size(), 2u);
  EXPECT_EQ(out.records[1][0].deviceOffset, s0 + 512 * 4096 + 8);
  EXPECT_EQ(out.records[1][0].size, 992u);
  EXPECT_EQ(out.records[1][1].size, 4095u - 8);
  EXPECT_EQ(out.files[1].startTime, t);
  EXPECT_EQ(out.files[1].endTime, t + 3);
  auto expected = patternBytes(8192 - 512);
  expected.erase(expected.begin(), expected.begin() + 8);
  expected.resize(992);
  EXPECT_EQ(std::vector<std::uint8_t>(out.bytes[1].begin(), out.bytes[1].begin() + 992), expected);
  EXPECT_EQ(out.keys[1], fileMapKey(4, calendarCode(2018, 7, 8)));
  EXPECT_EQ(timeText(SectionIndexParser::timeConvention(kParseQuick), out.files[1].startTime),
            "2018年07月08日 09时10分11秒");
  EXPECT_EQ(out.endSector, image.size() / 512);

  auto again = loadSparseFile(dir, image);
  ASSERT_TRUE(again.ok) << again.error;
  EXPECT_EQ(again.files, out.files);
  EXPECT_EQ(again.keys, out.keys);
}

// Section headers and entries are seconds in the recorder's zone: both bounds of the window hold.
TEST_F(SectionIndexTest, SectionsOfRecentYearsFollowTheWindow) {
  const std::uint32_t recent = localEpoch(2024, 3, 14, 9, 0, 0);
  SparseImage image(kFirst + kSection);
  std::vector<std::uint8_t> index = sectionHeader(3, recent, recent + 100);
  index.resize(4096, 0);
  append(index, entry(recent, 2, 512));
  image.put(kFirst, index);
  image.put(kFirst + 514 * 4096 - 512, lastSector(1000));
  const auto filesWith = [&](const YearWindow& years) {
    return filesFoundIn(image, scanRequest(5, kParseQuick), years);
  };
  EXPECT_EQ(filesWith(YearWindow{2010, 2027}), 1u);
  EXPECT_EQ(filesWith(YearWindow::legacy()), 0u);
  EXPECT_EQ(filesWith(YearWindow{2025, 2030}), 0u);
  EXPECT_EQ(filesWith(YearWindow{2024, 2024}), 1u);
}

TEST_F(SectionIndexTest, QuickModeOnShortImages) {
  TempDir dir;
  // The first section's index area does not fit: nothing is read.
  SparseImage image(kFirst + 0x200000 - 512);
  auto out = scanSparseFile(dir, image, scanRequest(5, kParseQuick));
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_TRUE(out.files.empty());
  // A piece whose last sector lies past the end of the image has no fill value.
  SparseImage cut(kFirst + 0x200000 + 4096);
  std::vector<std::uint8_t> index = sectionHeader(0, t, t);
  index.resize(4096, 0);
  append(index, entry(t, 4, 512));
  cut.put(kFirst, index);
  cut.put(kFirst + 0x200000 + 4096 - 512, lastSector(100));  // not the last sector of the piece
  auto out2 = scanSparseFile(dir, cut, scanRequest(5, kParseQuick));
  ASSERT_TRUE(out2.ok) << out2.error;
  EXPECT_TRUE(out2.files.empty());
}

TEST_F(SectionIndexTest, PacketTest) {
  auto test = [&](const std::vector<std::uint8_t>& bytes) {
    SectionIndexParser parser;
    DeviceHandle device;
    device.open(std::make_unique<MemorySource>(bytes));
    return parser.decoder().decode(PacketWindow{bytes.data(), bytes.size(), static_cast<std::int64_t>(bytes.size()), 0},
                             device);
  };
  auto two = packet(100, true);
  append(two, packet(50, false, true));  // the follower recognised by its second magic
  auto p = test(two);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->advance, 128u);
  EXPECT_EQ(p->kind, SegmentKind::Key);
  auto alt = packet(100, false, true);
  append(alt, packet(50, false));
  ASSERT_TRUE(test(alt));
  EXPECT_EQ(test(alt)->kind, SegmentKind::Other);
  auto lonely = packet(100, true);
  append(lonely, junkBytes(20));
  EXPECT_FALSE(test(lonely));
  EXPECT_FALSE(test(junkBytes(200)));
}

// Deep mode in the first section: a marked chain before the scan's start, packets before the
// section's first marker, then two marked runs at m1 and m2. The bytes from 0 to past m2's chain.
struct FirstSection {
  std::vector<std::uint8_t> bytes, run1, run2;
  std::uint64_t m1 = 0;
};

FirstSection firstSection(std::uint32_t t) {
  std::vector<std::uint8_t> bytes(kFirst + 0x4000, 0);
  auto put = [&](std::uint64_t at, const std::vector<std::uint8_t>& chunk) {
    std::copy(chunk.begin(), chunk.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
  };
  // A scan from sector 0 begins at 128 KiB: a marked chain before it is not read.
  std::vector<std::uint8_t> early = markerWithPacket(t, 300, true);
  append(early, packet(100, true));
  put(0x10000, early);
  // Packets before the first marker of the section are ignored.
  std::vector<std::uint8_t> before = packet(500, true);
  append(before, packet(500, true));
  put(kFirst, before);
  const std::uint64_t m1 = kFirst + 0x1000;
  std::vector<std::uint8_t> chain = markerWithPacket(t, 300, false);
  append(chain, packet(400, true));
  append(chain, packet(200, false));
  append(chain, junkBytes(9));  // ends the run: the last packet has no follower
  std::vector<std::uint8_t> run1(chain.begin() + 8, chain.begin() + 8 + 328 + 428);
  const std::uint64_t m2 = kFirst + 0x3000;
  std::vector<std::uint8_t> chain2 = markerWithPacket(t + 50, 100, true);
  append(chain2, packet(100, false));
  std::vector<std::uint8_t> run2(chain2.begin() + 8, chain2.begin() + 8 + 128);
  append(chain2, junkBytes(3));
  put(m1, chain);
  put(m2, chain2);
  return {bytes, run1, run2, m1};
}

// Sections start at fixed device offsets and markers count only on sector boundaries: foreign
// bytes before the image would move the chains against both.
const ConformanceImageRegistrar kConformance(
    {.brand = 5,
     .mode = kParseDeep,
     .shift = 0,
     .reason = "sections lie at fixed device offsets and markers on sector boundaries",
     .build = [] { return firstSection(localEpoch(2018, 7, 8, 9, 10, 11)).bytes; }});

TEST_F(SectionIndexTest, DeepModeRunsFollowSectionMarkers) {
  TempDir dir;
  SparseImage image(kFirst + kSection + 0x100000);
  const auto [first, run1, run2, m1] = firstSection(t);
  image.put(0, first);
  // The second section, with a marker of another day.
  const std::uint64_t s1 = kFirst + kSection;
  const std::uint32_t t2 = localEpoch(2018, 7, 9, 1, 0, 0);
  std::vector<std::uint8_t> chain3 = markerWithPacket(t2, 600, true);
  append(chain3, packet(30, false));
  std::vector<std::uint8_t> run3(chain3.begin() + 8, chain3.end());
  append(chain3, packet(30, false));
  image.put(s1 + 0x200, chain3);

  auto out = scanSparseFile(dir, image, scanRequest(5, kParseDeep));
  ASSERT_TRUE(out.ok) << out.error;
  ASSERT_EQ(out.files.size(), 2u);
  ASSERT_EQ(out.records[0].size(), 2u);
  const SegmentRecord& r1 = out.records[0][0];
  EXPECT_EQ(r1.deviceOffset, m1 + 8);
  EXPECT_EQ(r1.kind, SegmentKind::Key);
  EXPECT_EQ(r1.firstKeyOffset, 328);
  EXPECT_EQ(r1.startTime, t);
  EXPECT_EQ(r1.channel, 1u);
  EXPECT_EQ(out.records[0][1].startTime, t + 50);
  std::vector<std::uint8_t> expected = run1;
  append(expected, run2);
  EXPECT_EQ(out.bytes[0], expected);
  EXPECT_EQ(out.files[0].startTime, t);
  EXPECT_EQ(out.files[0].endTime, t + 50);
  EXPECT_EQ(out.bytes[1], run3);
  EXPECT_EQ(out.keys[1], fileMapKey(1, calendarCode(2018, 7, 9)));
  EXPECT_EQ(out.endSector, image.size() / 512);
}

TEST_F(SectionIndexTest, AnUnreadableIndexAreaIsReportedAndSkipped) {
  TempDir dir;
  SparseImage image(kFirst + kSection + 0x400000);
  for (std::uint64_t s : {kFirst, kFirst + kSection}) {
    std::vector<std::uint8_t> index = sectionHeader(1, t, t);
    index.resize(4096, 0);
    append(index, entry(t, 1, 512));
    image.put(s, index);
    image.put(s + 513 * 4096 - 512, lastSector(100));
  }
  auto out = scanSparse(dir, std::make_shared<SparseImage>(image), scanRequest(5, kParseQuick), {(kFirst + 0x1000) / 512}).outcome;
  ASSERT_TRUE(out.ok);
  ASSERT_EQ(out.files.size(), 1u);
  EXPECT_EQ(out.records[0][0].deviceOffset, kFirst + kSection + 512 * 4096 + 8);
  EXPECT_TRUE(out.messages[1].starts_with("读取源设备失败,可能存在坏道: 扇区 ")) << out.messages[1];
}

TEST_F(SectionIndexTest, SectionsWithoutEntriesAreSkippedUnwalked) {
  TempDir dir;
  auto image = std::make_shared<SparseImage>(kFirst + 4 * kSection);
  const std::uint64_t s0 = kFirst, s1 = kFirst + kSection, s2 = kFirst + 2 * kSection, s3 = kFirst + 3 * kSection;
  std::vector<std::uint8_t> index0 = sectionHeader(1, t, t + 10);
  index0.resize(4096, 0);
  append(index0, entry(t, 1, 512));
  image->put(s0, index0);
  image->put(s0 + 513 * 4096 - 512, lastSector(100));
  // s1 was never written; s2 has a header but no entries (its channel names nothing taken).
  std::vector<std::uint8_t> header2 = sectionHeader(5, t, t + 10);
  image->put(s2, header2);
  std::vector<std::uint8_t> index3 = sectionHeader(2, t + 20, t + 30);
  index3.resize(4096, 0);
  append(index3, std::vector<std::uint8_t>(16, 0));  // a zero entry before a valid one
  append(index3, entry(t + 25, 2, 600));
  image->put(s3, index3);
  image->put(s3 + 602 * 4096 - 512, lastSector(3000));

  auto out = scanSparse(dir, image, scanRequest(5, kParseQuick)).outcome;
  ASSERT_TRUE(out.ok) << out.error;
  ASSERT_EQ(out.files.size(), 2u);
  ASSERT_EQ(out.records[0].size(), 1u);
  ASSERT_EQ(out.records[1].size(), 1u);
  EXPECT_EQ(out.records[0][0].deviceOffset, s0 + 512 * 4096 + 8);
  EXPECT_EQ(out.records[0][0].size, 100u - 8);
  EXPECT_EQ(out.files[0].channel, 2);
  EXPECT_EQ(out.records[1][0].deviceOffset, s3 + 600 * 4096 + 8);
  EXPECT_EQ(out.records[1][0].size, 3000u - 8);
  EXPECT_EQ(out.files[1].channel, 3);
  EXPECT_EQ(out.endSector, image->size() / 512);
  // Every section still reports its progress, the empty ones included, and nothing is said.
  std::vector<std::uint64_t> sectors;
  for (const TaskStatus& status : out.statuses)
    if (status.code == StatusCode::ScanProgress) sectors.push_back(status.currentSector);
  EXPECT_EQ(sectors, (std::vector<std::uint64_t>{s0 / 512, s1 / 512, s2 / 512, s3 / 512}));
  EXPECT_FALSE(hasMessage(out.messages, "读取源设备失败,可能存在坏道"));

  // Only the two sections with entries are walked.
  RecordingObserver observer;
  TaskContext task;
  task.describe(scanHead(scanRequest(5, kParseQuick), image->size(), dir.file("task")));
  task.teardown();
  task.reset();
  task.deviceHandle.open(std::make_unique<SparseSource>(image, std::set<std::uint64_t>{}, nullptr));
  ASSERT_TRUE(task.store->openFiles(dir.file("task"), TaskFileMode::Create));
  const std::unique_ptr<BrandParser> created = createParser(task.description().brand);
  auto* parser = dynamic_cast<SectionIndexParser*>(created.get());
  ASSERT_NE(parser, nullptr);
  runBrandScan(task, observer, *parser);
  EXPECT_EQ(parser->indexWalks(), 2u);
  EXPECT_EQ(observer.messages(), out.messages);
}

}  // namespace
}  // namespace norvale::test
