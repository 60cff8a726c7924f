// Checkpoints and resumed scans: a scan stopped, cut off at a checkpoint (a crash leaves records
// after it), or ended by a full disk goes on from its checkpoint, and the task files come out
// byte for byte as those of a scan never interrupted. Checkpoints the files do not hold are
// refused and change nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "corpus/recorder_stream.h"
#include "parsers/brand_parser.h"
#include "parsers/brand_table.h"
#include "sample/sample_image.h"
#include "support/file_faults.h"
#include "support/index_table_images.h"
#include "support/test_support.h"
#include "task/result_store.h"
#include "task/scan_wording.h"
#include "task/task_file.h"
#include "task/task_runner.h"

namespace norvale::test {
namespace {
namespace fs = std::filesystem;

using TaskFiles = std::vector<std::vector<std::uint8_t>>;

TaskFiles taskFiles(const std::string& folder) {
  TaskFiles files;
  for (int n = 1; n <= 4; ++n) files.push_back(readFile(folder + "/Attr00" + std::to_string(n) + ".map"));
  return files;
}

std::vector<std::uint8_t> recordings(std::uint8_t brand, std::uint64_t size) {
  corpus::StreamLayout layout;
  layout.channels = 5;
  layout.recordingSeconds = 3;
  layout.pauseSeconds = 100;
  layout.seed = brand;
  layout.keyMin = 30'000, layout.keyMax = 120'000;
  layout.otherMin = 2'000, layout.otherMax = 12'000;
  corpus::MemoryImageWriter out;
  corpus::writeRecorderImage(brand, layout, size, out);
  return std::move(out.bytes());
}

std::vector<std::uint8_t> denseImage() {
  corpus::MemoryImageWriter out;
  corpus::writeDenseImage(4u << 20, 300, 5, out);
  return std::move(out.bytes());
}

// Resumes dir/task against dir/image.img in a fresh context, as a second run would.
Result<ScanEnd> resume(const TempDir& dir, const std::string& folder, int threads = 1,
                       RecordingObserver* observer = nullptr) {
  DeviceRecord device = makeImageRecord(dir.file("image.img"), 0);
  RecordingObserver own;
  TaskContext task;
  auto head = readTaskHeader(task, test::noListener(), folder);
  if (!head) return std::unexpected(head.error());
  head->taskFolder = folder;
  head->device = &device;
  head->scan.threads = threads;
  head->scan.readAhead = false;
  head->scan.checkpointSeconds = 0;
  task.describe(*head);
  return runResumedTask(task, observer ? *observer : own);
}

std::optional<TaskCheckpoint> checkpointOf(const std::string& folder) {
  TaskContext task;
  auto head = readTaskHeader(task, test::noListener(), folder);
  if (!head) ADD_FAILURE() << "header of " << folder << ": " << head.error().message;
  return head ? head->checkpoint : std::nullopt;
}

// A new scan of dir/image.img into folder, with a hook after each checkpoint.
void scanWithHook(const TempDir& dir, std::uint64_t imageSize, const ScanRequest& request, const std::string& folder,
                  std::function<void(TaskContext&)> hook) {
  fs::create_directories(folder);
  DeviceRecord device = makeImageRecord(dir.file("image.img"), 0);
  RecordingObserver observer;
  TaskContext task;
  TaskHead head = scanHead(request, imageSize, folder);
  head.device = &device;
  task.describe(head);
  task.checkpointMade = [&] { hook(task); };
  ASSERT_TRUE(runNewTask(task, observer));
}

struct Case {
  std::string name;
  std::uint8_t brand;
  std::uint8_t mode;
  std::vector<std::uint8_t> bytes;
};

std::vector<Case> cases() {
  std::vector<Case> out;
  for (std::uint8_t brand : corpus::distinctLayoutBrands()) {
    auto bytes = recordings(brand, brand == 5 ? 12u << 20 : 5u << 20);
    for (std::uint8_t mode : {kParseQuick, kParseDeep})
      if (findBrand(brand)) out.push_back({"recordings brand " + std::to_string(brand), brand, mode, bytes});
  }
  out.push_back({"sample", 18, kParseDeep, sample::buildSampleImage().bytes});
  out.push_back({"dense", 18, kParseDeep, denseImage()});
  return out;
}

std::string caseName(const Case& c, int threads) {
  return c.name + (c.mode == kParseQuick ? " quick" : " deep") + " threads " + std::to_string(threads);
}

TEST(ScanResume, StoppedScansResumeToTheUninterruptedFiles) {
  TempDir dir;
  std::size_t resumes = 0, midScan = 0;
  for (const Case& c : cases()) {
    ScanRequest request = scanRequest(c.brand, c.mode);
    request.scan.readAhead = false;
    const ScanOutcome reference = scanImage(dir, c.bytes, request);
    ASSERT_TRUE(reference.ok) << c.name << " " << reference.error;
    const TaskFiles files = taskFiles(dir.file("task"));
    ASSERT_FALSE(checkpointOf(dir.file("task"))) << c.name << ": a completed scan keeps no checkpoint";
    for (int threads : {1, 2}) {
      for (int stopAfter : {1, 2, 4}) {
        const std::string what = caseName(c, threads) + " stopped after " + std::to_string(stopAfter);
        ScanRequest stopped = request;
        stopped.stopAfterProgress = stopAfter;
        stopped.scan.threads = threads;
        stopped.scan.checkpointSeconds = 0;
        stopped.scan.chunkBytes = 1 << 20;
        const ScanOutcome cut = scanImage(dir, c.bytes, stopped);
        ASSERT_TRUE(cut.ok) << what << " " << cut.error;
        const auto checkpoint = checkpointOf(dir.file("task"));
        if (!checkpoint) {  // the scan had finished before the stop was seen
          EXPECT_TRUE(taskFiles(dir.file("task")) == files) << what;
          continue;
        }
        if (checkpoint->resumeOffset > 0) ++midScan;
        EXPECT_EQ(checkpoint->rawBytes, fs::file_size(dir.file("task/Attr001.map"))) << what;
        const auto resumed = resume(dir, dir.file("task"), threads);
        ASSERT_TRUE(resumed) << what << ": " << resumed.error().message;
        EXPECT_FALSE(checkpointOf(dir.file("task"))) << what;
        EXPECT_TRUE(taskFiles(dir.file("task")) == files) << what;
        const ScanOutcome loaded = loadTaskFolder(dir.file("task"), dir.file("image.img"));
        EXPECT_EQ(loaded.files, reference.files) << what;
        EXPECT_EQ(loaded.records, reference.records) << what;
        ++resumes;
      }
    }
  }
  EXPECT_GT(resumes, 40u);
  EXPECT_GT(midScan, 20u) << "most stops resume from inside the range";
}

TEST(ScanResume, AScanStoppedByAVanishedSourceResumesOnceTheSourceIsBack) {
  TempDir dir;
  const auto bytes = recordings(18, 8u << 20);
  ScanRequest request = scanRequest(18, kParseDeep);
  request.scan.readAhead = false;
  const ScanOutcome reference = scanImage(dir, bytes, request);  // also writes dir/image.img
  ASSERT_TRUE(reference.ok) << reference.error;
  const TaskFiles files = taskFiles(dir.file("task"));

  // The same bytes from a source that goes away 5 MiB in: one message, a stop, a checkpoint.
  auto image = std::make_shared<SparseImage>(bytes.size());
  image->put(0, bytes);
  const std::uint64_t vanish = (5u << 20) + 4096;
  ScanRequest gone = request;
  gone.scan.checkpointSeconds = 0;
  const SourceScan cut = scanSparse(dir, image, gone, {}, vanish);
  ASSERT_TRUE(cut.outcome.ok) << cut.outcome.error;
  EXPECT_EQ(std::count(cut.outcome.messages.begin(), cut.outcome.messages.end(), std::string(kSourceGoneText)), 1);
  const auto checkpoint = checkpointOf(dir.file("task"));
  ASSERT_TRUE(checkpoint) << "the stop left a checkpoint";
  EXPECT_GT(checkpoint->resumeOffset, 0u) << "what was read before the source went is kept";
  EXPECT_LE(checkpoint->resumeOffset, vanish);

  // The disk is attached again (the image file): the resumed scan is the uninterrupted one.
  const auto resumed = resume(dir, dir.file("task"), 2);
  ASSERT_TRUE(resumed) << resumed.error().message;
  EXPECT_TRUE(taskFiles(dir.file("task")) == files);
  const ScanOutcome loaded = loadTaskFolder(dir.file("task"), dir.file("image.img"));
  EXPECT_EQ(loaded.files, reference.files);
}

TEST(ScanResume, CopiesTakenAtCheckpointsWithCrashLeftoversResumeToTheSameFiles) {
  for (const Case& c : {Case{"dense", 18, kParseDeep, denseImage()},
                        Case{"recordings brand 1", 1, kParseDeep, recordings(1, 5u << 20)},
                        Case{"recordings brand 3", 3, kParseDeep, recordings(3, 5u << 20)}}) {
    TempDir dir;
    ScanRequest request = scanRequest(c.brand, c.mode);
    request.scan.readAhead = false;
    const ScanOutcome reference = scanImage(dir, c.bytes, request);
    ASSERT_TRUE(reference.ok);
    const TaskFiles files = taskFiles(dir.file("task"));
    ScanRequest checkpointed = request;
    checkpointed.scan.checkpointSeconds = 0;
    int made = 0;
    std::vector<std::string> copies;
    scanWithHook(dir, c.bytes.size(), checkpointed, dir.file("live"), [&](TaskContext&) {
      const std::string copy = dir.file("copy" + std::to_string(made++));
      fs::create_directories(copy);
      for (int n = 1; n <= 4; ++n) {
        const std::string name = "/Attr00" + std::to_string(n) + ".map";
        fs::copy_file(dir.file("live") + name, copy + name);
      }
      copies.push_back(copy);
    });
    ASSERT_GE(copies.size(), 3u) << c.name;
    EXPECT_TRUE(taskFiles(dir.file("live")) == files) << c.name << ": checkpoints change nothing of the result";
    for (std::size_t k = 0; k < copies.size(); ++k) {
      const std::string what = c.name + " checkpoint " + std::to_string(k);
      // What a crash after the checkpoint leaves: records of a later flush (a partial one at
      // that), and index runs for them.
      std::vector<std::uint8_t> raw = readFile(copies[k] + "/Attr001.map");
      for (int i = 0; i < 37 * 5 + 11; ++i) raw.push_back(static_cast<std::uint8_t>(i * 7 + k));
      writeFile(copies[k] + "/Attr001.map", raw);
      std::vector<std::uint8_t> index = readFile(copies[k] + "/Attr002.map");
      index.insert(index.end(), 13, 0x5A);
      writeFile(copies[k] + "/Attr002.map", index);
      const auto resumed = resume(dir, copies[k], k % 2 ? 2 : 1);
      ASSERT_TRUE(resumed) << what << ": " << resumed.error().message;
      EXPECT_TRUE(taskFiles(copies[k]) == files) << what;
    }
  }
}

TEST(ScanResume, AFullDiskEndsTheScanAndLeavesItsLastCheckpointToResumeFrom) {
  TempDir dir;
  const auto bytes = denseImage();
  ScanRequest request = scanRequest(18, kParseDeep);
  request.scan.readAhead = false;
  const ScanOutcome reference = scanImage(dir, bytes, request);
  ASSERT_TRUE(reference.ok);
  const TaskFiles files = taskFiles(dir.file("task"));
  ASSERT_GT(files[2].size(), 100'000u);

  ScanRequest checkpointed = request;
  checkpointed.scan.checkpointSeconds = 0;
  DiskSpace disk(files[2].size() / 2);  // the disk fills half-way through the raw records
  checkpointed.probe = &disk;
  const ScanOutcome full = scanImage(dir, bytes, checkpointed);
  EXPECT_FALSE(full.ok) << "a scan the disk cut short failed";
  const auto failed = std::find_if(full.messages.begin(), full.messages.end(), [](const std::string& m) {
    return m.find("写入任务文件失败") != std::string::npos && m.find("No space left on device") != std::string::npos;
  });
  EXPECT_NE(failed, full.messages.end()) << "the message names the full disk";
  const auto checkpoint = checkpointOf(dir.file("task"));
  ASSERT_TRUE(checkpoint);
  EXPECT_GT(checkpoint->rawBytes, kTaskHeaderSize) << "checkpoints were made before the disk filled";
  EXPECT_LE(checkpoint->rawBytes, fs::file_size(dir.file("task/Attr001.map")));

  ASSERT_TRUE(resume(dir, dir.file("task")));
  EXPECT_TRUE(taskFiles(dir.file("task")) == files);
}

std::optional<TaskHead> headOf(const std::string& folder) {
  TaskContext task;
  auto head = readTaskHeader(task, test::noListener(), folder);
  return head ? std::optional<TaskHead>(*head) : std::nullopt;
}

const char* callName(FileCall call) {
  switch (call) {
    case FileCall::Read: return "read";
    case FileCall::Write: return "write";
    case FileCall::Sync: return "fsync";
    case FileCall::Truncate: return "truncate";
  }
  return "?";
}

// Each call on the task files made to fail in turn (every write, read, fsync and truncate of the
// walk, its checkpoints, the rebuild and the last header): the scan fails with the error named,
// its header never claims an end it did not make durable, and the task resumes to the files of
// a scan never interrupted.
TEST(ScanResume, AFailedTaskFileCallAnywhereLeavesAnUnfinishedTaskThatResumesToTheSameFiles) {
  TempDir dir;
  const auto bytes = recordings(18, 3u << 20);
  ScanRequest request = scanRequest(18, kParseDeep);
  request.scan.readAhead = false;
  request.scan.checkpointSeconds = 0;  // checkpoints are among the calls
  const ScanOutcome reference = scanImage(dir, bytes, request);
  ASSERT_TRUE(reference.ok && reference.end == ScanEnd::Completed) << reference.error;
  const TaskFiles files = taskFiles(dir.file("task"));
  std::size_t resumed = 0, afterTheWalk = 0;
  for (FileCall call : {FileCall::Write, FileCall::Sync, FileCall::Read, FileCall::Truncate}) {
    FailingCall counter(call, 0);
    ScanRequest counted = request;
    counted.probe = &counter;
    // Without collecting the files afterwards: only the calls the task makes count.
    const FileCollector none = [](TaskContext&, ScanOutcome&) {};
    ASSERT_TRUE(scanImageFile(dir, bytes.size(), counted, none).ok);
    ASSERT_GT(counter.calls(), 0u) << callName(call);
    const int error = call == FileCall::Sync ? EIO : ENOSPC;
    for (std::uint64_t n = 1; n <= counter.calls(); ++n) {
      const std::string what = std::string(callName(call)) + " " + std::to_string(n) + " of " +
                               std::to_string(counter.calls());
      FailingCall failing(call, n, error);
      ScanRequest faulty = request;
      faulty.probe = &failing;
      const ScanOutcome failed = scanImageFile(dir, bytes.size(), faulty, none);
      ASSERT_FALSE(failed.ok) << what << ": a failure is never a finished scan";
      EXPECT_NE(failed.error.find(std::strerror(error)), std::string::npos) << what << ": " << failed.error;
      const auto head = headOf(dir.file("task"));
      if (!head) {  // the first header never reached the disk: no task to go on, a new scan
        ASSERT_TRUE(scanImage(dir, bytes, request).ok) << what;
        EXPECT_TRUE(taskFiles(dir.file("task")) == files) << what;
        continue;
      }
      if (head->endSector != 0) {  // complete and durable; cutting the raw records back or the load failed
        EXPECT_FALSE(head->checkpoint) << what;
        EXPECT_EQ(loadTaskFolder(dir.file("task"), dir.file("image.img")).files, reference.files) << what;
        continue;
      }
      ASSERT_TRUE(head->checkpoint) << what << ": the last checkpoint stays";
      for (const std::string& m : failed.messages) EXPECT_EQ(m.find("视频流信息完成"), std::string::npos) << what;
      EXPECT_NE(failed.error.find("写入任务文件失败,请检查任务路径所在磁盘: "), std::string::npos) << what;
      EXPECT_EQ(std::count(failed.messages.begin(), failed.messages.end(), failed.error), 1) << what;
      if (fs::file_size(dir.file("task/Attr003.map")) > 0) ++afterTheWalk;  // the rebuild had begun
      const auto again = resume(dir, dir.file("task"));
      ASSERT_TRUE(again) << what << ": " << again.error().message;
      EXPECT_EQ(*again, ScanEnd::Completed) << what;
      EXPECT_TRUE(taskFiles(dir.file("task")) == files) << what;
      ++resumed;
    }
  }
  EXPECT_GT(resumed, 40u);
  EXPECT_GT(afterTheWalk, 0u) << "calls of the rebuild and the last header failed too";
}

// A stopped task whose header gets the checkpoint given.
void stopWithCheckpoint(const TempDir& dir, const std::vector<std::uint8_t>& bytes,
                        const std::function<void(TaskCheckpoint&)>& change) {
  ScanRequest request = scanRequest(18, kParseDeep, 3);
  request.scan.checkpointSeconds = 0;
  request.scan.readAhead = false;
  ASSERT_TRUE(scanImage(dir, bytes, request).ok);
  TaskContext task;
  auto head = readTaskHeader(task, test::noListener(), dir.file("task"));
  ASSERT_TRUE(head && head->checkpoint);
  TaskHeader header = TaskHeader::of(head->description, head->endSector, head->checkpoint);
  change(*header.checkpoint);
  std::vector<std::uint8_t> raw = readFile(dir.file("task/Attr001.map"));
  const auto encoded = header.encode();
  std::copy(encoded.begin(), encoded.end(), raw.begin());
  writeFile(dir.file("task/Attr001.map"), raw);
}

TEST(ScanResume, CheckpointsTheFilesDoNotHoldAreRefusedAndChangeNothing) {
  TempDir dir;
  const auto bytes = denseImage();
  struct Hostile {
    const char* name;
    std::function<void(TaskCheckpoint&)> change;
    const char* says;
  };
  const std::vector<Hostile> hostile = {
      {"raw bytes past the end", [](TaskCheckpoint& c) { c.rawBytes += 37 * 1000; }, "任务断点无效"},
      {"raw bytes past the end", [](TaskCheckpoint& c) { c.rawBytes += 37 * 1000; }, "past the file's end"},
      {"raw bytes off a record", [](TaskCheckpoint& c) { c.rawBytes -= 5; }, "record boundary"},
      {"resume offset past the range", [](TaskCheckpoint& c) { c.resumeOffset = c.sector * 512 + 5; }, "no task of this program"},
      {"raw bytes inside the header", [](TaskCheckpoint& c) { c.rawBytes = 100; }, "no task of this program"},
      {"raw bytes inside a flush", [](TaskCheckpoint& c) { c.rawBytes -= 37; }, "does not end a flush"},
  };
  for (const Hostile& h : hostile) {
    stopWithCheckpoint(dir, bytes, h.change);
    const TaskFiles before = taskFiles(dir.file("task"));
    RecordingObserver observer;
    const auto resumed = resume(dir, dir.file("task"), 1, &observer);
    ASSERT_FALSE(resumed) << h.name;
    EXPECT_NE(resumed.error().message.find(h.says), std::string::npos) << h.name << ": " << resumed.error().message;
    EXPECT_TRUE(taskFiles(dir.file("task")) == before) << h.name;
  }
}

TEST(ScanResume, CompletedTasksAndTasksWithoutCheckpointAreNotResumed) {
  TempDir dir;
  const auto bytes = recordings(18, 3u << 20);
  ASSERT_TRUE(scanImage(dir, bytes, scanRequest(18, kParseDeep)).ok);
  const TaskFiles done = taskFiles(dir.file("task"));
  auto resumed = resume(dir, dir.file("task"));
  ASSERT_FALSE(resumed);
  EXPECT_NE(resumed.error().message.find("任务已完成"), std::string::npos);
  EXPECT_TRUE(taskFiles(dir.file("task")) == done);

  // An unfinished task of a version before checkpoints: zeros where the block would be.
  std::vector<std::uint8_t> raw = readFile(dir.file("task/Attr001.map"));
  std::fill(raw.begin() + 18, raw.begin() + 26, 0);  // no end sector: the scan did not finish
  writeFile(dir.file("task/Attr001.map"), raw);
  const TaskFiles old = taskFiles(dir.file("task"));
  resumed = resume(dir, dir.file("task"));
  ASSERT_FALSE(resumed);
  EXPECT_NE(resumed.error().message.find("任务没有断点"), std::string::npos);
  EXPECT_TRUE(taskFiles(dir.file("task")) == old);
}

TEST(ScanResume, ANewScanRecordsItsSourceForTheResume) {
  TempDir dir;
  ASSERT_TRUE(scanImage(dir, recordings(18, 2u << 20), scanRequest(18, kParseDeep)).ok);
  const auto recorded = recordedTaskSource(dir.file("task"));
  ASSERT_TRUE(recorded);
  EXPECT_TRUE(fs::equivalent(*recorded, dir.file("image.img")));
  EXPECT_FALSE(recordedTaskSource(dir.file("nowhere")));
}

}  // namespace
}  // namespace norvale::test
