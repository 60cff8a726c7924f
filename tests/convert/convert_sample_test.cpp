// The sample task converted to MP4: frame counts, times, manifest, damage and stopping.
#include "convert/converter.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "convert/carrier_images.h"
#include "export/exporter.h"
#include "export/manifest.h"
#include "sample/sample_image.h"
#include "support/dfxml_reading.h"

namespace norvale::convert {
namespace {
namespace fs = std::filesystem;

class ConvertSampleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    open = test::scanAndOpen(sample::buildSampleImage().bytes, 18);
    ASSERT_TRUE(open->task) << open->scanned.error;
    ASSERT_EQ(open->scanned.files.size(), 24u);
  }
  std::unique_ptr<test::OpenTask> open;
  test::TempDir out;
};

TEST_F(ConvertSampleTest, EveryFileBecomesAnMp4OfTheWholeClip) {
  auto result = convertFiles(*open->task, open->observer, open->all(), {out.str(), false});
  ASSERT_TRUE(result) << result.error().message;
  ASSERT_EQ(result->size(), 24u);
  const auto names = convertRelativePaths(*open->task);
  for (std::size_t i = 0; i < result->size(); ++i) {
    const auto& f = (*result)[i];
    EXPECT_EQ(f.index, i + 1);
    EXPECT_TRUE(f.written && f.complete) << f.error;
    EXPECT_EQ(f.codec, "h264");
    EXPECT_EQ(f.frames, static_cast<std::uint64_t>(test::kClipFrames));
    EXPECT_EQ(f.keyFrames, static_cast<std::uint64_t>(test::kClipKeyFrames));
    EXPECT_DOUBLE_EQ(f.duration, 8.0);  // 25 frames in each of 8 recorded seconds
    EXPECT_EQ(f.skippedBytes, 0u);
    EXPECT_EQ(f.path, (out.path() / names[i]).string());
  }
  EXPECT_TRUE(test::partialFilesBelow(out.str()).empty()) << "every MP4's partial file was renamed";
  EXPECT_EQ((*result)[0].path, out.file("CH01/2016-05-17/CH01_20160517-080000_20160517-080007.mp4"));
  // Progress as export gives it: the total first, every file counted at the end.
  bool sawStart = false;
  std::uint64_t lastCount = 0;
  for (const auto& s : open->observer.statuses) {
    if (s.code == StatusCode::ExportStart) sawStart = true;
    if (s.code == StatusCode::ExportProgress) lastCount = s.foundCount;
  }
  EXPECT_TRUE(sawStart);
  EXPECT_EQ(lastCount, 24u);
}

TEST_F(ConvertSampleTest, PlayersReadTheFilesAsTheClip) {
  if (!test::haveTool("ffprobe") || !test::haveTool("ffmpeg")) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
  auto result = convertFiles(*open->task, open->observer, {0, 23}, {out.str(), false});
  ASSERT_TRUE(result);
  for (const auto& f : *result) {
    auto p = test::probe(f.path);
    ASSERT_TRUE(p) << f.path;
    EXPECT_EQ(p->codec, "h264");
    EXPECT_EQ(p->width, test::kClipWidth);
    EXPECT_EQ(p->height, test::kClipHeight);
    EXPECT_EQ(p->frames, test::kClipFrames);
    EXPECT_NEAR(p->duration, 8.0, 0.001);
    EXPECT_EQ(test::decodeErrors(f.path), "");
  }
  // The recorder's start time, as the task's time convention reads it.
  EXPECT_EQ(test::probe((*result)[0].path)->creationTime, "2016-05-17T08:00:00.000000Z");
  EXPECT_EQ(test::probe((*result)[1].path)->creationTime, "2016-05-19T20:00:00.000000Z");
  // The moov box comes before the media data, so players can start at once.
  const auto bytes = test::readFile((*result)[0].path);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_LT(text.find("moov"), text.find("mdat"));
}

TEST_F(ConvertSampleTest, TheManifestChecksAndSurvivesASecondRunThatSkips) {
  ASSERT_TRUE(convertFiles(*open->task, open->observer, open->all(), {out.str(), false}));
  auto lines = readManifest(out.str());
  ASSERT_EQ(lines.size(), 24u);
  EXPECT_EQ(lines[0].path, "CH01/2016-05-17/CH01_20160517-080000_20160517-080007.mp4");
  if (test::haveTool("sha256sum")) {
    EXPECT_EQ(test::runIn(out.str(), "sha256sum -c --strict SHA256SUMS"), 0);
  }
  // A second run over three files skips them all; the other lines stay.
  auto again = convertFiles(*open->task, open->observer, {0, 1, 2}, {out.str(), false});
  ASSERT_TRUE(again);
  for (const auto& f : *again) EXPECT_TRUE(f.skipped);
  EXPECT_EQ(readManifest(out.str()).size(), 24u);
  if (test::haveTool("sha256sum")) {
    EXPECT_EQ(test::runIn(out.str(), "sha256sum -c --strict SHA256SUMS"), 0);
  }
}

TEST_F(ConvertSampleTest, ADamagedStretchInTheMiddleLosesFramesButTheFileIsFinished) {
  // The image is overwritten after the scan, inside the first recording: the task's records
  // now point at foreign bytes for part of every channel's first file.
  auto damaged = open->image;
  for (std::size_t i = 0; i < 40000; ++i) damaged[4096 + 150000 + i] = static_cast<std::uint8_t>((i * 7919 + 13) % 251 + 2);
  test::reopen(*open, damaged);
  auto result = convertFiles(*open->task, open->observer, {0, 1}, {out.str(), false});
  ASSERT_TRUE(result);
  const auto& hurt = (*result)[0];
  EXPECT_TRUE(hurt.written);
  EXPECT_FALSE(hurt.complete);
  EXPECT_GT(hurt.lostFrames, 0u);
  EXPECT_GT(hurt.skippedBytes, 0u);
  EXPECT_LT(hurt.frames, static_cast<std::uint64_t>(test::kClipFrames));
  EXPECT_GT(hurt.frames, 100u);  // the pictures before and after the damage are kept
  EXPECT_FALSE(hurt.error.empty());
  EXPECT_TRUE((*result)[1].complete);  // the recording of the evening is untouched
  if (test::haveTool("ffmpeg")) {
    EXPECT_EQ(test::decodeErrors(hurt.path), "");  // what was written decodes cleanly
    EXPECT_NEAR(test::probe(hurt.path)->duration, 8.0, 0.05);  // times still follow the recorder
  }
}

TEST_F(ConvertSampleTest, UnreadableSourceSectorsMakeTheFileIncomplete) {
  // Two sectors under a record in the middle of the first file.
  const auto& records = open->scanned.records[0];
  const std::uint64_t sector = records[records.size() / 2].deviceOffset / 512;
  open = test::scanAndOpen(sample::buildSampleImage().bytes, 18, {sector, sector + 1});
  ASSERT_TRUE(open->task);
  auto result = convertFiles(*open->task, open->observer, {0}, {out.str(), false});
  ASSERT_TRUE(result);
  EXPECT_FALSE((*result)[0].complete);
  EXPECT_NE((*result)[0].error.find("unreadable"), std::string::npos);
}

TEST_F(ConvertSampleTest, StoppingRemovesTheUnfinishedFile) {
  open->task->requestStop();
  auto result = convertFiles(*open->task, open->observer, open->all(), {out.str(), false});
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->empty());
  std::size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(out.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 0u);  // not even a manifest: nothing was written
}

TEST_F(ConvertSampleTest, OverwriteWritesAgainAndAWrongPositionIsAnError) {
  ASSERT_TRUE(convertFiles(*open->task, open->observer, {0}, {out.str(), false}));
  auto again = convertFiles(*open->task, open->observer, {0}, {out.str(), true});
  ASSERT_TRUE(again);
  EXPECT_FALSE((*again)[0].skipped);
  EXPECT_TRUE((*again)[0].complete);
  EXPECT_FALSE(convertFiles(*open->task, open->observer, {24}, {out.str(), false}));
}

TEST(ConvertTimes, CreationTimeTagFollowsTheConvention) {
  TimeConvention none;
  EXPECT_EQ(creationTimeTag(none, 123), "");
  TimeConvention packedLike;
  packedLike.calendarIn = [](const TimeZone&, std::uint32_t) -> std::optional<CalendarTime> {
    return CalendarTime{2016, 5, 17, 8, 9, 10};
  };
  EXPECT_EQ(creationTimeTag(packedLike, 1), "2016-05-17T08:09:10.000000Z");
  EXPECT_EQ(creationTimeTag(packedLike, 0), "");  // no time at all
  EXPECT_EQ(calendarSeconds(packedLike, 1), 1463472550.0);
  // The clock correction moves the file's start; the frames' times stay on the recorder's clock.
  packedLike.correction = -3600;
  EXPECT_EQ(creationTimeTag(packedLike, 1), "2016-05-17T07:09:10.000000Z");
  EXPECT_EQ(calendarSeconds(packedLike, 1), 1463472550.0);
}

TEST_F(ConvertSampleTest, ReportDfxmlNamesEachMp4AsDerivedFromItsRecordingsRuns) {
  auto result = convertFiles(*open->task, open->observer, {0, 5}, {out.str(), false});
  ASSERT_TRUE(result);
  const auto report = test::readDfxmlFile(out.file("report.dfxml"));
  ASSERT_TRUE(report.parsed) << report.error;
  ASSERT_EQ(report.files.size(), 4u);  // a recording and its MP4, twice
  const auto& image = open->image;
  const auto recordings = exportRelativePaths(*open->task);
  for (std::size_t k = 0; k < 2; ++k) {
    const auto& recording = report.files[2 * k];
    const auto& mp4 = report.files[2 * k + 1];
    const std::size_t position = k == 0 ? 0 : 5;
    EXPECT_EQ(recording.filename, recordings[position]);
    EXPECT_EQ(test::bytesOfRuns(recording, image), open->scanned.bytes[position]) << "the recording's runs are its bytes";
    EXPECT_FALSE(mp4.hasByteRuns) << "an MP4's bytes lie nowhere on the source";
    EXPECT_EQ(mp4.derivedFrom, recording.id);
    EXPECT_FALSE(recording.id.empty());
    EXPECT_EQ(out.file(mp4.filename), (*result)[k].path);
    EXPECT_EQ(mp4.sha256, (*result)[k].sha256);
    EXPECT_EQ(mp4.filesize, fs::file_size((*result)[k].path));
  }
}

}  // namespace
}  // namespace norvale::convert
