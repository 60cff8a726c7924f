// Recordings carrying a clip that ffmpeg encodes at test time (25 fps, with and without B
// pictures, with A-law audio), in each container family, scanned and converted: frame counts,
// steady presentation times in display order, a clean decode, and losses no larger than the
// damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "base/byte_reader.h"
#include "convert/carrier_images.h"
#include "convert/converter.h"
#include "storage/byte_source.h"

namespace norvale::convert {
namespace {

struct Family {
  const char* name;
  std::uint8_t brand;
  std::vector<std::uint8_t> (*file)(const test::Clip&);
  std::size_t trailer = 0;  // bytes of a packet after its picture
};

const Family kFamilies[] = {
    {"annexb", 18, &test::multiBrandFile},
    {"programstream", 1, [](const test::Clip& c) { return test::programStreamFile(c); }},
    {"dhav", 2, [](const test::Clip& c) { return test::dhavFile(c); }, 8},
    {"wfs", 3, [](const test::Clip& c) { return test::wfsFile(c); }},
};

constexpr int kLead = 7;  // the recording starts with 18 pictures left in its first second

const test::Clip& clip(bool bFrames) {
  static const test::Clip plain = test::encodedClip(3, false, kLead);
  static const test::Clip withB = test::encodedClip(3, true, kLead);
  return bFrames ? withB : plain;
}

bool haveFfmpeg() { return test::haveTool("ffmpeg") && test::haveTool("ffprobe") && !clip(false).frames.empty(); }

class EncodedClipTest : public ::testing::TestWithParam<std::tuple<Family, bool>> {};

TEST_P(EncodedClipTest, EveryPictureAtASteadyRateInDisplayOrderAndDecodingCleanly) {
  if (!haveFfmpeg()) GTEST_SKIP() << "the ffmpeg and ffprobe programs (with libx264) are needed to encode the clip";
  const auto& [family, bFrames] = GetParam();
  const test::Clip& c = clip(bFrames);
  auto converted = test::scanAndConvert(family.file(c), family.brand);
  ASSERT_TRUE(converted);
  const ConvertedFile& f = converted->file;
  EXPECT_TRUE(f.complete) << f.error;
  EXPECT_EQ(f.frames, c.frames.size());
  EXPECT_NEAR(f.duration, static_cast<double>(c.frames.size()) / test::kClipRate, 1e-3);
  EXPECT_EQ(test::decodeErrors(f.path), "");

  const auto times = test::videoPacketTimes(f.path);
  ASSERT_EQ(times.size(), c.frames.size());
  std::vector<double> pts;
  for (std::size_t i = 0; i < times.size(); ++i) {
    pts.push_back(times[i].pts);
    EXPECT_LE(times[i].dts, times[i].pts + 1e-9) << i;
    if (i > 0) {
      EXPECT_GT(times[i].dts, times[i - 1].dts) << i;
    }
  }
  std::sort(pts.begin(), pts.end());
  for (std::size_t i = 1; i < pts.size(); ++i)
    EXPECT_NEAR(pts[i] - pts[i - 1], 1.0 / test::kClipRate, 1e-3) << "picture " << i;
  // The clock track: one cue for each recorded second (7 pictures into 08:00:00, 75 pictures).
  const std::string cues = test::subtitleText(f.path);
  for (const char* second : {"08:00:00", "08:00:01", "08:00:02", "08:00:03"})
    EXPECT_NE(cues.find(std::string("2016-05-17 ") + second), std::string::npos) << second << "\n" << cues;
  EXPECT_EQ(cues.find("08:00:04"), std::string::npos);
  EXPECT_EQ(cues.find("corrected"), std::string::npos);
  // The first second's cue starts with the file and ends where the second ends.
  EXPECT_NE(cues.find("00:00:00,000 --> 00:00:00,720"), std::string::npos) << cues;
  // The recorder's A-law audio, as AAC beside the pictures: it starts and ends with them.
  if (family.brand != 18) {
    EXPECT_EQ(f.audioFound, "pcm_alaw");
    EXPECT_TRUE(f.audioWritten && f.audioEncoded) << f.audioError;
    const auto audio = test::streamTimes(f.path, "a:0");
    ASSERT_TRUE(audio);
    EXPECT_EQ(audio->codec, "aac");
    EXPECT_NEAR(audio->start, 0.0, 1.0 / test::kClipRate);
    EXPECT_NEAR(audio->start + audio->duration, f.duration, 1.0 / test::kClipRate);
    EXPECT_NEAR(f.audioSeconds, f.duration, 1.0 / test::kClipRate);
  } else {
    EXPECT_EQ(f.audioFound, "");
    EXPECT_FALSE(test::streamTimes(f.path, "a:0"));
  }
  if (bFrames) {
    // Display order differs from decode order, and the file follows display order.
    bool reordered = false;
    for (std::size_t i = 1; i < times.size(); ++i) reordered |= times[i].pts < times[i - 1].pts;
    EXPECT_TRUE(reordered);
  }
}

INSTANTIATE_TEST_SUITE_P(Families, EncodedClipTest, ::testing::Combine(::testing::ValuesIn(kFamilies), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "_bframes" : "");
                         });

TEST(FrameTimes, TheCsvListsEveryPictureWithItsTimesAndItsPacket) {
  if (!haveFfmpeg()) GTEST_SKIP() << "the ffmpeg and ffprobe programs (with libx264) are needed to encode the clip";
  const test::Clip& c = clip(true);
  auto open = test::scanAndOpen(test::imageWith(test::wfsFile(c)), 3);
  ASSERT_TRUE(open->task);
  test::redescribe(*open->task, [](TaskDescription& d) { d.clockCorrection = 3600; });
  test::TempDir out;
  ConvertOptions options{out.str(), false};
  options.frameTimes = true;
  auto result = convertFiles(*open->task, open->observer, {0}, options);
  ASSERT_TRUE(result);
  const ConvertedFile& f = (*result)[0];
  ASSERT_EQ(f.frameTimesPath, frameTimesPathFor(f.path));
  const test::FrameTimes times = test::readFrameTimes(f.frameTimesPath);
  EXPECT_EQ(times.header, "index,pts,recorder_time,corrected_time,key,device_offset");
  const auto& rows = times.rows;
  for (const auto& fields : rows) ASSERT_EQ(fields.size(), 6u);
  ASSERT_EQ(rows.size(), c.frames.size());
  // The first picture: the key picture of the first packet after the audio packet before it.
  EXPECT_EQ(rows[0][1], "0.000000");
  EXPECT_EQ(rows[0][2], "2016-05-17 08:00:00");
  EXPECT_EQ(rows[0][3], "2016-05-17 09:00:00");
  EXPECT_EQ(rows[0][4], "1");
  EXPECT_EQ(rows[0][5], std::to_string(8192 + 8 + test::kAudioPerFrame));
  EXPECT_EQ(rows.back()[2], "2016-05-17 08:00:03");  // 75 pictures from 7 pictures into 08:00:00
  for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_NEAR(std::stod(rows[i][1]) - std::stod(rows[i - 1][1]), 0.04, 1e-3);
  // With a correction, the clock track shows the corrected time beside the recorder's.
  EXPECT_NE(test::subtitleText(f.path).find("2016-05-17 08:00:01  (corrected 2016-05-17 09:00:01)"), std::string::npos);
}

// A second of audio packets lost (those beside pictures 25 to 49): silence takes their place,
// and the sound after it stays beside its pictures.
TEST(ClipAudio, AudioLostToDamageIsSilenceAndTheSoundAfterItStaysInStep) {
  if (!haveFfmpeg()) GTEST_SKIP() << "the ffmpeg and ffprobe programs (with libx264) are needed to encode the clip";
  const test::Clip& c = clip(false);
  const auto whole = test::wfsFile(c);
  std::vector<std::uint8_t> file;
  std::size_t audioPackets = 0;
  for (std::size_t at = 0; at + 8 <= whole.size();) {
    const std::uint8_t* p = whole.data() + at;
    const std::size_t size = p[3] == 0xFA ? 8 + (p[6] | p[7] << 8) : p[3] == 0xFC ? 16 + le32(p + 12) : 8 + le32(p + 4);
    const bool lost = p[3] == 0xFA && audioPackets >= 25 && audioPackets < 50;
    if (p[3] == 0xFA) ++audioPackets;
    if (!lost) file.insert(file.end(), p, p + std::min(size, whole.size() - at));
    at += size;
  }
  auto converted = test::scanAndConvert(file, 3);
  ASSERT_TRUE(converted);
  const ConvertedFile& f = converted->file;
  EXPECT_EQ(f.frames, c.frames.size());
  EXPECT_NEAR(f.audioSeconds, f.duration, 1.0 / test::kClipRate);
  const auto loudness = test::audioLoudness(f.path);
  ASSERT_GE(loudness.size(), 74u);
  // The picture k's 1/25 s: the tone where its audio was kept, silence where it was lost.
  for (const std::size_t k : {5, 20, 55, 70}) EXPECT_GT(loudness[k], 1000) << k;
  for (const std::size_t k : {30, 40}) EXPECT_LT(loudness[k], 100) << k;
}

// Where each picture's packet lies in the file: picture k owns the bytes after picture k-1's
// packet up to the end of its own (its packet header and the audio before it).
std::vector<std::pair<std::size_t, std::size_t>> pictureSpans(const std::vector<std::uint8_t>& file, const test::Clip& c,
                                                              std::size_t trailer) {
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  std::size_t from = 0;
  for (const auto& frame : c.frames) {
    const auto it = std::search(file.begin() + static_cast<std::ptrdiff_t>(from), file.end(), frame.bytes.begin(), frame.bytes.end());
    const std::size_t end = static_cast<std::size_t>(it - file.begin()) + frame.bytes.size() + trailer;
    spans.emplace_back(from, end);
    from = end;
  }
  return spans;
}

class DamagedClipTest : public ::testing::TestWithParam<Family> {};

TEST_P(DamagedClipTest, TheDamageCostsItsPicturesAndThoseDependingOnThemAndNothingMore) {
  if (!haveFfmpeg()) GTEST_SKIP() << "the ffmpeg and ffprobe programs (with libx264) are needed to encode the clip";
  const Family family = GetParam();
  const test::Clip& c = clip(false);
  const auto whole = family.file(c);
  const auto spans = pictureSpans(whole, c, family.trailer);
  ASSERT_LE(spans.back().second, whole.size());
  // 1500 foreign bytes from just behind the start of picture 40's bytes (its packet's magic
  // stays), from its middle, and from just before its end.
  for (const std::size_t at : {spans[40].first + 4, (spans[40].first + spans[40].second) / 2, spans[40].second - 2}) {
    auto file = whole;
    for (std::size_t i = 0; i < 1500 && at + i < file.size(); ++i) file[at + i] = static_cast<std::uint8_t>((i * 7919 + 13) % 251 + 2);
    std::size_t firstHit = spans.size(), lastHit = 0;
    for (std::size_t k = 0; k < spans.size(); ++k)
      if (spans[k].first < at + 1500 && spans[k].second > at) firstHit = std::min(firstHit, k), lastHit = k;
    std::size_t nextKey = lastHit + 1;
    while (nextKey < c.frames.size() && !c.frames[nextKey].key) ++nextKey;
    const std::size_t most = c.frames.size() - (lastHit - firstHit + 1);
    const std::size_t least = c.frames.size() - (nextKey - firstHit);

    auto converted = test::scanAndConvert(whole, family.brand, &file);
    ASSERT_TRUE(converted);
    const ConvertedFile& f = converted->file;
    EXPECT_TRUE(f.written);
    EXPECT_FALSE(f.complete);
    EXPECT_GE(f.frames, least) << "at " << at << ": pictures " << firstHit << ".." << lastHit << " damaged, next key " << nextKey;
    EXPECT_LE(f.frames, most) << "at " << at;
    EXPECT_EQ(test::decodeErrors(f.path), "") << "at " << at;
  }
}

INSTANTIATE_TEST_SUITE_P(Families, DamagedClipTest, ::testing::ValuesIn(kFamilies),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HevcDisplayOrder, ARawStreamWithBPicturesIsTimedInDisplayOrderAndDecodesCleanly) {
  const auto stream = test::hevcStream(4, true);
  if (stream.empty() || !test::haveTool("ffprobe")) GTEST_SKIP() << "ffmpeg with libx265 and ffprobe needed";
  MemorySource source(stream);
  StreamInput input;
  input.bytes = &source;
  input.brand = 18;
  test::TempDir out;
  const ConvertedFile f = convertStream(input, out.file("h.mp4"));
  EXPECT_TRUE(f.complete) << f.error;
  EXPECT_EQ(f.codec, "hevc");
  EXPECT_EQ(f.frames, 100u);
  EXPECT_EQ(test::decodeErrors(f.path), "");
  const auto times = test::videoPacketTimes(f.path);
  ASSERT_EQ(times.size(), 100u);
  std::vector<double> pts;
  bool reordered = false;
  for (std::size_t i = 0; i < times.size(); ++i) {
    pts.push_back(times[i].pts);
    EXPECT_LE(times[i].dts, times[i].pts + 1e-9) << i;
    if (i > 0) {
      EXPECT_GT(times[i].dts, times[i - 1].dts) << i;
      reordered |= times[i].pts < times[i - 1].pts;
    }
  }
  EXPECT_TRUE(reordered);  // decode order differs from display order, and the file follows the latter
  std::sort(pts.begin(), pts.end());
  for (std::size_t i = 1; i < pts.size(); ++i) EXPECT_NEAR(pts[i] - pts[i - 1], 1.0 / test::kClipRate, 1e-3) << i;
}

}  // namespace
}  // namespace norvale::convert
