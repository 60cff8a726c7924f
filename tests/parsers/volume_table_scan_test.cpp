// Whole tasks of brands 2, 7, 9, 10 and 11: the volume list, quick mode over the index tables and
// deep mode over the frames, checked by the files a user would see and their exported bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "parsers/brand_table.h"
#include "format/packed_time.h"
#include "parsers/volume_table_parser.h"
#include "base/byte_reader.h"
#include "support/index_table_images.h"
#include "task/brand_registry.h"
#include "task/brand_scan.h"
#include "task/scan_wording.h"
#include "task/task_context.h"

namespace norvale::test {
namespace {

const std::uint32_t kT0 = packed(2016, 5, 17, 8, 30, 0);
constexpr std::uint64_t kGiB10 = 0x1400000;  // sectors
const char* kReadFailed = "读取源设备失败,可能存在坏道";

// ---- volume list ----

struct VolumeProbe {
  explicit VolumeProbe(std::uint8_t brand, std::shared_ptr<const SparseImage> image, std::set<std::uint64_t> bad = {}) {
    test::redescribe(task, [&](TaskDescription& d) { d.brand = brand; });
    task.deviceHandle.open(std::make_unique<SparseSource>(std::move(image), std::move(bad), nullptr));
    parser = std::make_unique<VolumeTableParser>(brand);
    TaskScanSink sink(task, observer);
    parser->buildVolumes(task.deviceHandle, sink);
  }
  TaskContext task;
  RecordingObserver observer;
  std::unique_ptr<VolumeTableParser> parser;
};

std::shared_ptr<SparseImage> tableImage(std::uint8_t brand, const std::vector<VolumeEntrySpec>& entries,
                                        std::uint64_t sectors, bool signature = true) {
  auto image = std::make_shared<SparseImage>(sectors * 512);
  const auto& row = *findVolumeTableBrand(brand);
  image->put(row.tableOffset, volumeTable(row, entries, signature));
  return image;
}

TEST(VolumeList, TakesEntriesInTableOrderAtEachBrandsPosition) {
  const std::uint64_t sectors = 2048 + 2 * kGiB10 + 100;
  for (const auto& row : kVolumeTableBrands) {
    auto image = tableImage(row.brand, {{34, 2048, kGiB10}, {34, 2048 + kGiB10, kGiB10}}, sectors);
    VolumeProbe probe(row.brand, image);
    const std::vector<RecorderVolume> expected = {{0x4400, 2048 * 512, kGiB10 * 512},
                                                  {0x4400, (2048 + kGiB10) * 512, kGiB10 * 512}};
    EXPECT_EQ(probe.parser->volumes(), expected) << int(row.brand);
    // The other table position holds nothing for this brand's layout: the default volume.
    for (const auto& other : kVolumeTableBrands) {
      if (other.tableOffset == row.tableOffset) continue;
      VolumeProbe foreign(other.brand, image);
      EXPECT_EQ(foreign.parser->volumes(), (std::vector<RecorderVolume>{{0x4400, 0, sectors * 512}}));
    }
  }
}

TEST(VolumeList, EntryChecks) {
  const std::uint64_t sectors = 4 * kGiB10;
  // Too small, wrong superblock sector, past the device end, and a hostile sum that wraps.
  auto image = tableImage(2,
                          {{34, 2048, kGiB10 - 1},
                           {33, 2048, kGiB10},
                           {34, 3 * kGiB10, kGiB10 + 1},
                           {34, 0xFFFFFFFFFFFFFF00ull, kGiB10}},
                          sectors);
  VolumeProbe rejected(2, image);
  EXPECT_EQ(rejected.parser->volumes(), (std::vector<RecorderVolume>{{0x4400, 0, sectors * 512}}));

  auto exact = tableImage(2, {{34, 2048, kGiB10 - 1}, {34, 3 * kGiB10, kGiB10}}, sectors);
  VolumeProbe accepted(2, exact);
  EXPECT_EQ(accepted.parser->volumes(), (std::vector<RecorderVolume>{{0x4400, 3 * kGiB10 * 512, kGiB10 * 512}}));
}

TEST(VolumeList, OverlappingVolumeStopsTheWalk) {
  const std::uint64_t sectors = 4 * kGiB10;
  auto image = tableImage(7, {{34, 2048, kGiB10}, {34, 2048 + kGiB10 - 1, kGiB10}, {34, 2 * kGiB10, kGiB10}}, sectors);
  VolumeProbe probe(7, image);
  EXPECT_EQ(probe.parser->volumes(), (std::vector<RecorderVolume>{{0x4400, 2048 * 512, kGiB10 * 512}}));
}

TEST(VolumeList, MissingSignatureOrTinyDeviceGivesTheDefaultVolume) {
  const std::uint64_t sectors = 2 * kGiB10;
  VolumeProbe unsigned_(9, tableImage(9, {{34, 2048, kGiB10}}, sectors, false));
  EXPECT_EQ(unsigned_.parser->volumes(), (std::vector<RecorderVolume>{{0x4400, 0, sectors * 512}}));
  EXPECT_TRUE(unsigned_.observer.messages().empty());

  VolumeProbe tiny(2, std::make_shared<SparseImage>(1000));
  EXPECT_EQ(tiny.parser->volumes(), (std::vector<RecorderVolume>{{0x4400, 0, 1000}}));
  EXPECT_TRUE(tiny.observer.messages().empty());
}

TEST(VolumeList, UnreadableTableLeavesTheListEmpty) {
  auto image = tableImage(10, {{34, 2048, kGiB10}}, 2 * kGiB10);
  VolumeProbe probe(10, image, {0x3C00 / 512});
  EXPECT_TRUE(probe.parser->volumes().empty());
  EXPECT_EQ(probe.observer.messages(), std::vector<std::string>{kReadFailed});
}

// ---- quick mode ----

// A volume's superblock, index records and the data blocks of its used records (each filled
// with a byte of its own so that exported bytes show which block they came from).
struct VolumeContent {
  std::uint64_t start = 0;
  SuperblockSpec fields;
  std::vector<std::pair<std::uint64_t, IndexRecordSpec>> records;  // k -> record
  std::vector<std::uint64_t> filledBlocks;

  std::uint64_t blockSize() const { return std::uint64_t{fields.unit} * fields.unitsPerBlock; }
  std::uint64_t dataOffset(std::uint64_t k) const { return start + std::uint64_t{fields.dataStartUnits} * fields.unit + k * blockSize(); }
  void writeTo(SparseImage& image) const {
    image.put(start + 0x4400, superblock(fields));
    const std::uint64_t index = start + std::uint64_t{fields.indexStartUnits} * fields.unit;
    for (const auto& [k, record] : records) image.put(index + k * 32, volumeIndexRecord(record));
    for (const auto k : filledBlocks)
      image.put(dataOffset(k), std::vector<std::uint8_t>(blockSize(), static_cast<std::uint8_t>(0x40 + k)));
  }
};

TEST(VolumeQuickScan, TwoVolumesWithUsedAndUnusedRecords) {
  const std::uint64_t sectors = 2048 + 2 * kGiB10 + 2048;
  auto image = std::make_shared<SparseImage>(sectors * 512);
  const auto& row = *findVolumeTableBrand(2);
  image->put(row.tableOffset, volumeTable(row, {{34, 2048, kGiB10}, {34, 2048 + kGiB10, kGiB10}}));

  const std::uint32_t day2 = packed(2016, 5, 18, 23, 0, 0);
  VolumeContent v1;
  v1.start = 2048 * 512;
  v1.fields.records = 17;  // index of 1024 bytes: slots 17..31 are walked too
  v1.records = {
      {0, {1, 0x00, kT0, plusSeconds(kT0, 30), 1}},
      {2, {2, 0x1F, plusSeconds(kT0, 60), plusSeconds(kT0, 90), 3}},     // channel byte 0x1F: channel 16
      {3, {3, 0x00, kT0, plusSeconds(kT0, 10), 1}},                      // kind 3: unused
      {4, {1, 0x00, kT0, 0, 1}},                                         // no end time: unused
      {5, {1, 0x00, kT0, plusSeconds(kT0, 10), 18}},                     // record number above N
      {6, {1, 0xF0, plusSeconds(kT0, 120), plusSeconds(kT0, 150), 17}},  // number N passes; high bits ignored
      {20, {2, 0x02, kT0, plusSeconds(kT0, 5), 0}},                      // a slot after record 16
  };
  v1.filledBlocks = {0, 2, 6, 20};
  v1.writeTo(*image);

  VolumeContent v2;
  v2.start = (2048 + kGiB10) * 512;
  v2.fields.unit = 4096;
  v2.fields.unitsPerBlock = 16;
  v2.fields.indexStartUnits = 0x20;
  v2.fields.dataStartUnits = 0x100;
  v2.fields.records = 4;
  v2.records = {{1, {1, 0x00, day2, plusSeconds(day2, 40), 2}}};
  v2.filledBlocks = {1};
  v2.writeTo(*image);

  TempDir dir;
  const auto scan = scanSparse(dir, image, scanRequest(2, 0));
  const ScanOutcome& out = scan.outcome;
  ASSERT_TRUE(out.ok) << out.error;
  const std::string brand = brandName(2);
  EXPECT_EQ(out.messages, (std::vector<std::string>{"正在快速解析**" + brand + "**视频流信息...",
                                                   "正在构建重组**" + brand + "**视频流信息...",
                                                   "快速解析**" + brand + "**视频流信息完成"}));
  EXPECT_EQ(out.endSector, sectors);

  // File-map order: channel, then day.
  ASSERT_EQ(out.files.size(), 4u);
  const std::uint64_t s = v1.blockSize();
  EXPECT_EQ(out.keys[0], fileMapKey(1, calendarCode(2016, 5, 17)));
  EXPECT_EQ(out.records[0], (std::vector<SegmentRecord>{
                                indexedBlock(1, kT0, plusSeconds(kT0, 30), v1.dataOffset(0), s),
                                indexedBlock(1, plusSeconds(kT0, 120), plusSeconds(kT0, 150), v1.dataOffset(6), s)}));
  std::vector<std::uint8_t> expected(s, 0x40);
  append(expected, std::vector<std::uint8_t>(s, 0x46));
  EXPECT_EQ(out.bytes[0], expected);
  EXPECT_EQ(out.files[0].size, 2 * s);

  EXPECT_EQ(out.keys[1], fileMapKey(1, calendarCode(2016, 5, 18)));
  EXPECT_EQ(out.records[1], (std::vector<SegmentRecord>{indexedBlock(1, day2, plusSeconds(day2, 40), v2.dataOffset(1), 0x10000)}));
  EXPECT_EQ(out.bytes[1], std::vector<std::uint8_t>(0x10000, 0x41));

  EXPECT_EQ(out.keys[2], fileMapKey(3, calendarCode(2016, 5, 17)));
  EXPECT_EQ(out.records[2], (std::vector<SegmentRecord>{indexedBlock(3, kT0, plusSeconds(kT0, 5), v1.dataOffset(20), s)}));
  EXPECT_EQ(out.bytes[2], std::vector<std::uint8_t>(s, 0x40 + 20));

  EXPECT_EQ(out.keys[3], fileMapKey(16, calendarCode(2016, 5, 17)));
  EXPECT_EQ(out.records[3], (std::vector<SegmentRecord>{
                                indexedBlock(16, plusSeconds(kT0, 60), plusSeconds(kT0, 90), v1.dataOffset(2), s)}));

  // Only the table, the superblocks and the index tables were read: no video byte.
  for (const auto& [offset, length] : scan.reads) {
    const bool volume1 = offset < v1.dataOffset(0);
    const bool volume2 = offset >= v2.start && offset < v2.dataOffset(0);
    EXPECT_TRUE(volume1 || volume2) << offset;
  }
}

TEST(VolumeQuickScan, InvalidSuperblockShowsTheBrandsMessageAndTheNextVolumeIsRead) {
  const std::uint64_t sectors = 2048 + 2 * kGiB10;
  for (const std::uint8_t brand : {std::uint8_t{7}, std::uint8_t{9}}) {
    auto image = std::make_shared<SparseImage>(sectors * 512);
    const auto& row = *findVolumeTableBrand(brand);
    image->put(row.tableOffset, volumeTable(row, {{34, 2048, kGiB10}, {34, 2048 + kGiB10, kGiB10}}));
    VolumeContent v1;
    v1.start = 2048 * 512;
    v1.fields.unitsPerBlock = 0x100000;  // S far above 10 MiB
    v1.writeTo(*image);
    VolumeContent v2;
    v2.start = (2048 + kGiB10) * 512;
    v2.records = {{0, {1, 0x04, kT0, plusSeconds(kT0, 1), 0}}};
    v2.filledBlocks = {0};
    v2.writeTo(*image);

    TempDir dir;
    const auto scan = scanSparse(dir, image, scanRequest(brand, 0));
    const ScanOutcome& out = scan.outcome;
    EXPECT_TRUE(hasMessage(out.messages, noRecorderIndexText(row.brand))) << int(brand);
    ASSERT_EQ(out.files.size(), 1u);
    EXPECT_EQ(out.records[0], (std::vector<SegmentRecord>{indexedBlock(5, kT0, plusSeconds(kT0, 1), v2.dataOffset(0), 0x10000)}));
    EXPECT_EQ(out.endSector, sectors);
  }
}

TEST(VolumeQuickScan, MessagesNameEachBrand) {
  // No table and nothing at 0x4400: the default volume's superblock is refused.
  for (const auto& row : kVolumeTableBrands) {
    TempDir dir;
    const auto out = scanImage(dir, std::vector<std::uint8_t>(64 * 1024, 0), scanRequest(row.brand, 0));
    EXPECT_TRUE(hasMessage(out.messages, noRecorderIndexText(row.brand))) << int(row.brand);
    EXPECT_TRUE(out.files.empty());
  }
  EXPECT_EQ(noRecorderIndexText(2), "此设备可能不是大华监控系统或者请选择深度解析方式");
  EXPECT_EQ(noRecorderIndexText(10), "此设备可能不是美电贝尔监控系统或者请选择深度解析方式");
}

TEST(VolumeQuickScan, UnreadableIndexBlockKeepsRecordNumbersAligned) {
  auto image = std::make_shared<SparseImage>(std::uint64_t{4} << 30);
  VolumeContent v;  // the default volume: no table
  v.fields.records = 40000;  // 1 280 000 bytes: two reads
  v.fields.dataStartUnits = 0x1000;
  v.records = {{10, {1, 0, kT0, plusSeconds(kT0, 1), 0}}, {35000, {1, 1, kT0, plusSeconds(kT0, 2), 0}}};
  v.filledBlocks = {35000};
  v.writeTo(*image);
  const std::uint64_t indexStart = 0x100 * 512;

  TempDir dir;
  const auto scan = scanSparse(dir, image, scanRequest(11, 0), {indexStart / 512 + 100});
  const ScanOutcome& out = scan.outcome;
  EXPECT_TRUE(hasMessage(out.messages, kReadFailed));
  ASSERT_EQ(out.files.size(), 1u);
  EXPECT_EQ(out.records[0], (std::vector<SegmentRecord>{indexedBlock(2, kT0, plusSeconds(kT0, 2), v.dataOffset(35000), 0x10000)}));
  EXPECT_EQ(out.bytes[0], std::vector<std::uint8_t>(0x10000, static_cast<std::uint8_t>(0x40 + 35000)));
  EXPECT_EQ(out.endSector, image->size() / 512);
}

TEST(VolumeQuickScan, IndexAndBlocksPastTheSourceEnd) {
  // A 1 MiB source whose superblock puts the index across the end and blocks beyond it.
  auto image = std::make_shared<SparseImage>(1 << 20);
  VolumeContent v;
  v.fields.indexStartUnits = 0x700;   // 896 KiB
  v.fields.records = 8192;            // 256 KiB of index, half of it past the end
  v.fields.dataStartUnits = 0x101;    // blocks at 128.5 KiB + k x 64 KiB
  v.records = {{0, {1, 0, kT0, plusSeconds(kT0, 1), 0}},
               {13, {1, 0, plusSeconds(kT0, 2), plusSeconds(kT0, 3), 0}},   // cut by the end
               {14, {1, 0, plusSeconds(kT0, 4), plusSeconds(kT0, 5), 0}}};  // wholly past it
  v.filledBlocks = {0, 13};
  v.writeTo(*image);

  TempDir dir;
  const auto scan = scanSparse(dir, image, scanRequest(2, 0));
  const ScanOutcome& out = scan.outcome;
  EXPECT_TRUE(hasMessage(out.messages, "索引表超出源设备末尾,超出部分未读取"));
  EXPECT_TRUE(hasMessage(out.messages, "1条索引记录指向源设备末尾之后的数据块,已忽略"));
  EXPECT_FALSE(hasMessage(out.messages, kReadFailed));
  ASSERT_EQ(out.files.size(), 1u);
  const std::uint64_t cut = image->size() - v.dataOffset(13);
  EXPECT_EQ(cut, 0x10000u - 512);
  EXPECT_EQ(out.records[0], (std::vector<SegmentRecord>{indexedBlock(1, kT0, plusSeconds(kT0, 1), v.dataOffset(0), 0x10000),
                                                        indexedBlock(1, plusSeconds(kT0, 2), plusSeconds(kT0, 3), v.dataOffset(13), cut)}));
  for (const auto& [offset, length] : scan.reads) EXPECT_LT(offset, image->size());
}

TEST(VolumeQuickScan, IndexWhollyPastTheEndReadsNothing) {
  auto image = std::make_shared<SparseImage>(1 << 20);
  VolumeContent v;
  v.fields.indexStartUnits = 0xFFFFFFFF;
  v.fields.unit = 0x1000;
  v.fields.unitsPerBlock = 1;
  v.writeTo(*image);
  TempDir dir;
  const auto scan = scanSparse(dir, image, scanRequest(2, 0));
  EXPECT_TRUE(hasMessage(scan.outcome.messages, "索引表超出源设备末尾,超出部分未读取"));
  EXPECT_TRUE(scan.outcome.files.empty());
  for (const auto& [offset, length] : scan.reads) EXPECT_LT(offset, image->size());
}

TEST(VolumeQuickScan, UnreadableTableEndsQuickModeWithoutTheDefaultVolume) {
  auto image = std::make_shared<SparseImage>(1 << 20);
  VolumeContent v;
  v.records = {{0, {1, 0, kT0, kT0, 0}}};
  v.writeTo(*image);
  TempDir dir;
  const auto scan = scanSparse(dir, image, scanRequest(2, 0), {0x3C00 / 512});
  EXPECT_TRUE(hasMessage(scan.outcome.messages, kReadFailed));
  EXPECT_TRUE(scan.outcome.files.empty());
  EXPECT_EQ(scan.outcome.endSector, 0u);
}

TEST(VolumeQuickScan, CancelAfterTheFirstVolumeLeavesTheEndSectorUnset) {
  const std::uint64_t sectors = 2048 + 2 * kGiB10;
  auto image = std::make_shared<SparseImage>(sectors * 512);
  const auto& row = *findVolumeTableBrand(2);
  image->put(row.tableOffset, volumeTable(row, {{34, 2048, kGiB10}, {34, 2048 + kGiB10, kGiB10}}));
  VolumeContent v1;
  v1.start = 2048 * 512;
  v1.records = {{0, {1, 0, kT0, kT0, 0}}};
  v1.writeTo(*image);
  VolumeContent v2 = v1;
  v2.start = (2048 + kGiB10) * 512;
  v2.records = {{0, {1, 1, kT0, kT0, 0}}};
  v2.writeTo(*image);
  TempDir dir;
  const auto scan = scanSparse(dir, image, scanRequest(2, 0, 1));
  const ScanOutcome& out = scan.outcome;
  ASSERT_EQ(out.files.size(), 1u);  // what was found before the stop is kept
  EXPECT_EQ(out.files[0].channel, 1u);
  EXPECT_EQ(out.endSector, 0u);
  EXPECT_EQ(out.messages.back(), "快速解析**" + brandName(2) + "**视频流信息完成");
}

// ---- deep mode ----

struct FrameChain {
  const VolumeTableBrand& brand;
  std::vector<std::uint8_t> image;
  std::vector<std::uint8_t> frame(const FrameSpec& fields) {
    auto f = volumeFrame(brand, fields);
    append(image, f);
    return f;
  }
  std::uint64_t at() const { return image.size(); }
  void garbage(std::size_t n) { append(image, std::vector<std::uint8_t>(n, 0xEE)); }
};

TEST(VolumeDeepScan, RunsByChannelAndGapWithTheirBytes) {
  for (const std::uint8_t brandId : {std::uint8_t{2}, std::uint8_t{9}}) {
    FrameChain c{*findVolumeTableBrand(brandId), {}};
    c.garbage(100);
    // Run A, channel 1: begins with an ordinary frame, its first key frame 600 bytes in.
    const std::uint64_t a = c.at();
    std::vector<std::uint8_t> bytesA;
    append(bytesA, c.frame({0x0001, 0, kT0, 600}));
    append(bytesA, c.frame({0x00FD, 0, plusSeconds(kT0, 1), 600}));
    append(bytesA, c.frame({0x0001, 0, plusSeconds(kT0, 2), 600}));
    // Run B, channel 2 right behind it: a change of channel splits; 59 s later still joins.
    const std::uint64_t b = c.at();
    std::vector<std::uint8_t> bytesB;
    append(bytesB, c.frame({0x00FC, 1, plusSeconds(kT0, 2), 700}));
    append(bytesB, c.frame({0x00FC, 1, plusSeconds(kT0, 61), 700}));
    // Run C: 60 s after B's end splits.
    const std::uint64_t cc = c.at();
    const auto bytesC = c.frame({0x00FC, 1, plusSeconds(kT0, 121), 1100});
    c.garbage(50);
    // A run of exactly 1024 bytes is dropped, 1025 kept.
    c.frame({0x00FC, 0, plusSeconds(kT0, 150), 512});
    c.frame({0x0001, 0, plusSeconds(kT0, 150), 512});
    c.garbage(7);
    const std::uint64_t e = c.at();
    const auto bytesE = c.frame({0x00FC, 0, plusSeconds(kT0, 200), 1025});
    c.garbage(3);
    // Two hours later: a file of its own.
    const std::uint32_t late = packed(2016, 5, 17, 10, 45, 0);
    const std::uint64_t f = c.at();
    const auto bytesF = c.frame({0x00FC, 0, late, 2000});
    c.garbage(1000);

    TempDir dir;
    const auto out = scanImage(dir, c.image, scanRequest(brandId, 1));
    ASSERT_TRUE(out.ok) << out.error;
    ASSERT_EQ(out.files.size(), 3u) << int(brandId);
    EXPECT_EQ(out.records[0], (std::vector<SegmentRecord>{
                                  {SegmentKind::Key, 1, kT0, plusSeconds(kT0, 2), 600, a, 1800},
                                  {SegmentKind::Key, 1, plusSeconds(kT0, 200), plusSeconds(kT0, 200), 0, e, 1025}}));
    std::vector<std::uint8_t> file0 = bytesA;
    append(file0, bytesE);
    EXPECT_EQ(out.bytes[0], file0);
    EXPECT_EQ(out.records[1], (std::vector<SegmentRecord>{{SegmentKind::Key, 1, late, late, 0, f, 2000}}));
    EXPECT_EQ(out.bytes[1], bytesF);
    EXPECT_EQ(out.records[2], (std::vector<SegmentRecord>{
                                  {SegmentKind::Key, 2, plusSeconds(kT0, 2), plusSeconds(kT0, 61), 0, b, 1400},
                                  {SegmentKind::Key, 2, plusSeconds(kT0, 121), plusSeconds(kT0, 121), 0, cc, 1100}}));
    std::vector<std::uint8_t> file2 = bytesB;
    append(file2, bytesC);
    EXPECT_EQ(out.bytes[2], file2);
    EXPECT_EQ(out.keys[2], fileMapKey(2, calendarCode(2016, 5, 17)));
    EXPECT_EQ(out.endSector, (c.image.size() + 511) / 512);
  }
}

TEST(VolumeDeepScan, FirstKeyFrameFiveThousandBytesIn) {
  FrameChain c{*findVolumeTableBrand(7), {}};
  for (int i = 0; i < 5; ++i) c.frame({0x0002, 3, kT0, 1000});
  c.frame({0x00FC, 3, kT0, 1000});
  TempDir dir;
  const auto out = scanImage(dir, c.image, scanRequest(7, 1));
  ASSERT_EQ(out.files.size(), 1u);
  EXPECT_EQ(out.records[0], (std::vector<SegmentRecord>{{SegmentKind::Key, 4, kT0, kT0, 5000, 0, 6000}}));
  EXPECT_EQ(out.bytes[0], c.image);
}

TEST(VolumeDeepScan, GapTestCountsAMonthAsTwelveDays) {
  // May 13 00:00 to June 1 00:00 is no gap with 12-day months. May 31 23:59:59 to June 1 is a
  // negative one: channel 2's frames stay two runs of 600 bytes, both too short to keep.
  FrameChain c{*findVolumeTableBrand(2), {}};
  c.frame({0x00FC, 0, packed(2016, 5, 13, 0, 0, 0), 600});
  c.frame({0x0001, 0, packed(2016, 6, 1, 0, 0, 0), 600});
  c.frame({0x00FC, 1, packed(2016, 5, 31, 23, 59, 59), 600});
  c.frame({0x0001, 1, packed(2016, 6, 1, 0, 0, 0), 600});
  c.garbage(100);
  auto image = std::make_shared<SparseImage>(c.image.size());
  image->put(0, c.image);
  TempDir dir;
  const auto scan = scanSparse(dir, image, scanRequest(2, 1));
  EXPECT_EQ(scan.sorted, (std::vector<SegmentRecord>{
                             {SegmentKind::Key, 1, packed(2016, 5, 13, 0, 0, 0), packed(2016, 6, 1, 0, 0, 0), 0, 0, 1200}}));
}

TEST(VolumeDeepScan, ChainAcrossBlockBoundariesAndTailsReadFromTheDevice) {
  // Frames of 0x1F000 bytes: some straddle a 1 MiB boundary with their tail beyond the
  // look-ahead, so the device read decides; the next block starts after them.
  FrameChain c{*findVolumeTableBrand(10), {}};
  c.garbage(1000);
  std::uint32_t t = kT0;
  for (int i = 0; i < 30; ++i, t = plusSeconds(t, 1)) c.frame({std::uint16_t(i == 0 ? 0x00FC : 0x0001), 0, t, 0x1F000});
  const std::uint64_t chainEnd = c.at();
  c.garbage(5000);
  TempDir dir;
  const auto out = scanImage(dir, c.image, scanRequest(10, 1));
  ASSERT_EQ(out.files.size(), 1u);
  EXPECT_EQ(out.records[0],
            (std::vector<SegmentRecord>{{SegmentKind::Key, 1, kT0, plusSeconds(kT0, 29), 0, 1000, chainEnd - 1000}}));
  EXPECT_EQ(out.bytes[0], std::vector<std::uint8_t>(c.image.begin() + 1000, c.image.begin() + static_cast<std::ptrdiff_t>(chainEnd)));

  // The same chain with the straddling frame's tail damaged on the device: the chain breaks there.
  const std::uint64_t straddler = 1000 + 8 * 0x1F000;  // starts before 1 MiB, ends after it
  ASSERT_LT(straddler, 0x100000u);
  ASSERT_GT(straddler + 0x1F000, 0x100000u + 512);
  auto damaged = c.image;
  damaged[straddler + 0x1F000 - 8] = 'X';
  TempDir dir2;
  const auto broken = scanImage(dir2, damaged, scanRequest(10, 1));
  ASSERT_EQ(broken.files.size(), 1u);
  // The run after the break has no key frame: it follows the first run in the same file.
  const std::uint64_t after = straddler + 0x1F000;
  EXPECT_EQ(broken.records[0], (std::vector<SegmentRecord>{
                                   {SegmentKind::Key, 1, kT0, plusSeconds(kT0, 7), 0, 1000, straddler - 1000},
                                   {SegmentKind::Other, 1, plusSeconds(kT0, 9), plusSeconds(kT0, 29), -1, after,
                                    chainEnd - after}}));
}

TEST(VolumeDeepScan, UnreadableBlockSplitsTheRun) {
  // 512-byte key frames back to back over 4 MiB; the second block cannot be read, and the
  // third starts exactly on a frame.
  const auto& row = *findVolumeTableBrand(2);
  auto image = std::make_shared<SparseImage>(4 << 20);
  std::vector<std::uint8_t> chain;
  for (int i = 0; i < 8192; ++i) append(chain, volumeFrame(row, {0x00FC, 0, kT0, 512}));
  image->put(0, chain);
  TempDir dir;
  const auto scan = scanSparse(dir, image, scanRequest(2, 1), {(0x100000 + 0x1000) / 512});
  const ScanOutcome& out = scan.outcome;
  EXPECT_TRUE(hasMessage(out.messages, kReadFailed));
  ASSERT_EQ(out.files.size(), 1u);
  EXPECT_EQ(out.records[0], (std::vector<SegmentRecord>{{SegmentKind::Key, 1, kT0, kT0, 0, 0, 0x100000},
                                                        {SegmentKind::Key, 1, kT0, kT0, 0, 0x200200, (4 << 20) - 0x200200}}));
  std::vector<std::uint8_t> expected = image->read(0, 0x100000);
  append(expected, image->read(0x200200, (4 << 20) - 0x200200));
  EXPECT_EQ(out.bytes[0], expected);
}

TEST(VolumeDeepScan, GarbageTruncatedAndEmptyImagesFindNothing) {
  for (const auto& row : kVolumeTableBrands) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{100}, std::size_t{3 << 20}}) {
      auto bytes = patternBytes(size);
      // A frame header whose length points past the end of the image.
      if (size >= 1000) {
        auto header = volumeFrame(row, {0x00FC, 0, kT0, 0x1FFFFF});
        std::copy(header.begin(), header.begin() + 20, bytes.end() - 100);
      }
      auto image = std::make_shared<SparseImage>(size);
      image->put(0, bytes);
      for (const std::uint8_t mode : {std::uint8_t{0}, std::uint8_t{1}}) {
        TempDir dir;
        const auto scan = scanSparse(dir, image, scanRequest(row.brand, mode));
        EXPECT_TRUE(scan.outcome.ok) << scan.outcome.error;
        EXPECT_TRUE(scan.outcome.files.empty());
        EXPECT_TRUE(scan.sorted.empty());
        for (const auto& [offset, length] : scan.reads) EXPECT_LT(offset, std::max<std::uint64_t>(size, 1));
      }
    }
  }
}

}  // namespace
}  // namespace norvale::test
