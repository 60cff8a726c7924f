// Brands 1-4 files with H.264 inside, found by a deep scan and converted; every row's reader over
// a file of its carrier; foreign payloads; the choice between our own walks and FFmpeg's
// demuxers on damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "convert/carrier_images.h"
#include "convert/converter.h"
#include "export/manifest.h"
#include "parsers/brand_table.h"
#include "storage/byte_source.h"

namespace norvale::convert {
namespace {

struct Case {
  std::uint8_t brand;
  std::vector<std::uint8_t> (*file)();
};

class CarrierTest : public ::testing::TestWithParam<Case> {};

TEST_P(CarrierTest, AScannedFileConvertsToTheWholeClip) {
  const Case c = GetParam();
  auto converted = test::scanAndConvert(c.file(), c.brand);
  ASSERT_TRUE(converted);
  const auto& f = converted->file;
  EXPECT_TRUE(f.complete) << f.error;
  EXPECT_EQ(f.codec, "h264");
  EXPECT_EQ(f.frames, static_cast<std::uint64_t>(test::kClipFrames));
  EXPECT_EQ(f.keyFrames, static_cast<std::uint64_t>(test::kClipKeyFrames));
  EXPECT_NEAR(f.duration, 8.0, 1e-6);
  if (!test::haveTool("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
  auto p = test::probe(f.path);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->frames, test::kClipFrames);
  EXPECT_EQ(p->width, test::kClipWidth);
  EXPECT_EQ(test::decodeErrors(f.path), "");
}

INSTANTIATE_TEST_SUITE_P(Brands, CarrierTest,
                         ::testing::Values(Case{1, [] { return test::programStreamFile(); }}, Case{2, &test::dhavFile},
                                           Case{3, &test::wfsFile}, Case{4, &test::jvsFile}, Case{8, &test::boliFile},
                                           Case{6, [] { return test::headeredFile(6); }},
                                           Case{12, [] { return test::headeredFile(12); }},
                                           Case{13, [] { return test::headeredFile(13); }},
                                           Case{14, [] { return test::headeredFile(14); }},
                                           Case{15, [] { return test::headeredFile(15); }},
                                           Case{16, [] { return test::headeredFile(16); }}),
                         [](const auto& info) { return "brand" + std::to_string(info.param.brand); });

TEST(CarrierWfs, AudioPacketsWhoseBytesHoldAStartCodeCostNoPicture) {
  // G.711 bytes may hold 00 00 01 by chance: they are audio, never a damaged picture.
  std::vector<std::uint8_t> audio(160, 0xD5);
  audio[40] = 0, audio[41] = 0, audio[42] = 1, audio[43] = 0x65;
  auto converted = test::scanAndConvert(test::wfsFileWithAudio(audio), 3);
  ASSERT_TRUE(converted);
  const auto& f = converted->file;
  EXPECT_TRUE(f.complete) << f.error;
  EXPECT_EQ(f.frames, static_cast<std::uint64_t>(test::kClipFrames));
  EXPECT_EQ(f.keyFrames, static_cast<std::uint64_t>(test::kClipKeyFrames));
}

StreamInput fileInput(ByteSource& bytes, std::uint8_t brand, WalkKind walk) {
  StreamInput input;
  input.bytes = &bytes;
  input.brand = brand;
  input.parseMode = kParseDeep;
  input.convention = timeConventionFor(brand, kParseDeep);
  input.walk = walk;
  return input;
}

std::uint64_t unitsRead(std::vector<std::uint8_t> bytes, std::uint8_t brand, WalkKind walk, StreamSummary* summary = nullptr) {
  MemorySource source(std::move(bytes));
  std::uint64_t units = 0;
  auto s = readStream(fileInput(source, brand, walk), [&](AccessUnit&&) { return ++units, true; });
  if (summary) *summary = s;
  return units;
}

// Overwrites 3000 bytes in the middle of the file, from just behind a packet's magic (the
// magic stays, the header fields after it do not).
std::vector<std::uint8_t> damagedInTheMiddle(std::vector<std::uint8_t> bytes, std::uint8_t brand) {
  const std::vector<std::uint8_t> magic = brand == 1 ? std::vector<std::uint8_t>{0, 0, 1, 0xBA}
                                                     : std::vector<std::uint8_t>{'D', 'H', 'A', 'V'};
  const auto it = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2), bytes.end(), magic.begin(), magic.end());
  const std::size_t at = static_cast<std::size_t>(it - bytes.begin()) + 4;
  for (std::size_t i = 0; i < 3000; ++i) bytes[at + i] = static_cast<std::uint8_t>((i * 7919 + 13) % 251 + 2);
  return bytes;
}

// The frame magic of each brand that writes DHAV-style frames.
constexpr std::pair<std::uint8_t, const char*> kFrameMagics[] = {{2, "DHAV"}, {7, "HYAV"}, {9, "ZLAV"}, {10, "ZLAV"}, {11, "DHAV"}};

// The exported file of a brand of the row, holding the clip in the row's carrier; empty when the
// suite builds none for that carrier.
std::vector<std::uint8_t> clipFileFor(const BrandRow& row, std::uint8_t brand) {
  using enum VideoCarrier;
  switch (row.conversion.carrier) {
    case ProgramStream: return test::programStreamFile();
    case Dhav:
      for (const auto& [id, magic] : kFrameMagics)
        if (id == brand) return test::dhavFileAs(magic);
      return {};
    case Wfs: return test::wfsFile();
    case Jvs: return test::jvsFile();
    case Boli: return test::boliFile();
    case Headered: return test::headeredFile(brand);
    case RawStream: return test::rawStreamFile();
    case None: return {};
  }
  return {};
}

// Each row's first and last id read the whole clip from an exported file of their design, so a
// row added without a file this suite can build, or with a layout that misreads it, fails here.
TEST(CarrierWalks, EveryRowReadsTheWholeClipFromItsExportedFile) {
  std::size_t rowsRead = 0;
  for (const BrandRow& row : brandTable()) {
    bool whole = true;
    for (const std::uint8_t brand : {row.first, row.last}) {
      const auto file = clipFileFor(row, brand);
      EXPECT_FALSE(file.empty()) << "brand " << int(brand) << ": no exported file of its carrier";
      const auto units = file.empty() ? 0 : unitsRead(file, brand, WalkKind::Own);
      EXPECT_EQ(units, static_cast<std::uint64_t>(test::kClipFrames)) << "brand " << int(brand);
      whole = whole && units == static_cast<std::uint64_t>(test::kClipFrames);
    }
    rowsRead += whole;
  }
  EXPECT_EQ(rowsRead, brandTable().size());
}

TEST(CarrierWalks, BothWalksReadAWholeFileAndTheDefaultRecoversAtLeastAsMuchWhenDamaged) {
  for (const std::uint8_t brand : {1, 2}) {
    const auto whole = brand == 1 ? test::programStreamFile() : test::dhavFile();
    EXPECT_EQ(unitsRead(whole, brand, WalkKind::Own), static_cast<std::uint64_t>(test::kClipFrames)) << int(brand);
    EXPECT_EQ(unitsRead(whole, brand, WalkKind::Library), static_cast<std::uint64_t>(test::kClipFrames)) << int(brand);
    const auto damaged = damagedInTheMiddle(whole, brand);
    StreamSummary own, library;
    const auto ownUnits = unitsRead(damaged, brand, WalkKind::Own, &own);
    const auto libraryUnits = unitsRead(damaged, brand, WalkKind::Library, &library);
    std::printf("brand %d, damaged file: own walk %llu frames (%llu bytes skipped), FFmpeg's demuxer %llu frames\n",
                brand, static_cast<unsigned long long>(ownUnits), static_cast<unsigned long long>(own.skippedBytes),
                static_cast<unsigned long long>(libraryUnits));
    EXPECT_GE(ownUnits, libraryUnits) << "the default walk must be the better one";
    EXPECT_GT(ownUnits, 100u);
    EXPECT_LT(ownUnits, static_cast<std::uint64_t>(test::kClipFrames));
    EXPECT_GT(own.skippedBytes, 0u);
  }
}

TEST(CarrierWalks, TheBrandsSharingTheFrameDesignReadWithTheirOwnMagics) {
  for (const auto& [brand, magic] : kFrameMagics)
    if (brand != 2)
      EXPECT_EQ(unitsRead(test::dhavFileAs(magic), brand, WalkKind::Own), static_cast<std::uint64_t>(test::kClipFrames))
          << int(brand);
  // The frames of one design are foreign bytes to another.
  StreamSummary s;
  EXPECT_EQ(unitsRead(test::dhavFile(), 7, WalkKind::Own, &s), 0u);
  EXPECT_EQ(s.unsupported, "unsupported payload: unknown");
}

TEST(CarrierWalks, ForeignBytesBetweenPacketsAreSkippedAndCounted) {
  for (const std::uint8_t brand : {2, 3, 4}) {
    auto bytes = brand == 2 ? test::dhavFile() : brand == 3 ? test::wfsFile() : test::jvsFile();
    bytes.insert(bytes.begin(), 777, 0x5A);
    StreamSummary s;
    EXPECT_EQ(unitsRead(bytes, brand, WalkKind::Own, &s), static_cast<std::uint64_t>(test::kClipFrames)) << int(brand);
    EXPECT_EQ(s.skippedBytes, 777u) << int(brand);
  }
}

TEST(CarrierWalks, AFileCutInsideItsLastFrameLosesOnlyWhatTheCutMayTouch) {
  const std::size_t lastFrame = test::clipFrames().back().bytes.size();
  struct Cut {
    std::uint8_t brand;
    std::size_t follower;       // bytes after the last frame's packet
  };
  for (const Cut c : {Cut{1, 20}, Cut{2, 0}, Cut{3, 8}, Cut{4, 32}, Cut{8, 24}}) {
    auto bytes = c.brand == 1 ? test::programStreamFile() : c.brand == 2 ? test::dhavFile()
               : c.brand == 3 ? test::wfsFile() : c.brand == 4 ? test::jvsFile() : test::boliFile();
    bytes.resize(bytes.size() - c.follower - lastFrame / 2);
    MemorySource source(bytes);
    test::TempDir out;
    const auto f = convertStream(fileInput(source, c.brand, WalkKind::Own), out.file("cut.mp4"));
    EXPECT_TRUE(f.written) << int(c.brand) << ": " << f.error;
    EXPECT_FALSE(f.complete) << int(c.brand);
    EXPECT_EQ(f.frames, static_cast<std::uint64_t>(test::kClipFrames) - 1) << int(c.brand);
    EXPECT_GT(f.skippedBytes, 0u) << int(c.brand);
  }
}

TEST(CarrierWalks, APayloadThatIsNotVideoIsNamed) {
  StreamSummary s;
  EXPECT_EQ(unitsRead(test::programStreamFile(true), 1, WalkKind::Own, &s), 0u);
  EXPECT_EQ(s.unsupported, "unsupported payload: audio only");
  EXPECT_EQ(unitsRead(test::programStreamFile(true), 1, WalkKind::Library, &s), 0u);
  EXPECT_EQ(s.unsupported, "unsupported payload: audio only");
  EXPECT_EQ(unitsRead(std::vector<std::uint8_t>(5000, 0x5A), 3, WalkKind::Own, &s), 0u);
  EXPECT_EQ(s.unsupported, "unsupported payload: unknown");
  EXPECT_EQ(s.skippedBytes, 5000u);
}

TEST(CarrierWalks, Mpeg4InAnExportedBrand18StreamIsReportedNotWritten) {
  MemorySource source(test::mpeg4Stream());
  StreamInput input = fileInput(source, 18, WalkKind::Own);
  test::TempDir out;
  const auto f = convertStream(input, out.file("x.mp4"));
  EXPECT_FALSE(f.written);
  EXPECT_FALSE(f.complete);
  EXPECT_EQ(f.codec, "MPEG-4 Part 2");
  EXPECT_EQ(f.error, "unsupported payload: MPEG-4 Part 2");
  EXPECT_FALSE(std::filesystem::exists(out.file("x.mp4")));
  EXPECT_TRUE(test::partialFilesBelow(out.str()).empty()) << "nothing of the refused file is left";
}

TEST(CarrierWalks, AnAudioOnlyRecordingFoundByAScanIsReportedPerFile) {
  auto open = test::scanAndOpen(test::imageWith(test::programStreamFile(true)), 1);
  ASSERT_TRUE(open->task);
  ASSERT_EQ(open->scanned.files.size(), 1u);
  test::TempDir out;
  auto result = convertFiles(*open->task, open->observer, {0}, {out.str(), false});
  ASSERT_TRUE(result);
  EXPECT_FALSE((*result)[0].written);
  EXPECT_EQ((*result)[0].codec, "audio only");
  EXPECT_EQ((*result)[0].error, "unsupported payload: audio only");
  EXPECT_TRUE(readManifest(out.str()).empty());
}

TEST(CarrierWalks, AnHevcStreamIsCopiedIntoAnMp4ThatDecodes) {
  auto stream = test::hevcStream(4);
  if (stream.empty() || !test::haveTool("ffprobe")) GTEST_SKIP() << "ffmpeg with libx265 and ffprobe needed";
  MemorySource source(stream);
  test::TempDir out;
  const auto f = convertStream(fileInput(source, 18, WalkKind::Own), out.file("h.mp4"));
  EXPECT_TRUE(f.complete) << f.error;
  EXPECT_EQ(f.codec, "hevc");
  EXPECT_EQ(f.frames, 100u);
  EXPECT_EQ(f.keyFrames, 4u);
  EXPECT_NEAR(f.duration, 4.0, 1e-6);  // no times: 25 frames a second
  auto p = test::probe(f.path);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->codec, "hevc");
  EXPECT_EQ(p->frames, 100);
  EXPECT_EQ(p->width, 320);
  EXPECT_EQ(test::decodeErrors(f.path), "");
}

TEST(CarrierWalks, ABrandWithoutAReaderIsReportedPerFile) {
  // Every brand of the list has a reader; only an id outside it has none.
  for (const BrandRow& row : brandTable())
    for (int brand = row.first; brand <= row.last; ++brand) EXPECT_TRUE(hasStreamReader(static_cast<std::uint8_t>(brand))) << brand;
  EXPECT_FALSE(hasStreamReader(0));
  StreamSummary s;
  EXPECT_EQ(unitsRead(test::dhavFile(), 0, WalkKind::Own, &s), 0u);
  EXPECT_EQ(s.unsupported, "unsupported payload: no stream reader for brand 0");
}

}  // namespace
}  // namespace norvale::convert
