// Tasks whose scan did not finish: a stopped scan's task loads what it found, and a task that
// died before its rebuild (records in the raw file, no file entries) has its records rebuilt
// into files on load, never past the checkpoint's raw length, writing only the task folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "format/task_header.h"
#include "parsers/brand_parser.h"
#include "sample/sample_image.h"
#include "support/scan_harness.h"
#include "task/brand_scan.h"
#include "task/result_store.h"
#include "task/scan_wording.h"
#include "task/task_runner.h"

namespace norvale::test {
namespace {

namespace fs = std::filesystem;

std::size_t recordCount(const ScanOutcome& outcome) {
  std::size_t n = 0;
  for (const auto& file : outcome.records) n += file.size();
  return n;
}

// A task folder as a scan leaves it when it dies after flushing its records and before its
// rebuild: the header (unfinished, with the checkpoint given), the raw records in two flushes
// (the first `durable` of them, then the rest) and their run index, no sorted records, no file
// entries. Returns the raw length after the first flush.
std::uint64_t writeDiedTask(const std::string& folder, const std::vector<SegmentRecord>& records, std::size_t durable,
                            std::uint64_t imageSize, bool withCheckpoint) {
  fs::create_directories(folder);
  const std::unique_ptr<BrandParser> parser = createParser(18);
  ResultStore store;
  EXPECT_TRUE(store.openFiles(folder, TaskFileMode::Create));
  for (std::size_t i = 0; i < records.size(); ++i) {
    store.addSegment(records[i], storeKey(records[i].channel, parser->hourCode(records[i].startTime)));
    if (i + 1 == durable) EXPECT_TRUE(store.flushPending());
  }
  const std::uint64_t rawBytes = store.fileSize(TaskFileId::RawSegments).value_or(0);
  EXPECT_TRUE(store.flushPending());
  TaskHeader header;
  header.parseMode = kParseDeep;
  header.brand = 18;
  header.length = (imageSize + 511) / 512 * 512;
  if (withCheckpoint) header.checkpoint = TaskCheckpoint{header.length / 1024, header.length / 2, rawBytes, durable, 1};
  EXPECT_TRUE(store.writeHeader(header));
  store.close();
  return rawBytes;
}

struct SampleScan {
  TempDir dir;
  sample::SampleImage sample = sample::buildSampleImage();
  ScanOutcome reference;
  std::vector<SegmentRecord> records;
  SampleScan() {
    ScanRequest request;
    reference = scanImage(dir, sample.bytes, request);
    for (const auto& file : reference.records) records.insert(records.end(), file.begin(), file.end());
  }
  std::string image() const { return dir.file("image.img"); }
};

TEST(UnfinishedTask, DiedBeforeItsRebuildListsWhatTheRawFileHeld) {
  SampleScan scan;
  ASSERT_TRUE(scan.reference.ok);
  ASSERT_GT(scan.records.size(), 4u);
  const std::string folder = scan.dir.file("died");
  writeDiedTask(folder, scan.records, scan.records.size() / 2, scan.sample.bytes.size(), false);
  const auto imageBefore = readFile(scan.image());

  // No checkpoint: the whole raw file, rebuilt by the row's plan, lists what the scan listed.
  bool complete = true;
  const ScanOutcome loaded = loadTaskFolder(folder, scan.image(), [&](TaskContext& t) { complete = t.complete(); });
  ASSERT_TRUE(loaded.ok) << loaded.error;
  EXPECT_FALSE(complete);
  EXPECT_EQ(loaded.files, scan.reference.files);
  EXPECT_EQ(loaded.records, scan.reference.records);
  EXPECT_EQ(loaded.bytes, scan.reference.bytes);
  EXPECT_EQ(readFile(scan.image()), imageBefore) << "the rebuild writes the task folder only";
  EXPECT_GT(fs::file_size(taskFilePath(folder, TaskFileId::FileEntries)), 0u);

  // Loaded again, the entries it made are read as they are.
  const ScanOutcome again = loadTaskFolder(folder, scan.image());
  EXPECT_EQ(again.files, loaded.files);
  EXPECT_EQ(again.records, loaded.records);
}

TEST(UnfinishedTask, TheRebuildStopsAtTheCheckpointsRawLength) {
  SampleScan scan;
  ASSERT_TRUE(scan.reference.ok);
  const std::size_t durable = scan.records.size() / 3;
  ASSERT_GT(durable, 0u);
  const std::string folder = scan.dir.file("died");
  const std::uint64_t rawBytes = writeDiedTask(folder, scan.records, durable, scan.sample.bytes.size(), true);
  ASSERT_EQ(rawBytes, kTaskHeaderSize + durable * kSegmentRecordSize);
  ASSERT_GT(fs::file_size(taskFilePath(folder, TaskFileId::RawSegments)), rawBytes) << "records past the checkpoint";

  const ScanOutcome loaded = loadTaskFolder(folder, scan.image());
  ASSERT_TRUE(loaded.ok) << loaded.error;
  EXPECT_EQ(recordCount(loaded), durable);
  // Exactly the durable records, none of those after them.
  std::vector<SegmentRecord> kept;
  for (const auto& file : loaded.records) kept.insert(kept.end(), file.begin(), file.end());
  std::vector<SegmentRecord> first(scan.records.begin(), scan.records.begin() + static_cast<std::ptrdiff_t>(durable));
  auto byOffset = [](const SegmentRecord& a, const SegmentRecord& b) { return a.deviceOffset < b.deviceOffset; };
  std::sort(kept.begin(), kept.end(), byOffset);
  std::sort(first.begin(), first.end(), byOffset);
  EXPECT_EQ(kept, first);
}

TEST(UnfinishedTask, ACheckpointInsideARecordKeepsTheWholeRecordsBeforeIt) {
  SampleScan scan;
  ASSERT_TRUE(scan.reference.ok);
  const std::string folder = scan.dir.file("died");
  const std::size_t durable = 3;
  writeDiedTask(folder, scan.records, durable, scan.sample.bytes.size(), false);
  // A header whose raw length ends 10 bytes into the fourth record.
  std::array<std::uint8_t, kTaskHeaderSize> bytes{};
  ASSERT_TRUE(readFileHead(taskFilePath(folder, TaskFileId::RawSegments), bytes));
  auto header = TaskHeader::decode(bytes);
  ASSERT_TRUE(header);
  header->checkpoint = TaskCheckpoint{8, 4096, kTaskHeaderSize + durable * kSegmentRecordSize + 10, 3, 1};
  ResultStore store;
  ASSERT_TRUE(store.openFiles(folder, TaskFileMode::Existing));
  ASSERT_TRUE(store.writeHeader(*header));
  store.close();
  const ScanOutcome loaded = loadTaskFolder(folder, scan.image());
  ASSERT_TRUE(loaded.ok) << loaded.error;
  EXPECT_EQ(recordCount(loaded), durable);
}

TEST(UnfinishedTask, AStoppedScanLoadsWhatItFoundAndSaysItIsUnfinished) {
  TempDir dir;
  const auto image = sample::buildSampleImage().bytes;
  ScanRequest request;
  request.stopAfterProgress = 1;
  const ScanOutcome stopped = scanImage(dir, image, request);
  ASSERT_TRUE(stopped.ok);
  ASSERT_EQ(stopped.endSector, 0u);
  bool complete = true;
  const ScanOutcome loaded = loadTaskFolder(dir.file("task"), dir.file("image.img"),
                                            [&](TaskContext& t) { complete = t.complete(); });
  ASSERT_TRUE(loaded.ok);
  EXPECT_FALSE(complete);
  EXPECT_EQ(loaded.files, stopped.files);
  EXPECT_EQ(loaded.records, stopped.records);

  // A completed task is complete, and lists what its scan listed.
  TempDir whole;
  const ScanOutcome done = scanImage(whole, image, ScanRequest{});
  const ScanOutcome reloaded = loadTaskFolder(whole.file("task"), whole.file("image.img"),
                                              [&](TaskContext& t) { complete = t.complete(); });
  EXPECT_TRUE(complete);
  EXPECT_EQ(reloaded.files, done.files);
}

TEST(UnfinishedTask, ARawFileWithGarbageRunsIsRefusedOrRebuiltWithoutReadingPastIt) {
  SampleScan scan;
  ASSERT_TRUE(scan.reference.ok);
  const std::string folder = scan.dir.file("died");
  writeDiedTask(folder, scan.records, 2, scan.sample.bytes.size(), true);
  // The run index made hostile: a run far past the raw file, and one of a huge length.
  std::vector<std::uint8_t> index(2 * kIndexRecordSize);
  IndexRecord{1, 1ull << 40, 37 * 1000}.write(index.data());
  IndexRecord{2, kTaskHeaderSize, 1ull << 50}.write(index.data() + kIndexRecordSize);
  ResultStore store;
  ASSERT_TRUE(store.openFiles(folder, TaskFileMode::Existing));
  store.close();
  // The index file is enciphered as the store writes it; garbage in it must not crash the load.
  auto plain = readFile(taskFilePath(folder, TaskFileId::Index));
  plain.insert(plain.end(), index.begin(), index.end());
  writeFile(taskFilePath(folder, TaskFileId::Index), plain);
  const ScanOutcome loaded = loadTaskFolder(folder, scan.image());
  if (loaded.ok) EXPECT_LE(recordCount(loaded), 2u) << "nothing past the checkpoint's raw length";
}

// Deletes the image at the scan's first progress, as a user tidying up mid-scan would.
class DeletingObserver final : public TaskObserver {
 public:
  explicit DeletingObserver(std::string path) : m_path(std::move(path)) {}
  void onTaskStatus(const TaskStatus& status) override {
    if (status.code == StatusCode::Message) messages.push_back(status.message);
    if (status.code == StatusCode::ScanProgress && !deleted) deleted = fs::remove(m_path);
  }
  std::vector<std::string> messages;
  bool deleted = false;

 private:
  std::string m_path;
};

TEST(VanishedSource, AnImageDeletedMidScanThatStillReadsIsScannedToItsEnd) {
  TempDir dir;
  const auto image = sample::buildSampleImage().bytes;
  const ScanOutcome reference = scanImage(dir, image, ScanRequest{});
  ASSERT_TRUE(reference.ok);
  DeletingObserver observer(dir.file("image.img"));
  TaskContext task;
  DeviceRecord device = makeImageRecord(dir.file("image.img"), 0);
  TaskHead head = scanHead(ScanRequest{}, image.size(), dir.file("again"));
  head.device = &device;
  fs::create_directories(dir.file("again"));
  task.describe(head);
  ASSERT_TRUE(runTask(task, observer));  // loading it again would need the image
  EXPECT_TRUE(observer.deleted);
  ASSERT_TRUE(loadBrandFiles(task, observer));
  // The open descriptor still reads every byte: nothing is lost, nothing is called bad.
  EXPECT_TRUE(task.complete());
  EXPECT_EQ(task.fileMap.size(), reference.files.size());
  for (const auto& m : observer.messages) {
    EXPECT_FALSE(m.starts_with(kUnreadableBlockText)) << m;
    EXPECT_NE(m, kSourceGoneText);
  }
}

}  // namespace
}  // namespace norvale::test
