// The result store's orders against a plain model: pending segments stably by key across any
// number of flushes, each key's segments stably by start time, whatever the flush points and
// however large the flushes; and the cipher over buffers of any length.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

#include "format/packed_time.h"
#include "support/test_support.h"
#include "task/brand_scan.h"
#include "task/result_store.h"
#include "task/task_context.h"

namespace norvale {
namespace {

struct Added {
  std::uint64_t key;
  SegmentRecord record;
};

// What the sorted file must hold: keys in order, each key's segments in arrival order, then
// stably by start time.
std::vector<SegmentRecord> modelOrder(const std::vector<Added>& added) {
  std::map<std::uint64_t, std::vector<SegmentRecord>> byKey;
  for (const auto& a : added) byKey[a.key].push_back(a.record);
  std::vector<SegmentRecord> out;
  for (auto& [key, records] : byKey) {
    std::stable_sort(records.begin(), records.end(),
                     [](const SegmentRecord& a, const SegmentRecord& b) { return a.startTime < b.startTime; });
    out.insert(out.end(), records.begin(), records.end());
  }
  return out;
}

class StoreOrderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    task.taskFolder = dir.str();
    task.reset();
    ASSERT_TRUE(task.store->openFiles(dir.str(), TaskFileMode::Create));
    ASSERT_TRUE(task.store->writeHeader(task.header()));
  }
  ResultStore& store() { return *task.store; }
  std::vector<SegmentRecord> sortedFile() {
    auto size = store().fileSize(TaskFileId::SortedSegments);
    FileEntry all{0, 0, 0, 0, 0, *size};
    return *store().readFileRecords(all, 0, all.recordCount());
  }
  std::vector<std::uint8_t> decipheredIndex() {
    auto bytes = test::readFile(taskFilePath(dir.str(), TaskFileId::Index));
    TaskCipher cipher;
    cipher.decipher(bytes, kIndexRecordSize);
    return bytes;
  }

  test::TempDir dir;
  TaskContext task;
};

// Segments of many keys in bursts and alone, times that repeat, go back, and differ in every
// byte, with flushes at random points.
std::vector<Added> addMixed(ResultStore& store, std::size_t count, std::uint32_t seed, bool flushes) {
  std::mt19937 rng(seed);
  std::vector<Added> added;
  std::uint64_t key = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (rng() % 7 == 0 || i == 0) key = storeKey(1 + rng() % 40, 33'000'000 + rng() % 9);
    std::uint32_t time = 0;
    switch (rng() % 4) {
      case 0: time = 1000; break;                                      // equal times
      case 1: time = static_cast<std::uint32_t>(rng()); break;         // any byte differs
      case 2: time = static_cast<std::uint32_t>(i); break;             // rising
      default: time = static_cast<std::uint32_t>(0xFFFFFFFFu - i % 300);  // high bytes set
    }
    SegmentRecord r{(i % 5) ? SegmentKind::Other : SegmentKind::Key, static_cast<std::uint32_t>(key >> 32), time,
                    time + 1, static_cast<std::int64_t>(i % 3) - 1, i * 1000, 100 + i};
    store.addSegment(r, key);
    added.push_back({key, r});
    if (flushes && rng() % 997 == 0) {
      EXPECT_TRUE(store.flushPending());
    }
  }
  return added;
}

TEST_F(StoreOrderTest, SortedFileFollowsTheModelWhateverTheFlushPoints) {
  for (bool flushes : {false, true}) {
    SetUp();
    const auto added = addMixed(store(), 30'000, flushes ? 5 : 6, flushes);
    ASSERT_TRUE(store().flushPending());
    EXPECT_EQ(store().pendingCount(), 0u);
    ASSERT_TRUE(store().readIndex());
    ASSERT_TRUE(store().sortPass());
    EXPECT_EQ(sortedFile(), modelOrder(added)) << "flushes " << flushes;
  }
}

TEST_F(StoreOrderTest, AFlushWritesTheRawRunsAndOneIndexRecordPerKey) {
  const std::uint64_t a = storeKey(2, 7), b = storeKey(1, 9), c = storeKey(1, 8);
  const std::uint64_t keys[] = {a, b, a, c, b, a};
  std::vector<SegmentRecord> records;
  for (std::size_t i = 0; i < std::size(keys); ++i) {
    records.push_back({SegmentKind::Key, static_cast<std::uint32_t>(keys[i] >> 32), 50, 60, 0, i, 10});
    store().addSegment(records.back(), keys[i]);
  }
  ASSERT_TRUE(store().flushPending());
  const auto index = decipheredIndex();
  ASSERT_EQ(index.size(), 3 * kIndexRecordSize);
  const IndexRecord expected[] = {{c, 256, 37}, {b, 256 + 37, 74}, {a, 256 + 3 * 37, 111}};
  for (std::size_t k = 0; k < 3; ++k) {
    const IndexRecord got = IndexRecord::read(&index[k * kIndexRecordSize]);
    EXPECT_EQ(got.key, expected[k].key) << k;
    EXPECT_EQ(got.offset, expected[k].offset) << k;
    EXPECT_EQ(got.length, expected[k].length) << k;
  }
  // A second flush runs on after the first in the raw file.
  store().addSegment(records[0], a);
  ASSERT_TRUE(store().flushPending());
  const auto again = decipheredIndex();
  ASSERT_EQ(again.size(), 4 * kIndexRecordSize);
  EXPECT_EQ(IndexRecord::read(&again[3 * kIndexRecordSize]).offset, 256u + 6 * 37);
  EXPECT_EQ(*store().fileSize(TaskFileId::RawSegments), 256u + 7 * 37);
}

TEST_F(StoreOrderTest, FlushLargerThanOneWritePieceKeepsItsOrder) {
  // Above the store's staging piece and the cipher's gather size.
  const auto added = addMixed(store(), 300'000, 9, false);
  ASSERT_TRUE(store().flushPending());
  ASSERT_TRUE(store().readIndex());
  ASSERT_TRUE(store().sortPass());
  EXPECT_EQ(sortedFile(), modelOrder(added));
}

TEST_F(StoreOrderTest, RawFileCutShortKeepsTheWholeRecordsOfTheLastRun) {
  const std::uint64_t key = storeKey(3, 5);
  std::vector<SegmentRecord> records;
  for (std::uint32_t i = 0; i < 10; ++i) {
    records.push_back({SegmentKind::Key, 3, 100 - i, 100, 0, i, 10});
    store().addSegment(records.back(), key);
  }
  ASSERT_TRUE(store().flushPending());
  // The raw file loses the last record and a half: the index still names all ten.
  std::filesystem::resize_file(taskFilePath(dir.str(), TaskFileId::RawSegments), 256 + 8 * 37 + 20);
  ASSERT_TRUE(store().readIndex());
  ASSERT_TRUE(store().sortPass());
  std::vector<SegmentRecord> kept(records.begin(), records.begin() + 8);
  std::reverse(kept.begin(), kept.end());  // times fall: the sort turns them round
  EXPECT_EQ(sortedFile(), kept);
}

TEST_F(StoreOrderTest, ListPassKeepsArrivalOrderAcrossSeveralLists) {
  std::vector<SegmentRecord> all;
  for (int list = 0; list < 3; ++list) {
    for (std::uint32_t i = 0; i < 1000; ++i) {
      all.push_back({SegmentKind::Other, 1, 9000 - i, 0, -1, i, 5});
      store().appendSegment(all.back());
    }
    EXPECT_EQ(store().arrivalCount(), 1000u);
    ASSERT_TRUE(store().listPass());
    EXPECT_EQ(store().arrivalCount(), 0u);
  }
  EXPECT_EQ(sortedFile(), all);
}

// Two stores fed alike: one flushes its last batch to the raw file, the other holds it.
struct StorePair {
  test::TempDir dirA, dirB;
  TaskContext a, b;
  StorePair() {
    for (auto [task, dir] : {std::pair{&a, &dirA}, std::pair{&b, &dirB}}) {
      task->taskFolder = dir->str();
      task->reset();
      EXPECT_TRUE(task->store->openFiles(dir->str(), TaskFileMode::Create));
      EXPECT_TRUE(task->store->writeHeader(task->header()));
    }
  }
  std::vector<std::uint8_t> file(const test::TempDir& dir, TaskFileId id) { return test::readFile(taskFilePath(dir.str(), id)); }
};

TEST(StoreHeldFlush, AHeldLastFlushSortsAndGroupsAsAWrittenOne) {
  for (bool unsorted : {false, true}) {
    StorePair p;
    const auto added = addMixed(*p.a.store, 40'000, 17, true);
    addMixed(*p.b.store, 40'000, 17, true);
    ASSERT_TRUE(p.a.store->flushPending());
    ASSERT_TRUE(p.b.store->holdPending());
    EXPECT_TRUE(p.b.store->holdsPending());
    EXPECT_LT(p.file(p.dirB, TaskFileId::RawSegments).size(), p.file(p.dirA, TaskFileId::RawSegments).size())
        << "the held records are not written";
    const RebuildPlan plan = unsorted ? kUnsortedJoin : kSortAndJoin;
    ASSERT_TRUE(p.a.store->rebuild(plan, packedTimeConvention()));
    ASSERT_TRUE(p.b.store->rebuild(plan, packedTimeConvention()));
    EXPECT_FALSE(p.b.store->holdsPending());
    EXPECT_EQ(p.b.store->pendingCount(), 0u);
    EXPECT_EQ(p.file(p.dirB, TaskFileId::SortedSegments), p.file(p.dirA, TaskFileId::SortedSegments)) << unsorted;
    EXPECT_EQ(p.file(p.dirB, TaskFileId::FileEntries), p.file(p.dirA, TaskFileId::FileEntries)) << unsorted;
    EXPECT_FALSE(p.file(p.dirA, TaskFileId::FileEntries).empty());
    if (!unsorted) {
      TaskContext& t = p.a;
      auto size = t.store->fileSize(TaskFileId::SortedSegments);
      FileEntry all{0, 0, 0, 0, 0, *size};
      EXPECT_EQ(*t.store->readFileRecords(all, 0, all.recordCount()), modelOrder(added));
    }
  }
}

TEST(StoreHeldFlush, RecordsAddedAfterTheHeldFlushFollowIt) {
  StorePair p;
  SilentObserver unheard;
  TaskScanSink sinkB(p.b, unheard);
  std::vector<Added> added;
  for (std::uint32_t i = 0; i < 500; ++i) {
    const std::uint64_t key = storeKey(1 + i % 3, 33'000'000);
    const SegmentRecord r{SegmentKind::Key, 1 + i % 3, 5000 - i % 7, 5001, 0, i, 10};
    added.push_back({key, r});
    p.a.store->addSegment(r, key);
    sinkB.addRecord(r, key);
    if (i == 200) {  // the scan's last flush, and then more (a second scan of the range)
      ASSERT_TRUE(p.a.store->flushPending());
      sinkB.flush();
      EXPECT_TRUE(p.b.store->holdsPending());
    }
  }
  EXPECT_FALSE(p.b.store->holdsPending()) << "the held records were written before the next one was added";
  ASSERT_TRUE(p.a.store->flushPending());
  sinkB.flush();
  ASSERT_TRUE(p.a.store->rebuild(kSortAndJoin, packedTimeConvention()));
  ASSERT_TRUE(p.b.store->rebuild(kSortAndJoin, packedTimeConvention()));
  EXPECT_EQ(p.file(p.dirB, TaskFileId::SortedSegments), p.file(p.dirA, TaskFileId::SortedSegments));
  EXPECT_EQ(p.file(p.dirB, TaskFileId::FileEntries), p.file(p.dirA, TaskFileId::FileEntries));
}

TEST(StoreHeldFlush, RebuildJoiningInTheSortPassWritesTheEntriesOfSeparatePasses) {
  // rebuild() groups while it sorts; the passes one by one read the sorted file back.
  {
    StorePair p;
    addMixed(*p.a.store, 150'000, 23, true);  // more entries than one write piece holds
    addMixed(*p.b.store, 150'000, 23, true);
    ASSERT_TRUE(p.a.store->flushPending());
    ASSERT_TRUE(p.b.store->flushPending());
    ASSERT_TRUE(p.a.store->readIndex());
    ASSERT_TRUE(p.a.store->sortPass());
    ASSERT_TRUE(p.a.store->groupingPass(GroupingVariant::JoinRule, packedTimeConvention()));
    ASSERT_TRUE(p.b.store->rebuild(kSortAndJoin, packedTimeConvention()));
    EXPECT_EQ(p.file(p.dirB, TaskFileId::SortedSegments), p.file(p.dirA, TaskFileId::SortedSegments));
    EXPECT_EQ(p.file(p.dirB, TaskFileId::FileEntries), p.file(p.dirA, TaskFileId::FileEntries));
    EXPECT_GT(p.file(p.dirA, TaskFileId::FileEntries).size(), 1000u * kFileEntrySize);
  }
}

TEST(StoreHeldFlush, NothingFoundRebuildsToEmptyFiles) {
  StorePair p;
  ASSERT_TRUE(p.b.store->holdPending());
  EXPECT_FALSE(p.b.store->holdsPending());
  ASSERT_TRUE(p.b.store->rebuild(kSortAndJoin, packedTimeConvention()));
  EXPECT_TRUE(p.file(p.dirB, TaskFileId::SortedSegments).empty());
  EXPECT_TRUE(p.file(p.dirB, TaskFileId::FileEntries).empty());
}

TEST(TaskCipherPieces, BuffersOfAnyLengthEncipherAsTheirRecordsAlone) {
  std::mt19937 rng(3);
  for (std::size_t recordSize : {kSegmentRecordSize, kFileEntrySize, kIndexRecordSize, std::size_t{32}}) {
    std::vector<std::uint8_t> buffer(recordSize * 70'001 + 11);  // past one gather piece, a partial tail
    for (auto& b : buffer) b = static_cast<std::uint8_t>(rng());
    const auto plain = buffer;
    TaskCipher cipher;
    cipher.encipher(buffer, recordSize);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.end() - 11, buffer.end()),
              std::vector<std::uint8_t>(plain.end() - 11, plain.end()));
    for (std::size_t r : {std::size_t{0}, std::size_t{28'000}, std::size_t{70'000}}) {
      std::vector<std::uint8_t> one(plain.begin() + static_cast<std::ptrdiff_t>(r * recordSize),
                                    plain.begin() + static_cast<std::ptrdiff_t>((r + 1) * recordSize));
      TaskCipher single;
      single.encipher(one, recordSize);
      EXPECT_TRUE(std::equal(one.begin(), one.end(), buffer.begin() + static_cast<std::ptrdiff_t>(r * recordSize)))
          << recordSize << " record " << r;
      EXPECT_NE(one, std::vector<std::uint8_t>(plain.begin() + static_cast<std::ptrdiff_t>(r * recordSize),
                                               plain.begin() + static_cast<std::ptrdiff_t>((r + 1) * recordSize)));
    }
    cipher.decipher(buffer, recordSize);
    EXPECT_EQ(buffer, plain) << recordSize;
    std::vector<std::uint8_t> blocks;
    cipher.encipher(buffer, recordSize);
    cipher.decipherFirstBlocks(buffer, recordSize, blocks);
    ASSERT_EQ(blocks.size(), 70'001u * 16);
    EXPECT_TRUE(std::equal(blocks.begin() + 16 * 5, blocks.begin() + 16 * 6, plain.begin() + static_cast<std::ptrdiff_t>(5 * recordSize)));
  }
}

}  // namespace
}  // namespace norvale

namespace norvale {
namespace {

TEST(TaskFileCreate, AnEarlierTasksFileIsEmptiedAndANewOneLeftAsItIs) {
  test::TempDir dir;
  const std::string path = dir.file("Attr003.map");
  test::writeFile(path, std::vector<std::uint8_t>(5000, 7));
  {
    TaskFile file;
    ASSERT_TRUE(file.open(path, TaskFileMode::Create));
    EXPECT_EQ(*file.size(), 0u) << "what an earlier task left is gone";
    const std::vector<std::uint8_t> bytes(700, 3);
    ASSERT_TRUE(file.append(bytes));
    ASSERT_TRUE(file.truncate(700));  // already that long
    EXPECT_EQ(*file.size(), 700u);
    ASSERT_TRUE(file.truncate(256));
    EXPECT_EQ(*file.size(), 256u);
  }
  TaskFile fresh;
  ASSERT_TRUE(fresh.open(dir.file("new.map"), TaskFileMode::Create));
  EXPECT_EQ(*fresh.size(), 0u);
  EXPECT_EQ(test::readFile(path), std::vector<std::uint8_t>(256, 3));
}

}  // namespace
}  // namespace norvale
