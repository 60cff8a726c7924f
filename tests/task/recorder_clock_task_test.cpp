// A task keeps the recorder's zone and clock correction: the scan and every reload read the
// times in that zone whatever the workstation's, and the correction moves the days alone.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "format/task_header.h"
#include "sample/sample_image.h"
#include "support/scan_harness.h"
#include "task/result_store.h"
#include "task/task_runner.h"

namespace norvale {
namespace {

constexpr const char* kZoneFailed = "录像机时区无法识别,请确认时区名称";

// Recordings at 00:00 and 23:00 of 2010-01-01 in Shanghai on each of four channels; the first
// of them is still 2009 in UTC, which the packet test refuses.
sample::SampleImage newYearInShanghai() {
  test::ZoneGuard shanghai("Asia/Shanghai");
  sample::SampleLayout layout;
  layout.firstYear = 2010;
  layout.firstMonth = 1;
  layout.firstDay = 1;
  layout.days = 1;
  layout.recordingHours = {0, 23};
  return sample::buildSampleImage(layout);
}

std::uint32_t dayOf(std::uint64_t key) { return static_cast<std::uint32_t>(key); }

// The listing a user reads: each file's start and end text in the task's convention.
std::function<void(TaskContext&)> listInto(std::vector<std::string>& texts) {
  return [&texts](TaskContext& task) {
    const TimeConvention convention = task.timeConvention();
    for (const auto& [key, entry] : task.fileMap)
      texts.push_back(timeText(convention, entry.startTime) + " - " + timeText(convention, entry.endTime));
  };
}

TEST(RecorderZone, ScanAndReloadReadTheRecordersZoneWhateverTheWorkstations) {
  const auto image = newYearInShanghai();
  test::TempDir here, named, plain;
  std::vector<std::string> hereTexts, namedTexts, reloadTexts;
  test::ScanRequest today;  // the process's zone, as tasks read before they kept one
  today.afterScan = listInto(hereTexts);
  test::ScanOutcome hereScan, namedScan, plainScan, reloaded;
  {
    test::ZoneGuard shanghai("Asia/Shanghai");
    hereScan = test::scanImage(here, image.bytes, today);
  }
  {
    test::ZoneGuard utc("UTC");
    test::ScanRequest request;
    request.zone = "Asia/Shanghai";
    request.afterScan = listInto(namedTexts);
    namedScan = test::scanImage(named, image.bytes, request);
    plainScan = test::scanImage(plain, image.bytes, {});
  }
  {
    test::ZoneGuard newYork("America/New_York");
    reloaded = test::loadTaskFolder(named.file("task"), named.file("image.img"), [&](TaskContext& task) {
      EXPECT_EQ(task.description().recorderZone, "Asia/Shanghai");
      ASSERT_TRUE(task.zone);
      EXPECT_EQ(task.zone->name(), "Asia/Shanghai");
      listInto(reloadTexts)(task);
    });
  }
  ASSERT_TRUE(hereScan.ok && namedScan.ok && plainScan.ok && reloaded.ok) << namedScan.error << reloaded.error;
  ASSERT_EQ(namedScan.files.size(), 8u);
  for (const auto key : namedScan.keys) EXPECT_EQ(dayOf(key), calendarCode(2010, 1, 1));
  EXPECT_EQ(namedScan.files, hereScan.files);
  EXPECT_EQ(namedScan.keys, hereScan.keys);
  EXPECT_EQ(namedScan.records, hereScan.records);
  EXPECT_EQ(reloaded.files, namedScan.files);
  EXPECT_EQ(reloaded.keys, namedScan.keys);
  EXPECT_EQ(namedTexts, hereTexts);
  EXPECT_EQ(reloadTexts, hereTexts);
  EXPECT_EQ(hereTexts.front(), "2010年01月01日 00时00分00秒 - 2010年01月01日 00时00分07秒");
  // Without the zone a UTC workstation loses the midnight recordings, as it always did.
  EXPECT_EQ(plainScan.files.size(), 4u);
}

TEST(RecorderZone, CorrectionMovesTheDaysAndNothingTheRecorderWrote) {
  const auto image = newYearInShanghai();
  test::TempDir exact, behind;
  test::ZoneGuard utc("UTC");
  test::ScanRequest request;
  request.zone = "Asia/Shanghai";
  const auto asWritten = test::scanImage(exact, image.bytes, request);
  std::vector<std::string> texts;
  request.clockCorrection = -3600;  // the recorder's clock ran an hour fast
  const auto corrected = test::scanImage(behind, image.bytes, request);
  const auto reloaded = test::loadTaskFolder(behind.file("task"), behind.file("image.img"), [&](TaskContext& task) {
    EXPECT_EQ(task.description().clockCorrection, -3600);
    listInto(texts)(task);
    EXPECT_EQ(timeText(task.timeConvention().asRecorded(), task.fileMap.begin()->second.startTime),
              "2010年01月01日 00时00分00秒");
  });
  ASSERT_TRUE(asWritten.ok && corrected.ok && reloaded.ok) << corrected.error;
  // The same segments and files, joined by the recorder's own clock.
  EXPECT_EQ(corrected.files, asWritten.files);
  EXPECT_EQ(corrected.records, asWritten.records);
  ASSERT_EQ(corrected.keys.size(), 8u);
  for (std::size_t f = 0; f < corrected.keys.size(); ++f) {
    // In channel order, each channel's day before the new year's first.
    EXPECT_EQ(dayOf(corrected.keys[f]), f % 2 == 0 ? calendarCode(2009, 12, 31) : calendarCode(2010, 1, 1)) << f;
  }
  EXPECT_EQ(reloaded.keys, corrected.keys);
  EXPECT_EQ(texts.front(), "2009年12月31日 23时00分00秒 - 2009年12月31日 23时00分07秒");
  EXPECT_EQ(texts[1], "2010年01月01日 22时00分00秒 - 2010年01月01日 22时00分07秒");
}

TEST(RecorderZone, AHeadNotYetLoadedReadsInItsZoneAndCorrection) {
  test::ZoneGuard utc("UTC");
  TaskContext task;
  TaskHead head;
  head.description.brand = 18;
  head.description.parseMode = kParseDeep;
  head.description.recorderZone = "Asia/Tokyo";
  head.description.clockCorrection = 60;
  task.describe(head);
  EXPECT_EQ(timeText(task.timeConvention(), 1463443200), "2016年05月17日 09时01分00秒");
  EXPECT_EQ(task.head().description.recorderZone, "Asia/Tokyo");
  EXPECT_EQ(task.head().description.clockCorrection, 60);
  EXPECT_EQ(task.header().zone, "Asia/Tokyo");
  EXPECT_EQ(task.header().clockCorrection, 60);
}

TEST(RecorderZone, AZoneTheDatabaseLacksIsRefusedBeforeScanningAndLoading) {
  const auto image = newYearInShanghai();
  test::TempDir dir;
  test::ScanRequest request;
  request.zone = "Nowhere/City";
  const auto refused = test::scanImage(dir, image.bytes, request);
  EXPECT_FALSE(refused.ok);
  EXPECT_NE(refused.error.find("Nowhere/City"), std::string::npos) << refused.error;
  EXPECT_EQ(refused.messages, std::vector<std::string>{kZoneFailed});
  EXPECT_FALSE(std::filesystem::exists(taskFilePath(dir.file("task"), TaskFileId::RawSegments)))
      << "no task files for a scan that did not start";

  // A task whose header names such a zone (made elsewhere, or damaged) loads nothing.
  request.zone = "Asia/Shanghai";
  ASSERT_TRUE(test::scanImage(dir, image.bytes, request).ok);
  const std::string headerPath = taskFilePath(dir.file("task"), TaskFileId::RawSegments);
  auto bytes = test::readFile(headerPath);
  ASSERT_EQ(bytes.size(), kTaskHeaderSize);
  std::array<std::uint8_t, kTaskHeaderSize> header{};
  std::copy(bytes.begin(), bytes.end(), header.begin());
  auto decoded = TaskHeader::decode(header);
  ASSERT_TRUE(decoded);
  decoded->zone = "Nowhere/City";
  const auto encoded = decoded->encode();
  test::writeFile(headerPath, std::vector<std::uint8_t>(encoded.begin(), encoded.end()));
  const auto loaded = test::loadTaskFolder(dir.file("task"), dir.file("image.img"));
  EXPECT_FALSE(loaded.ok);
  EXPECT_TRUE(loaded.files.empty());
  EXPECT_EQ(loaded.messages, std::vector<std::string>{kZoneFailed});
}

}  // namespace
}  // namespace norvale
