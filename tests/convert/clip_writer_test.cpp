// Clips of a time window from the recordings of one channel (brand 1 program streams, whose runs
// never join, carrying a clip that ffmpeg encodes at test time, with A-law audio): the pictures
// shown are exactly those of the window, the first of them decodes, a gap stays a gap, and
// overlapping recordings are not mixed.
#include <gtest/gtest.h>

#include "convert/carrier_images.h"
#include "convert/clip_writer.h"
#include "export/clip_plan.h"
#include "format/utc_time.h"
#include "parsers/brand_table.h"
#include "storage/byte_source.h"
#include "support/index_table_images.h"

namespace norvale::convert {
namespace {

// Recordings of channel 1, each its own file entry: A 08:59:58-09:00:01 (starting 7 pictures into
// its first second: its key pictures lie 0.28 s into each second), B 10:00:10-10:00:12, C
// 23:59:58-00:00:00 of the next day.
struct Recordings {
  std::unique_ptr<test::OpenTask> open;
  std::size_t files = 0;
};

test::Clip recordingAt(int startSecond, int lead) {
  test::Clip c = test::encodedClip(3, false, lead);
  c.startSecond = startSecond;
  return c;
}

Recordings& recordings() {
  static Recordings r = [] {
    Recordings out;
    std::vector<std::uint8_t> image(8192, 0x5A);
    for (const auto& [start, lead] : {std::pair{9 * 3600 - 2, 7}, {10 * 3600 + 10, 0}, {86400 - 2, 0}}) {
      const auto file = test::programStreamFile(recordingAt(start, lead));
      image.insert(image.end(), file.begin(), file.end());
      image.resize(image.size() + 8192, 0x5A);
    }
    image.resize((image.size() + 511) / 512 * 512, 0x5A);
    out.open = test::scanAndOpen(image, 1);
    out.files = out.open->scanned.files.size();
    return out;
  }();
  return r;
}

// The frame-time list's rows: presentation time, recorder time, corrected time.
struct FrameRow {
  double pts;
  std::string recorded, corrected;
};
std::vector<FrameRow> frameRows(const std::string& path) {
  std::vector<FrameRow> rows;
  for (const auto& f : test::readFrameTimes(path).rows)
    if (f.size() == 6) rows.push_back({std::stod(f[1]), f[2], f[3]});
  return rows;
}

struct Window {
  const char* name;
  const char* from;
  const char* to;
  std::int64_t correction;
  std::uint64_t frames;  // the pictures recorded in the window
  const char* first;     // the recorder's time of the first and last of them
  const char* last;
};

const Window kWindows[] = {
    // Decoding starts at A's key picture 08:59:58.28; the file shows from 08:59:59.
    {"inside_one_file", "2016-05-17 08:59:59", "2016-05-17 09:00:01", 0, 50, "2016-05-17 08:59:59", "2016-05-17 09:00:00"},
    // A's second 01 (7 pictures), then nothing until B's second 10.
    {"two_files_and_the_gap_between", "2016-05-17 09:00:01", "2016-05-17 10:00:11", 0, 32, "2016-05-17 09:00:01",
     "2016-05-17 10:00:10"},
    {"across_midnight", "2016-05-17 23:59:59", "2016-05-18 00:00:01", 0, 50, "2016-05-17 23:59:59", "2016-05-18 00:00:00"},
    {"from_before_the_first_to_after_the_last", "2016-05-17 08:59:00", "2016-05-17 10:00:20", 0, 150,
     "2016-05-17 08:59:58", "2016-05-17 10:00:12"},
    // Shown times: the recorder's clock was an hour slow.
    {"with_a_clock_correction", "2016-05-17 09:59:59", "2016-05-17 10:00:01", 3600, 50, "2016-05-17 08:59:59",
     "2016-05-17 09:00:00"},
};

class ClipWriterTest : public ::testing::TestWithParam<Window> {};

TEST_P(ClipWriterTest, ShowsThePicturesOfTheWindowAndNothingElse) {
  if (!test::haveTool("ffmpeg") || !test::haveTool("ffprobe") || test::encodedClip(1, false, 0).frames.empty())
    GTEST_SKIP() << "the ffmpeg and ffprobe programs (with libx264) are needed to encode the clip";
  const Window& w = GetParam();
  Recordings& r = recordings();
  ASSERT_TRUE(r.open->task);
  TaskContext& task = *r.open->task;
  ASSERT_EQ(r.files, 3u);
  test::redescribe(task, [&](TaskDescription& d) { d.clockCorrection = w.correction; });
  auto plans = planClips(task.fileMap, task.timeConvention(), ClipRequest{w.from, w.to, {}});
  ASSERT_TRUE(plans) << plans.error().message;
  ASSERT_EQ(plans->size(), 1u);
  test::TempDir out;
  auto written = writeClips(task, r.open->observer, *plans, ClipWriteOptions{out.str(), false, "", true});
  ASSERT_TRUE(written) << written.error().message;
  const ClipWritten& clip = written->at(0);
  ASSERT_TRUE(clip.written) << clip.error;
  EXPECT_TRUE(clip.complete) << clip.error;
  EXPECT_EQ(clip.frames, w.frames);
  // What a player shows: the edit list hides the pictures before the window, which decode cleanly.
  const auto probed = test::probe(clip.path);
  ASSERT_TRUE(probed);
  EXPECT_EQ(static_cast<std::uint64_t>(probed->frames), w.frames);
  EXPECT_EQ(test::decodeErrors(clip.path), "");
  // The frame-time list: every picture shown is of the window, in time order.
  const auto rows = frameRows(clip.frameTimesPath);
  ASSERT_EQ(rows.size(), w.frames);
  EXPECT_EQ(rows.front().recorded, w.first);
  EXPECT_EQ(rows.back().recorded, w.last);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_GE(rows[i].corrected, w.from) << i;
    EXPECT_LT(rows[i].corrected, w.to) << i;
    if (i > 0) EXPECT_GT(rows[i].pts, rows[i - 1].pts) << i;
  }
  // Times count from the window's start, so a recording that starts later starts later in the file.
  const auto from = parseShownTime(w.from), first = parseShownTime(rows.front().corrected);
  ASSERT_TRUE(from && first);
  EXPECT_NEAR(rows.front().pts, static_cast<double>(civilSeconds(*first) - civilSeconds(*from)), 1.0);
  EXPECT_GT(clip.audioSeconds, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Windows, ClipWriterTest, ::testing::ValuesIn(kWindows),
                         [](const auto& info) { return std::string(info.param.name); });

// Overlapping recordings of one channel (A 08:59:58-09:00:01, D 09:00:00-09:00:02): the one that
// starts first gives its time, the other only what follows it, from its first key picture there.
TEST(ClipOverlap, TheLaterRecordingGivesOnlyTheTimeAfterTheEarlierOne) {
  if (!test::haveTool("ffmpeg") || !test::haveTool("ffprobe") || test::encodedClip(1, false, 0).frames.empty())
    GTEST_SKIP() << "the ffmpeg and ffprobe programs (with libx264) are needed to encode the clip";
  MemorySource a(test::programStreamFile(recordingAt(9 * 3600 - 2, 7)));
  MemorySource d(test::programStreamFile(recordingAt(9 * 3600, 0)));
  auto input = [](ByteSource& bytes) {
    StreamInput in;
    in.bytes = &bytes;
    in.brand = 1;
    in.parseMode = kParseDeep;
    in.convention = timeConventionFor(1, kParseDeep);
    return in;
  };
  const double nine = *calendarSeconds(timeConventionFor(1, kParseDeep), test::packed(2016, 5, 17, 9, 0, 0));
  StreamOptions options;
  options.frameTimes = true;
  options.window = PictureWindow{nine, nine + 3};
  options.inputWindows = {{nine, nine + 2}, {nine + 2, nine + 3}};
  test::TempDir out;
  const ConvertedFile f = convertStreams({input(a), input(d)}, out.file("overlap.mp4"), options);
  ASSERT_TRUE(f.written) << f.error;
  EXPECT_EQ(f.frames, 25u + 7u + 25u);  // A's seconds 00 and 01, D's second 02
  EXPECT_EQ(test::decodeErrors(f.path), "");
  const auto rows = frameRows(f.frameTimesPath);
  ASSERT_EQ(rows.size(), f.frames);
  EXPECT_EQ(rows[31].recorded, "2016-05-17 09:00:01");
  EXPECT_EQ(rows[32].recorded, "2016-05-17 09:00:02");
  for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_GT(rows[i].pts, rows[i - 1].pts) << i;
}

}  // namespace
}  // namespace norvale::convert
