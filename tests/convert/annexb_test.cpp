// The start-code walk and the grouping of NAL units into access units, on the sample clip and
// on damaged and foreign streams.
#include "convert/annexb.h"

#include <gtest/gtest.h>

#include "convert/carrier_images.h"
#include "sample/sample_image.h"

namespace norvale::convert {
namespace {

struct Built {
  std::vector<AccessUnit> units;
  std::unique_ptr<AccessUnitBuilder> builder;
  std::unique_ptr<NalSplitter> splitter;
};

// Runs bytes through splitter and builder, fed in pieces of `piece` bytes.
Built build(std::span<const std::uint8_t> bytes, std::size_t piece = 4096) {
  Built b;
  b.builder = std::make_unique<AccessUnitBuilder>([&b](AccessUnit&& u) { b.units.push_back(std::move(u)); });
  b.splitter = std::make_unique<NalSplitter>([&b](NalSplitter::Nal&& n) { b.builder->push(std::move(n)); });
  for (std::size_t at = 0; at < bytes.size(); at += piece)
    b.splitter->feed(bytes.subspan(at, std::min(piece, bytes.size() - at)));
  b.splitter->finish();
  b.builder->finish();
  return b;
}

std::vector<std::uint8_t> clipBytes() {
  const auto clip = sample::clip();
  return {clip.begin(), clip.end()};
}

TEST(NalSplitter, FindsStartCodesAcrossPieceBoundariesAndCountsLeadingBytes) {
  const std::vector<std::uint8_t> bytes = {9, 9, 9, 0, 0, 0, 1, 0x67, 1, 2, 0, 0, 1, 0x68, 0, 3, 0, 0, 0, 1, 0x65, 7, 0, 0};
  for (std::size_t piece : {1u, 2u, 3u, 5u, 100u}) {
    std::vector<std::vector<std::uint8_t>> nals;
    NalSplitter splitter([&](NalSplitter::Nal&& n) { nals.push_back(n.body); });
    for (std::size_t at = 0; at < bytes.size(); at += piece)
      splitter.feed(std::span(bytes).subspan(at, std::min(piece, bytes.size() - at)));
    splitter.finish();
    ASSERT_EQ(nals.size(), 3u) << "piece " << piece;
    EXPECT_EQ(nals[0], (std::vector<std::uint8_t>{0x67, 1, 2}));
    EXPECT_EQ(nals[1], (std::vector<std::uint8_t>{0x68, 0, 3}));  // a single zero inside stays
    EXPECT_EQ(nals[2], (std::vector<std::uint8_t>{0x65, 7}));     // trailing zeros are not the unit's
    EXPECT_EQ(splitter.skippedBytes(), 3u);
  }
}

TEST(NalSplitter, ACutEndsTheUnitAndWhatFollowsBeforeAStartCodeIsSkipped) {
  std::vector<std::vector<std::uint8_t>> nals;
  NalSplitter splitter([&](NalSplitter::Nal&& n) { nals.push_back(n.body); });
  splitter.feed(std::vector<std::uint8_t>{0, 0, 1, 0x41, 1, 2, 3});
  splitter.cut();
  splitter.feed(std::vector<std::uint8_t>{9, 9, 0, 0, 1, 0x41, 4});  // the tail of a lost unit, then one whole
  splitter.finish();
  ASSERT_EQ(nals.size(), 2u);
  EXPECT_EQ(nals[0], (std::vector<std::uint8_t>{0x41, 1, 2, 3}));
  EXPECT_EQ(nals[1], (std::vector<std::uint8_t>{0x41, 4}));
  EXPECT_EQ(splitter.skippedBytes(), 2u);
}

TEST(AccessUnitBuilder, GroupsTheClipIntoItsFramesStartingAtAKeyFrame) {
  const auto bytes = clipBytes();
  for (std::size_t piece : {1u << 20, 777u}) {
    auto b = build(bytes, piece);
    EXPECT_EQ(b.builder->codec(), VideoCodec::H264);
    ASSERT_EQ(b.units.size(), static_cast<std::size_t>(test::kClipFrames));
    int keys = 0;
    for (const auto& u : b.units) keys += u.key;
    EXPECT_EQ(keys, test::kClipKeyFrames);
    EXPECT_TRUE(b.units.front().key);
    EXPECT_EQ(b.builder->lostUnits(), 0u);
    EXPECT_EQ(b.builder->damagedBytes(), 0u);
    // The frames are the clip's frames, byte for byte.
    const auto frames = test::clipFrames();
    for (std::size_t i = 0; i < frames.size(); ++i) ASSERT_EQ(b.units[i].bytes, frames[i].bytes) << i;
    // The parameter sets of the first key frame: SPS and PPS.
    const auto sets = parameterSets(b.units.front(), VideoCodec::H264);
    ASSERT_GE(sets.size(), 10u);
    EXPECT_EQ(sets[4] & 0x1F, 7);
  }
}

TEST(AccessUnitBuilder, FramesBeforeTheFirstKeyFrameAreDroppedAndCounted) {
  auto frames = test::clipFrames();
  std::vector<std::uint8_t> bytes;
  // The stream begins with the parameter sets of the clip but three P frames before the IDR.
  for (int k = 1; k <= 3; ++k) bytes.insert(bytes.end(), frames[k].bytes.begin(), frames[k].bytes.end());
  for (const auto& f : frames) bytes.insert(bytes.end(), f.bytes.begin(), f.bytes.end());
  auto b = build(bytes);
  EXPECT_EQ(b.units.size(), static_cast<std::size_t>(test::kClipFrames));
  EXPECT_TRUE(b.units.front().key);
}

TEST(AccessUnitBuilder, GarbageThatSwallowsStartCodesIsDetectedAndDecodingRestartsAtAKeyFrame) {
  auto bytes = clipBytes();
  // Overwrite a stretch in the second group of pictures (after the key frame at 25).
  const auto frames = test::clipFrames();
  std::size_t at = 0;
  for (int k = 0; k < 30; ++k) at += frames[k].bytes.size();
  for (std::size_t i = 0; i < 1500; ++i) bytes[at + i] = static_cast<std::uint8_t>((i * 7919 + 13) % 251 + 2);
  auto b = build(bytes);
  EXPECT_GE(b.builder->losses(), 1u);
  EXPECT_GT(b.builder->lostUnits(), 0u);
  EXPECT_GT(b.builder->damagedBytes(), 0u);
  EXPECT_LT(b.units.size(), static_cast<std::size_t>(test::kClipFrames));
  // Every unit passed on after the damage belongs to a group that starts with a key frame.
  std::size_t keysAfter = 0;
  for (const auto& u : b.units) keysAfter += u.key;
  EXPECT_EQ(keysAfter, static_cast<std::size_t>(test::kClipKeyFrames) - 0u);
  // The units before the damage came through untouched.
  for (int k = 0; k < 25; ++k) ASSERT_EQ(b.units[k].bytes, frames[k].bytes);
}

TEST(AccessUnitBuilder, NamesForeignStreamsAndKnowsHevcParameterSets) {
  const std::vector<std::uint8_t> mpeg4 = {0, 0, 1, 0xB0, 1, 0, 0, 1, 0xB6, 0x10, 0x20};
  auto b = build(mpeg4);
  EXPECT_EQ(b.builder->codec(), VideoCodec::Unknown);
  EXPECT_EQ(b.builder->foreign(), "MPEG-4 Part 2");
  EXPECT_TRUE(b.units.empty());
  // VPS, SPS, PPS and an IDR slice (first slice of the picture): one key unit.
  const std::vector<std::uint8_t> hevc = {0, 0, 0, 1, 0x40, 0x01, 0x0C, 0, 0, 0, 1, 0x42, 0x01, 0x01, 0, 0, 0, 1, 0x44,
                                          0x01, 0xC1, 0, 0, 0, 1, 0x26, 0x01, 0xAF, 0x10, 0, 0, 0, 1, 0x02, 0x01, 0xD0, 0x20};
  auto h = build(hevc);
  EXPECT_EQ(h.builder->codec(), VideoCodec::Hevc);
  ASSERT_EQ(h.units.size(), 2u);
  EXPECT_TRUE(h.units[0].key);
  EXPECT_FALSE(h.units[1].key);
  EXPECT_EQ(parameterSets(h.units[0], VideoCodec::Hevc).size(), 3u * 4 + 3 + 3 + 3);
  EXPECT_EQ(foreignPayloadName(std::vector<std::uint8_t>{0xB3}), "MPEG-2 video");
  EXPECT_EQ(foreignPayloadName(std::vector<std::uint8_t>{0x65}), "");
}

TEST(AccessUnitBuilder, AUnitWithAnImpossibleHeaderIsDamageNotVideo) {
  auto frames = test::clipFrames();
  std::vector<std::uint8_t> bytes;
  for (int k = 0; k < 10; ++k) {
    bytes.insert(bytes.end(), frames[k].bytes.begin(), frames[k].bytes.end());
    if (k == 4) bytes.insert(bytes.end(), {0, 0, 0, 1, 0x80, 0x11, 0x22, 0x33});  // forbidden bit set
  }
  auto b = build(bytes);
  EXPECT_EQ(b.builder->damagedBytes(), 4u + 3u);
  EXPECT_EQ(b.units.size(), 5u);  // the picture the damage sat in and those after it until a key frame
  EXPECT_GT(b.builder->lostUnits(), 0u);
}

// Foreign bytes written over a raw stream from every kind of place around a picture boundary:
// whatever comes out is one of the stream's pictures byte for byte, in order. When the damage
// begins just where a CABAC picture ended and holds no start code, that picture is kept (a
// CAVLC slice has no end mark of its own: there the picture is given up).
TEST(AccessUnitBuilder, ForeignBytesOverARawStreamNeverPassAsAPictureAndSpareThePictureBeforeThem) {
  const test::Clip encoded = test::encodedClip(2, false, 0);
  if (encoded.frames.empty()) GTEST_SKIP() << "the ffmpeg program with libx264 is needed to encode the clip";
  struct Stream {
    const char* name;
    std::vector<test::ClipFrame> frames;
    bool cabac;
  };
  const Stream streams[] = {{"cabac", encoded.frames, true}, {"cavlc", test::clipFrames(), false}};
  struct Garbage {
    const char* name;
    std::uint8_t (*byte)(std::size_t i);
    bool startCodes;
  };
  const Garbage garbages[] = {
      {"no zeros", [](std::size_t i) { return static_cast<std::uint8_t>((i * 7919 + 13) % 251 + 2); }, false},
      {"with start codes", [](std::size_t i) { return static_cast<std::uint8_t>(i % 97 < 3 ? (i % 97 == 2) : (i * 2654435761u) >> 13); }, true},
  };
  for (const auto& stream : streams) {
    std::vector<std::uint8_t> whole;
    std::vector<std::size_t> starts;
    for (const auto& f : stream.frames) starts.push_back(whole.size()), whole.insert(whole.end(), f.bytes.begin(), f.bytes.end());
    for (const auto& garbage : garbages) {
      for (const std::size_t k : {7u, 12u, 20u}) {
        const std::size_t size = stream.frames[k].bytes.size();
        for (const std::size_t offset : {std::size_t{0}, std::size_t{1}, std::size_t{4}, size / 2, size - 2, size - 1}) {
          auto bytes = whole;
          const std::size_t at = starts[k] + offset;
          for (std::size_t i = 0; i < 600 && at + i < bytes.size(); ++i) bytes[at + i] = garbage.byte(i);
          const auto b = build(bytes);
          const std::string where = std::string(stream.name) + ", " + garbage.name + ", picture " + std::to_string(k) + " + " + std::to_string(offset);
          std::size_t next = 0;
          bool keptBefore = false;
          for (const auto& unit : b.units) {
            // A picture byte for byte; or, the damage having taken just its last byte, one that
            // lacks only that byte (its stop bit and bits the decoder does not read); or one whose
            // parameter sets went with the damage before it (whole NAL units of it are left).
            auto same = [&](std::size_t j) {
              const auto& picture = stream.frames[j].bytes;
              const std::size_t n = unit.bytes.size();
              if (picture == unit.bytes) return true;
              if (n + 1 == picture.size() && starts[j] + n == at && std::equal(unit.bytes.begin(), unit.bytes.end(), picture.begin()))
                return true;
              return n < picture.size() && std::equal(unit.bytes.begin(), unit.bytes.end(), picture.end() - static_cast<std::ptrdiff_t>(n)) &&
                     starts[j] + picture.size() - n >= at && unit.bytes[3] == 1;
            };
            while (next < stream.frames.size() && !same(next)) ++next;
            ASSERT_LT(next, stream.frames.size()) << where << ": a unit that is none of the pictures";
            keptBefore |= next + 1 == k;
          }
          if (stream.cabac && offset == 0 && !garbage.startCodes) EXPECT_TRUE(keptBefore) << where;
          EXPECT_GT(b.builder->damagedBytes() + b.builder->lostUnits(), 0u) << where;
        }
      }
    }
  }
}

}  // namespace
}  // namespace norvale::convert
