#include "support/scan_harness.h"
#include "task/brand_scan.h"
#include "task/result_store.h"

#include <gtest/gtest.h>

#include "format/packed_time.h"
#include "support/test_support.h"
#include "task/task_context.h"

namespace norvale {
namespace {

std::uint32_t at(int day, int hour, int minute, int second = 0) {
  return PackedTime::fromFields(2016, 5, day, hour, minute, second).raw;
}

SegmentRecord segment(SegmentKind kind, std::uint32_t channel, std::uint32_t time, std::uint64_t offset,
                      std::uint64_t size = 100) {
  return SegmentRecord{kind, channel, time, time, 0, offset, size};
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    task.taskFolder = dir.str();
    task.reset();
    ASSERT_TRUE(task.store->openFiles(dir.str(), TaskFileMode::Create));
  }
  ResultStore& store() { return *task.store; }
  void add(const SegmentRecord& r) { store().addSegment(r, storeKey(r.channel, PackedTime{r.startTime}.hourCode())); }
  // Flush, sort, group and load as a scan ends.
  void rebuildAndLoad() {
    ASSERT_TRUE(store().flushPending());
    ASSERT_TRUE(store().readIndex());
    ASSERT_TRUE(store().sortPass());
    ASSERT_TRUE(store().groupingPass(GroupingVariant::JoinRule, packedTimeConvention()));
    ASSERT_TRUE(loadFileMapInto(task, test::noListener(), packedTimeConvention()));
  }
  std::vector<SegmentRecord> sorted() {
    auto size = store().fileSize(TaskFileId::SortedSegments);
    FileEntry all{0, 0, 0, 0, 0, *size};
    return *store().readFileRecords(all, 0, all.recordCount());
  }
  std::vector<FileEntry> files() {
    std::vector<FileEntry> out;
    for (const auto& [k, e] : task.fileMap) out.push_back(e);
    return out;
  }

  test::TempDir dir;
  TaskContext task;
};

TEST_F(StoreTest, NothingFoundLeavesEveryFileEmpty) {
  ASSERT_TRUE(store().writeHeader(task.header()));
  rebuildAndLoad();
  ASSERT_TRUE(store().truncateIntermediates());
  EXPECT_EQ(*store().fileSize(TaskFileId::RawSegments), 256u);
  EXPECT_EQ(*store().fileSize(TaskFileId::Index), 0u);
  EXPECT_EQ(*store().fileSize(TaskFileId::SortedSegments), 0u);
  EXPECT_EQ(*store().fileSize(TaskFileId::FileEntries), 0u);
  EXPECT_TRUE(task.fileMap.empty());
}

TEST_F(StoreTest, SegmentsOfOneHourFromTwoFlushesEndUpTogetherInTimeOrder) {
  add(segment(SegmentKind::Key, 1, at(17, 8, 30), 3000));
  add(segment(SegmentKind::Key, 2, at(17, 8, 10), 9000));
  ASSERT_TRUE(store().flushPending());
  add(segment(SegmentKind::Other, 1, at(17, 8, 20), 1000));
  add(segment(SegmentKind::Other, 1, at(17, 8, 40), 2000));
  rebuildAndLoad();
  const auto records = sorted();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].deviceOffset, 1000u);
  EXPECT_EQ(records[1].deviceOffset, 3000u);
  EXPECT_EQ(records[2].deviceOffset, 2000u);
  EXPECT_EQ(records[3].deviceOffset, 9000u) << "channel 2 sorts after channel 1";
}

TEST_F(StoreTest, EqualStartTimesKeepTheirOrderOfArrival) {
  for (std::uint64_t i = 0; i < 50; ++i) add(segment(i == 0 ? SegmentKind::Key : SegmentKind::Other, 1, at(17, 8, 0), i * 512));
  rebuildAndLoad();
  const auto records = sorted();
  ASSERT_EQ(records.size(), 50u);
  for (std::uint64_t i = 0; i < 50; ++i) EXPECT_EQ(records[i].deviceOffset, i * 512);
  ASSERT_EQ(files().size(), 1u);
  EXPECT_EQ(files()[0].recordCount(), 50u);
}

TEST_F(StoreTest, OtherSegmentsBeforeTheFirstKeyBelongToNoFile) {
  add(segment(SegmentKind::Other, 1, at(17, 8, 0), 0));
  add(segment(SegmentKind::Other, 1, at(17, 8, 1), 100));
  add(segment(SegmentKind::Key, 1, at(17, 8, 2), 200));
  add(segment(SegmentKind::Other, 1, at(17, 8, 3), 300));
  rebuildAndLoad();
  ASSERT_EQ(files().size(), 1u);
  EXPECT_EQ(files()[0].firstRecord, 2 * kSegmentRecordSize);
  EXPECT_EQ(files()[0].recordCount(), 2u);
  EXPECT_EQ(files()[0].size, 200u);
}

TEST_F(StoreTest, JoinRuleSplitsAfterAnHourAndAtAMonthChange) {
  add(segment(SegmentKind::Key, 1, at(17, 8, 0), 0));
  add(segment(SegmentKind::Key, 1, at(17, 9, 0), 100));      // exactly 3600 s: joins
  add(segment(SegmentKind::Key, 1, at(17, 9, 0, 1), 200));   // 3601 s after the start: new file
  rebuildAndLoad();
  auto f = files();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].recordCount(), 2u);
  EXPECT_EQ(f[0].endTime, at(17, 9, 0));
  EXPECT_EQ(f[1].startTime, at(17, 9, 0, 1));
}

TEST_F(StoreTest, TwelveDayMonthsSplitRecordingsRunningIntoTheNextMonth) {
  const auto may31 = PackedTime::fromFields(2016, 5, 31, 23, 59, 0).raw;
  const auto jun1 = PackedTime::fromFields(2016, 6, 1, 0, 0, 30).raw;
  add(segment(SegmentKind::Key, 1, may31, 0));
  add(segment(SegmentKind::Key, 1, jun1, 100));
  rebuildAndLoad();
  EXPECT_EQ(files().size(), 2u) << "(1 month x 12 + (1 - 31)) days is negative, so no join";
}

TEST_F(StoreTest, ChannelChangeClosesTheFileAndOtherSegmentsOfAnotherChannelAreDropped) {
  // Keys 1 and 2 sort by channel; a kind-2 segment of channel 2 after channel 1's file closes it.
  add(segment(SegmentKind::Key, 1, at(17, 8, 0), 0));
  add(segment(SegmentKind::Other, 2, at(17, 8, 1), 100));
  add(segment(SegmentKind::Key, 2, at(17, 8, 2), 200));
  rebuildAndLoad();
  auto f = files();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].channel, 1);
  EXPECT_EQ(f[0].recordCount(), 1u);
  EXPECT_EQ(f[1].channel, 2);
  EXPECT_EQ(f[1].firstRecord, 2 * kSegmentRecordSize) << "the kind-2 record is in no file";
}

TEST_F(StoreTest, FilesAreCutAtTheFirstKeyAfterOneGibibyte) {
  const std::uint64_t quarter = 0x10000000;
  for (int i = 0; i < 4; ++i) add(segment(SegmentKind::Key, 1, at(17, 8, i), i * quarter, quarter));
  add(segment(SegmentKind::Other, 1, at(17, 8, 5), 5 * quarter, 10));  // no size limit for kind 2
  add(segment(SegmentKind::Key, 1, at(17, 8, 6), 6 * quarter, 10));    // size is exactly 1 GiB + 10 now
  rebuildAndLoad();
  auto f = files();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].size, 4 * quarter + 10);
  EXPECT_EQ(f[1].size, 10u);
}

TEST_F(StoreTest, AnEntryOfExactlyOneGibibyteTakesNoMoreKeys) {
  add(segment(SegmentKind::Key, 1, at(17, 8, 0), 0, 0x40000000));
  add(segment(SegmentKind::Key, 1, at(17, 8, 1), 0x40000000, 1));
  rebuildAndLoad();
  EXPECT_EQ(files().size(), 2u);
}

TEST_F(StoreTest, FileMapIsKeyedByChannelAndDay) {
  add(segment(SegmentKind::Key, 3, at(18, 1, 0), 0));
  add(segment(SegmentKind::Key, 1, at(17, 23, 0), 100));
  rebuildAndLoad();
  ASSERT_EQ(task.fileMap.size(), 2u);
  EXPECT_EQ(task.fileMap.begin()->first, fileMapKey(1, calendarCode(2016, 5, 17)));
  EXPECT_EQ(std::next(task.fileMap.begin())->first, fileMapKey(3, calendarCode(2016, 5, 18)));
  EXPECT_EQ(task.status.foundCount, 2u);
  EXPECT_EQ(task.status.foundBytes, 200u);
}

TEST_F(StoreTest, OpenFileCarriesOverGroupingChunks) {
  // More than one grouping chunk (1,000,000 records): the file open at the chunk's end goes on.
  const std::size_t count = kGroupingChunkBytes / kSegmentRecordSize + 500;
  for (std::size_t i = 0; i < count; ++i)
    add(segment(i == 0 ? SegmentKind::Key : SegmentKind::Other, 1, at(17, 8, 0), i, 1));
  rebuildAndLoad();
  ASSERT_EQ(files().size(), 1u);
  EXPECT_EQ(files()[0].recordCount(), count);
}

TEST_F(StoreTest, ListAndGroupPassBuildsOneEntryFromTheFirstKey) {
  store().appendSegment(segment(SegmentKind::Other, 4, 10, 0));
  store().appendSegment(segment(SegmentKind::Key, 4, 20, 100));
  store().appendSegment(segment(SegmentKind::Other, 5, 30, 200));
  ASSERT_TRUE(store().listAndGroupPass());
  ASSERT_TRUE(loadFileMapInto(task, test::noListener(), packedTimeConvention()));
  auto f = files();
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].firstRecord, kSegmentRecordSize);
  EXPECT_EQ(f[0].recordCount(), 2u);
  EXPECT_EQ(f[0].endTime, 30u);
  EXPECT_EQ(f[0].channel, 4);
}

TEST_F(StoreTest, WithoutChannelVariantKeepsOtherChannelsInTheFile) {
  store().appendSegment(segment(SegmentKind::Key, 1, 10, 0));
  store().appendSegment(segment(SegmentKind::Other, 2, 20, 100));
  store().appendSegment(segment(SegmentKind::Key, 3, 30, 200));
  ASSERT_TRUE(store().listPass());
  ASSERT_TRUE(store().groupingPass(GroupingVariant::WithoutChannel, packedTimeConvention()));
  ASSERT_TRUE(loadFileMapInto(task, test::noListener(), packedTimeConvention()));
  ASSERT_EQ(files().size(), 1u);
  EXPECT_EQ(files()[0].recordCount(), 3u);
}

TEST_F(StoreTest, TaskFilesHoldPlainTailsAndAPlainHeader) {
  test::redescribe(task, [](TaskDescription& d) { d = TaskDescription{18, 1, 512, 4096, "", 0, YearWindow{}}; });
  task.endSector = 9;
  ASSERT_TRUE(store().writeHeader(task.header()));
  add(segment(SegmentKind::Key, 1, at(17, 8, 0), 0x0102030405, 0x04ABCDEF));
  ASSERT_TRUE(store().flushPending());
  const auto raw = test::readFile(taskFilePath(dir.str(), TaskFileId::RawSegments));
  ASSERT_EQ(raw.size(), 256 + kSegmentRecordSize);
  EXPECT_EQ(raw[0], 1);
  EXPECT_EQ(raw[1], 18);
  EXPECT_EQ(raw[2], 0x00);
  EXPECT_EQ(raw[3], 0x02) << "start offset 512, little-endian";
  EXPECT_EQ(raw[10], 0x00);
  EXPECT_EQ(raw[11], 0x10) << "length 4096";
  EXPECT_EQ(raw[18], 9);
  EXPECT_EQ(raw[256 + 32], 0x04) << "byte 32 (fourth byte of the size) is stored plain";
  EXPECT_NE(raw[256 + 21], 0x05) << "the device offset lies in the enciphered blocks";
  const auto index = test::readFile(taskFilePath(dir.str(), TaskFileId::Index));
  ASSERT_EQ(index.size(), kIndexRecordSize);
  EXPECT_EQ(index[16], kSegmentRecordSize) << "the run length is plain";
}

TEST_F(StoreTest, DamagedFileEntryIsRefusedNotFollowed) {
  add(segment(SegmentKind::Key, 1, at(17, 8, 0), 0));
  rebuildAndLoad();
  task.fileMap.clear();
  // An entry claiming records beyond the sorted segment file.
  FileEntry bad{1, at(17, 8, 0), at(17, 8, 0), 100, 0, kSegmentRecordSize * 1000};
  std::vector<std::uint8_t> bytes(kFileEntrySize);
  bad.write(bytes.data());
  TaskCipher().encipher(bytes, kFileEntrySize);
  task.store->close();
  test::writeFile(taskFilePath(dir.str(), TaskFileId::FileEntries), bytes);
  ASSERT_TRUE(store().openFiles(dir.str(), TaskFileMode::Existing));
  auto loaded = loadFileMapInto(task, test::noListener(), packedTimeConvention());
  ASSERT_FALSE(loaded);
  EXPECT_EQ(loaded.error().code, ErrorCode::Corrupt);
}

TEST_F(StoreTest, TrailingPartialRecordIsIgnored) {
  add(segment(SegmentKind::Key, 1, at(17, 8, 0), 0));
  rebuildAndLoad();
  task.fileMap.clear();
  task.store->close();
  auto bytes = test::readFile(taskFilePath(dir.str(), TaskFileId::FileEntries));
  bytes.push_back(0x77);
  test::writeFile(taskFilePath(dir.str(), TaskFileId::FileEntries), bytes);
  ASSERT_TRUE(store().openFiles(dir.str(), TaskFileMode::Existing));
  ASSERT_TRUE(loadFileMapInto(task, test::noListener(), packedTimeConvention()));
  EXPECT_EQ(task.fileMap.size(), 1u);
}

TEST(TaskFileLocking, ASecondOpenOfAHeldTaskIsRefusedAndLeavesItIntact) {
  test::TempDir dir;
  TaskContext first;
  first.taskFolder = dir.str();
  first.reset();
  ASSERT_TRUE(first.store->openFiles(dir.str(), TaskFileMode::Create));
  ASSERT_TRUE(first.store->writeHeader(first.header()));

  TaskContext second;
  second.taskFolder = dir.str();
  second.reset();
  auto opened = second.store->openFiles(dir.str(), TaskFileMode::Create);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error().code, ErrorCode::InUse);
  EXPECT_EQ(test::readFile(taskFilePath(dir.str(), TaskFileId::RawSegments)).size(), 256u)
      << "the refused open must not have emptied the held file";
  first.teardown();
  EXPECT_TRUE(second.store->openFiles(dir.str(), TaskFileMode::Existing)) << "released with the first task";
}

TEST(TaskFileLocking, MissingFilesFailALoad) {
  test::TempDir dir;
  TaskContext task;
  task.taskFolder = dir.str();
  task.reset();
  auto opened = task.store->openFiles(dir.str(), TaskFileMode::Existing);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error().code, ErrorCode::NotFound);
  EXPECT_FALSE(task.store->isOpen());
}

}  // namespace
}  // namespace norvale
