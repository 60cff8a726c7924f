#include <gtest/gtest.h>

#include <algorithm>

#include "parsers/brand_parser.h"
#include "parsers/brand_table.h"
#include "parsers/scan_sink.h"
#include "sample/sample_image.h"
#include "support/conformance_images.h"
#include "support/frame_parser_support.h"
#include "support/scan_harness.h"
#include "task/brand_scan.h"
#include "task/result_store.h"
#include "task/scan_wording.h"

namespace norvale {
namespace {

using test::RecordingObserver;
using Reads = std::vector<std::pair<std::uint64_t, std::size_t>>;

// Runs the brand-18 parser straight over a source (bad sectors, read logs), as the runner would.
struct DirectScan {
  test::TempDir dir;
  RecordingObserver observer;
  TaskContext task;
  Reads reads;

  DirectScan(std::vector<std::uint8_t> image, std::uint64_t start, std::uint64_t length,
             const std::vector<std::uint64_t>& badSectors = {}) {
    auto source = std::make_unique<test::ScriptedSource>(std::move(image));
    source->log = &reads;
    for (auto s : badSectors) source->markBad(s);
    TaskHead head;
    head.description = TaskDescription{18, kParseDeep, start, length, "", 0, YearWindow{}};
    head.taskFolder = dir.str();
    task.describe(head);
    task.reset();
    EXPECT_TRUE(task.store->openFiles(task.taskFolder, TaskFileMode::Create));
    task.deviceHandle.open(std::move(source));
  }
  void run() {
    runBrandScan(task, observer, *createParser(task.description().brand));
    ASSERT_TRUE(loadBrandFiles(task, observer));
  }
  std::vector<TaskStatus> withCode(StatusCode code) const {
    std::vector<TaskStatus> out;
    for (const auto& s : observer.statuses)
      if (s.code == code) out.push_back(s);
    return out;
  }
};

std::vector<std::uint8_t> packetRun(std::uint32_t time, int count, std::size_t payloadSize) {
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> data(payloadSize, 0x11);
  data[3] = 1;
  data[4] = 0x65;
  data[0] = data[1] = data[2] = 0;
  for (int i = 0; i < count; ++i) sample::appendMultiBrandPacket(out, 0, time, data);
  sample::appendFollowerMarker(out);
  return out;
}

TEST(ParserFrame, RunSendsItsMessagesInOrder) {
  DirectScan scan(std::vector<std::uint8_t>(4096, 0), 0, 4096);
  scan.run();
  const auto messages = scan.observer.messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0], "正在深度解析**[18]  中视安防监控录像系统**视频流信息...");
  EXPECT_EQ(messages[1], "正在构建重组**[18]  中视安防监控录像系统**视频流信息...");
  EXPECT_EQ(messages[2], "深度解析**[18]  中视安防监控录像系统**视频流信息完成");
}

TEST(ParserFrame, QuickModeUsesTheQuickTexts) {
  DirectScan scan(std::vector<std::uint8_t>(4096, 0), 0, 4096);
  test::redescribe(scan.task, [](TaskDescription& d) { d.parseMode = kParseQuick; });
  scan.run();
  EXPECT_EQ(scan.observer.messages().front(), "正在快速解析**[18]  中视安防监控录像系统**视频流信息...");
  EXPECT_EQ(scan.observer.messages().back(), "快速解析**[18]  中视安防监控录像系统**视频流信息完成");
}

TEST(ParserFrame, EmptyRangeReadsNothingButEndsTheScan) {
  DirectScan scan(std::vector<std::uint8_t>(4096, 0), 3 << 20, 0);
  scan.run();
  EXPECT_TRUE(scan.reads.empty());
  EXPECT_TRUE(scan.withCode(StatusCode::ScanStart).empty());
  EXPECT_EQ(scan.task.endSector, (3u << 20) / 512);
}

TEST(ParserFrame, ShortFinalBlockReadsExactlyTheRemainingBytes) {
  const std::uint64_t size = (3 << 19) + 100;  // 1.5 MiB + 100 bytes
  DirectScan scan(std::vector<std::uint8_t>(size, 0), 0, size);
  scan.run();
  // The remaining 512 KiB + 100 bytes: whole sectors, then the tail sector (short at the end).
  EXPECT_EQ(scan.reads, (Reads{{0, kBlockSize + kLookAhead}, {kBlockSize, 1 << 19}, {kBlockSize + (1 << 19), 512}}));
  const auto start = scan.withCode(StatusCode::ScanStart);
  ASSERT_EQ(start.size(), 1u);
  EXPECT_EQ(start[0].value, 1);
  const auto progress = scan.withCode(StatusCode::ScanProgress);
  ASSERT_EQ(progress.size(), 2u);
  EXPECT_EQ(progress[0].value, 1);
  EXPECT_EQ(progress[0].currentSector, kBlockSize / 512u);
  EXPECT_EQ(scan.task.endSector, size / 512);
}

TEST(ParserFrame, PacketAtTheLastWindowOffsetIsTakenAndTheNextBlockStartsAfterIt) {
  std::vector<std::uint8_t> image(kWindowLastStart, 0);
  const auto run = packetRun(sample::localEpoch(2016, 5, 17, 8, 0, 0), 3, 400);
  image.insert(image.end(), run.begin(), run.end());
  DirectScan scan(image, 0, image.size());
  scan.run();
  ASSERT_EQ(scan.task.fileMap.size(), 1u);
  EXPECT_EQ(scan.task.fileMap.begin()->second.recordCount(), 3u);
  const FileEntry& file = scan.task.fileMap.begin()->second;
  const auto records = *scan.task.store->readFileRecords(file, 0, file.recordCount());
  EXPECT_EQ(records[0].deviceOffset, kWindowLastStart + 66u);
  EXPECT_EQ(records[1].deviceOffset, kWindowLastStart + 466u + 66u) << "no packet is found twice";
  // The second block starts right after the packet, at an unaligned offset: head sector first.
  ASSERT_GE(scan.reads.size(), 3u);
  EXPECT_EQ(scan.reads[1], (std::pair<std::uint64_t, std::size_t>{kBlockSize, 512}));
  EXPECT_EQ(scan.reads[2].first, kBlockSize + 512u);
}

TEST(ParserFrame, UnreadableBlockIsReportedSkippedAndTheScanGoesOn) {
  std::vector<std::uint8_t> image(3 * kBlockSize, 0);
  const auto run = packetRun(sample::localEpoch(2016, 5, 17, 8, 0, 0), 5, 300);
  std::copy(run.begin(), run.end(), image.begin() + 2 * kBlockSize + 4096);
  DirectScan scan(image, 0, image.size(), {(kBlockSize + 8192) / 512});
  scan.run();
  const auto messages = scan.observer.messages();
  // The one failed window, a block and its look-ahead from 1 MiB on, is one stretch.
  EXPECT_EQ(std::count(messages.begin(), messages.end(), unreadableStretchText(kBlockSize / 512, kBlockSize / 512 + 1)),
            1)
      << ::testing::PrintToString(messages);
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                          [](const std::string& m) { return m.starts_with("读取源设备失败,可能存在坏道"); }),
            1);
  EXPECT_EQ(scan.withCode(StatusCode::ScanProgress).size(), 2u) << "no progress for the failed block";
  ASSERT_EQ(scan.task.fileMap.size(), 1u);
  EXPECT_EQ(scan.task.fileMap.begin()->second.recordCount(), 5u);
  EXPECT_EQ(scan.task.endSector, image.size() / 512);
}

// Keeps the notices a scan reports and nothing else: what the parsers layer says, before any wording.
class NoticeSink final : public ScanSink {
 public:
  std::vector<ScanNotice> notices;
  void addRecord(const SegmentRecord&, std::uint64_t) override {}
  void appendRecord(const SegmentRecord&) override {}
  void flushIfFull() override {}
  void flush() override {}
  bool arrivalsFull() const override { return false; }
  void listArrivals() override {}
  void listArrivalsAsFile() override {}
  void scanStarted(std::int64_t) override {}
  void progress(std::int64_t) override {}
  void progress(std::int64_t, std::uint64_t) override {}
  void report(const ScanNotice& notice) override { notices.push_back(notice); }
  bool stopRequested() const override { return false; }
  bool failed() const override { return false; }
};

TEST(ParserFrame, UnreadableStretchNoticesCarryTheirFirstSectorAndLength) {
  // A bad sector in the third block: one failed window, the block and its look-ahead sector.
  const std::vector<std::uint8_t> image(4 * kBlockSize, 0);
  auto source = std::make_unique<test::ScriptedSource>(image);
  source->markBad((2 * kBlockSize + 8192) / 512);
  DeviceHandle device;
  device.open(std::move(source));
  const TaskDescription task{18, kParseDeep, 0, image.size(), "", 0, YearWindow{}};
  ScanJob job{device, task};
  job.length = image.size();
  NoticeSink sink;
  findBrand(18)->create()->scan(job, sink);
  const std::uint64_t blockSectors = kBlockSize / 512;
  EXPECT_EQ(sink.notices, (std::vector<ScanNotice>{UnreadableStretch{2 * blockSectors, blockSectors + 1}}));
}

TEST(ParserFrame, StopEndsAtABlockAndKeepsWhatWasFound) {
  std::vector<std::uint8_t> image(4 * kBlockSize, 0);
  const auto run = packetRun(sample::localEpoch(2016, 5, 17, 8, 0, 0), 4, 300);
  std::copy(run.begin(), run.end(), image.begin() + 1000);
  std::copy(run.begin(), run.end(), image.begin() + 3 * kBlockSize);
  DirectScan scan(image, 0, image.size());
  scan.observer.stopTask = &scan.task;
  scan.observer.stopAfterProgress = 1;
  scan.run();
  EXPECT_EQ(scan.withCode(StatusCode::ScanProgress).size(), 1u);
  EXPECT_EQ(scan.task.endSector, 0u);
  ASSERT_EQ(scan.task.fileMap.size(), 1u);
  EXPECT_EQ(scan.task.fileMap.begin()->second.recordCount(), 4u);
  EXPECT_EQ(scan.observer.messages().back(), "深度解析**[18]  中视安防监控录像系统**视频流信息完成")
      << "the rebuild and the closing text follow a stop";
}

// The sample image is the conformance image of brands 18-48.
const test::ConformanceImageRegistrar kSample(
    {.brand = 18, .mode = kParseDeep, .shift = 65, .build = [] { return sample::buildSampleImage().bytes; }});

TEST(ParserFrame, ShiftingTheImageShiftsEveryOffsetByTheSameAmount) {
  const auto images = test::conformanceImagesFor(*findBrand(18));
  ASSERT_EQ(images.size(), 1u);
  test::TempDir dir;
  const auto plain = test::expectShiftedOffsets(dir, images.front()->build(), {}, 65);
  ASSERT_EQ(plain.files.size(), 24u);
}

TEST(ParserFrame, GarbageAndTruncatedImagesFindNothingAndEndCleanly) {
  std::vector<std::uint8_t> garbage = test::patternBytes(3 * kBlockSize + 333);
  test::TempDir dir;
  auto outcome = test::scanImage(dir, garbage, {});
  EXPECT_TRUE(outcome.ok);
  EXPECT_TRUE(outcome.files.empty());

  auto image = sample::buildSampleImage().bytes;
  image.resize(image.size() / 3 + 17);  // cut inside a packet
  test::TempDir cut;
  outcome = test::scanImage(cut, image, {});
  EXPECT_TRUE(outcome.ok);
  EXPECT_FALSE(outcome.files.empty());
  for (const auto& records : outcome.records)
    for (const auto& r : records) EXPECT_LE(r.deviceOffset + r.size, image.size()) << "no record reaches past the end";
}

}  // namespace
}  // namespace norvale
