// The scan on several threads finds exactly what the one-thread scan finds: every conformance
// image (recordings of every design, the sample, dense packets, random and magic-laden bytes,
// packets longer than chunks, a range inside an image, unreadable sectors) is scanned with chunk
// boundaries forced at many offsets (inside packets and headers, inside a block's look-ahead,
// chunks shorter than a block) on 2, 3 and 7 threads, and the task files must be the one-thread
// scan's byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "corpus/recorder_stream.h"
#include "parsers/brand_parser.h"
#include "sample/sample_image.h"
#include "support/index_table_images.h"
#include "support/test_support.h"
#include "task/scan_wording.h"
#include "task/task_context.h"

namespace norvale::test {
namespace {

struct Image {
  Image(std::string n, std::uint8_t b, std::vector<std::uint8_t> image)
      : name(std::move(n)), brand(b), bytes(std::move(image)) {}
  std::string name;
  std::uint8_t brand = 18;
  std::vector<std::uint8_t> bytes;
  std::optional<std::uint64_t> startSector, endSector;
};

std::vector<std::uint8_t> recordings(std::uint8_t brand, std::uint64_t size, std::uint32_t seed,
                                     std::uint32_t keyBytes = 60'000, std::uint32_t otherBytes = 6'000) {
  corpus::StreamLayout layout;
  layout.channels = 5;
  layout.recordingSeconds = 3;
  layout.pauseSeconds = 100;
  layout.seed = seed;
  layout.keyMin = keyBytes / 2, layout.keyMax = keyBytes * 2;
  layout.otherMin = otherBytes / 3, layout.otherMax = otherBytes * 2;
  corpus::MemoryImageWriter out;
  corpus::writeRecorderImage(brand, layout, size, out);
  return std::move(out.bytes());
}

// Random bytes strewn with every design's magics and start codes, so that packet tests get far
// and candidates lie close together.
std::vector<std::uint8_t> magicLaden(std::size_t n, std::uint32_t seed) {
  static const std::vector<std::vector<std::uint8_t>> kPieces = {
      {'H', 'B', 'M', 'S'}, {'N', 'V', 'R', '1'}, {'J', 'V', 'S', ' '}, {'D', 'H', 'A', 'V'}, {'d', 'h', 'a', 'v'},
      {'H', 'Y', 'A', 'V'}, {'Z', 'L', 'A', 'V'}, {'l', 'i', 'u', ' '}, {' ', 'u', 'i', 'l'}, {0, 0, 1, 0xBC},
      {0, 0, 1, 0xBA},      {0, 0, 1, 0xE3},      {0, 0, 1, 0xFC},      {0, 0, 1, 0xFD},      {0, 0, 1, 0xFA},
      {0, 0, 0, 1, 0x65},   {0x58, 0x13, 0, 0},   {0x57, 0x13, 0, 0},   {0x06, 0x20, 0, 0},   {0x30, 0x16, 0x2B, 0x57},
      {0x40, 0, 0, 0},      {0x60, 0, 0, 0}};
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> out;
  while (out.size() < n) {
    if (rng() % 3 == 0) {
      const auto& piece = kPieces[rng() % kPieces.size()];
      out.insert(out.end(), piece.begin(), piece.end());
    } else {
      out.push_back(static_cast<std::uint8_t>(rng() % 5 == 0 ? 0 : rng()));
    }
  }
  out.resize(n);
  return out;
}

std::vector<Image> conformanceImages() {
  std::vector<Image> images;
  for (std::uint8_t brand : corpus::distinctLayoutBrands())
    images.emplace_back("recordings", brand, recordings(brand, brand == 5 ? 12u << 20 : 5u << 20, brand));
  for (std::uint8_t brand : {7, 9})
    images.emplace_back("recordings", brand, recordings(brand, 3u << 20, brand));
  // Packets of megabytes: the walk jumps over chunk and block boundaries.
  images.emplace_back("long packets", 18, recordings(18, 9u << 20, 3, 3'000'000, 1'500'000));
  images.emplace_back("long frames", 3, recordings(3, 9u << 20, 4, 1'900'000, 900'000));
  images.emplace_back("sample", 18, sample::buildSampleImage().bytes);
  {
    corpus::MemoryImageWriter out;
    corpus::writeDenseImage(3u << 20, 300, 5, out);
    images.emplace_back("dense", 18, std::move(out.bytes()));
  }
  {
    corpus::MemoryImageWriter out;
    corpus::writeRandomImage(3u << 20, 7, out);
    for (std::uint8_t brand : {1, 3, 16, 18}) images.emplace_back("random", brand, out.bytes());
  }
  const auto laden = magicLaden(3u << 20, 11);
  for (std::uint8_t brand : {1, 2, 3, 4, 8, 12, 13, 14, 15, 16, 17, 18}) images.emplace_back("magic-laden", brand, laden);
  // A range inside the image: it starts inside a packet, and followers lie past its end.
  Image inside{"inside a range", 18, recordings(18, 6u << 20, 9)};
  inside.startSector = 2001;
  inside.endSector = inside.bytes.size() / 512 - 3001;
  images.push_back(inside);
  return images;
}

struct Chunking {
  std::string name;
  ScanOptions options;
};

// Boundaries where they hurt: at the packets the one-thread scan found and beside them (inside
// their headers), inside each block's look-ahead, one byte on and one byte before a block.
std::vector<Chunking> chunkings(const ScanOutcome& reference, std::uint64_t start, std::uint64_t end) {
  std::vector<Chunking> out;
  for (std::uint64_t bytes : {std::uint64_t{1} << 20, (std::uint64_t{1} << 20) + 1, std::uint64_t{300'007}}) {
    Chunking c{"every " + std::to_string(bytes), {}};
    c.options.chunkBytes = bytes;
    out.push_back(c);
  }
  std::set<std::uint64_t> starts;
  for (const auto& records : reference.records)
    for (std::size_t r = 0; r < records.size(); r += 1 + records.size() / 12)
      for (std::int64_t d : {-66, -43, -1, 0, 1, 20, 71})
        starts.insert(static_cast<std::uint64_t>(std::max<std::int64_t>(0, static_cast<std::int64_t>(records[r].deviceOffset) + d)));
  for (std::uint64_t b = kBlockSize; b < end; b += kBlockSize)
    for (std::int64_t d : {-1, 1, 200, 511})
      starts.insert(static_cast<std::uint64_t>(static_cast<std::int64_t>(b) + d));
  Chunking placed{"placed", {}};
  for (std::uint64_t s : starts)
    if (s > start && s < end) placed.options.chunkStarts.push_back(s);
  out.push_back(placed);
  return out;
}

std::vector<std::uint8_t> taskFile(const TempDir& dir, int n) {
  return readFile(dir.file("task") + "/Attr00" + std::to_string(n) + ".map");
}

// The files, records, messages and end sector of two scans agree, and so do the task files.
void expectSameScan(const ScanOutcome& a, const ScanOutcome& b, const std::vector<std::vector<std::uint8_t>>& filesA,
                    const TempDir& dir, const std::string& what) {
  ASSERT_TRUE(b.ok) << what << " " << b.error;
  EXPECT_EQ(b.files, a.files) << what;
  EXPECT_EQ(b.keys, a.keys) << what;
  EXPECT_EQ(b.records, a.records) << what;
  EXPECT_EQ(b.messages, a.messages) << what;
  EXPECT_EQ(b.endSector, a.endSector) << what;
  for (int n = 1; n <= 4; ++n) EXPECT_TRUE(taskFile(dir, n) == filesA[static_cast<std::size_t>(n - 1)]) << what << " Attr00" << n;
  // Progress stays in order whatever the threads do.
  std::int64_t last = -1;
  bool started = false;
  for (const auto& s : b.statuses) {
    if (s.code == StatusCode::ScanStart) started = true;
    if (s.code != StatusCode::ScanProgress) continue;
    EXPECT_TRUE(started) << what;
    EXPECT_GE(s.value, last) << what;
    last = s.value;
  }
}

TEST(ParallelScanIdentity, EveryConformanceImageScansAsOnOneThread) {
  TempDir dir;
  std::size_t compared = 0;
  for (const Image& image : conformanceImages()) {
    ScanRequest request = scanRequest(image.brand, kParseDeep);
    request.startSector = image.startSector;
    request.endSector = image.endSector;
    request.scan.readAhead = false;
    const ScanOutcome reference = scanImage(dir, image.bytes, request);
    ASSERT_TRUE(reference.ok) << image.name << " " << reference.error;
    std::vector<std::vector<std::uint8_t>> files;
    for (int n = 1; n <= 4; ++n) files.push_back(taskFile(dir, n));
    const std::string name = image.name + " brand " + std::to_string(image.brand);

    ScanRequest ahead = request;
    ahead.scan.readAhead = true;
    expectSameScan(reference, scanImage(dir, image.bytes, ahead), files, dir, name + " read ahead");
    const std::uint64_t start = image.startSector.value_or(0) * 512;
    const std::uint64_t end = image.endSector ? *image.endSector * 512 : (image.bytes.size() + 511) / 512 * 512;
    for (const Chunking& chunking : chunkings(reference, start, end)) {
      for (int threads : {2, 3, 7}) {
        ScanRequest parallel = request;
        parallel.scan = chunking.options;
        parallel.scan.threads = threads;
        expectSameScan(reference, scanImage(dir, image.bytes, parallel), files, dir,
                       name + " " + chunking.name + " threads " + std::to_string(threads));
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 300u);
}

TEST(ParallelScanIdentity, UnreadableSectorsAreSkippedAsOnOneThread) {
  auto bytes = recordings(18, 6u << 20, 21);
  auto image = std::make_shared<SparseImage>(bytes.size());
  image->put(0, bytes);
  // A bad sector inside a chunk, one at a chunk's start, one in the last window of a chunk
  // (which its worker reads but does not walk from), and two in the blocks' look-ahead.
  const std::set<std::uint64_t> bad = {(1u << 20) / 512 + 77, (2u << 20) / 512, (3u << 20) / 512 - 1,
                                       (4u << 20) / 512 + 1, 9000};
  TempDir dir;
  ScanRequest request = scanRequest(18, kParseDeep);
  request.scan.readAhead = false;
  const SourceScan reference = scanSparse(dir, image, request, bad);
  ASSERT_TRUE(reference.outcome.ok);
  // The failed windows follow one another (each block's window holds the next bad sector), so
  // they are one stretch: one line.
  EXPECT_EQ(std::count_if(reference.outcome.messages.begin(), reference.outcome.messages.end(),
                          [](const std::string& m) { return m.starts_with(kUnreadableBlockText); }),
            1)
      << ::testing::PrintToString(reference.outcome.messages);
  std::vector<std::vector<std::uint8_t>> files;
  for (int n = 1; n <= 4; ++n) files.push_back(taskFile(dir, n));
  for (std::uint64_t chunk : {std::uint64_t{1} << 20, std::uint64_t{700'001}}) {
    for (int threads : {1, 2, 3, 7}) {
      ScanRequest parallel = request;
      parallel.scan.threads = threads;
      parallel.scan.chunkBytes = chunk;
      parallel.scan.readAhead = true;
      const SourceScan scan = scanSparse(dir, image, parallel, bad);
      expectSameScan(reference.outcome, scan.outcome, files, dir,
                     "chunk " + std::to_string(chunk) + " threads " + std::to_string(threads));
    }
  }
}

std::vector<std::string> badBlockLines(const ScanOutcome& outcome) {
  std::vector<std::string> lines;
  for (const auto& m : outcome.messages)
    if (m.starts_with(kUnreadableBlockText)) lines.push_back(m);
  return lines;
}

// The scan of the image on 2 and 3 threads, in 1 MiB chunks, against the one-thread reference
// whose task files dir holds.
void expectSameOnTwoAndThreeThreads(const TempDir& dir, std::shared_ptr<const SparseImage> image,
                                    const ScanRequest& request, const SourceScan& reference,
                                    const std::set<std::uint64_t>& bad, std::optional<std::uint64_t> vanish,
                                    const std::string& what) {
  std::vector<std::vector<std::uint8_t>> files;
  for (int n = 1; n <= 4; ++n) files.push_back(taskFile(dir, n));
  for (int threads : {2, 3}) {
    ScanRequest parallel = request;
    parallel.scan.threads = threads;
    parallel.scan.chunkBytes = 1 << 20;
    const SourceScan scan = scanSparse(dir, image, parallel, bad, vanish);
    expectSameScan(reference.outcome, scan.outcome, files, dir, what + " threads " + std::to_string(threads));
  }
}

TEST(ParallelScanIdentity, AStretchOfUnreadableBlocksIsOneLineOnAnyThreads) {
  auto bytes = recordings(18, 8u << 20, 23);
  auto image = std::make_shared<SparseImage>(bytes.size());
  image->put(0, bytes);
  // Every sector from 2 MiB to past 5 MiB fails: three blocks and the start of a fourth, one
  // stretch; a lone bad sector later is a stretch of its own.
  std::set<std::uint64_t> bad;
  for (std::uint64_t s = (2u << 20) / 512; s < (5u << 20) / 512 + 3; ++s) bad.insert(s);
  bad.insert((7u << 20) / 512 + 5);
  TempDir dir;
  ScanRequest request = scanRequest(18, kParseDeep);
  request.scan.readAhead = false;
  const SourceScan reference = scanSparse(dir, image, request, bad);
  ASSERT_TRUE(reference.outcome.ok);
  const auto lines = badBlockLines(reference.outcome);
  ASSERT_EQ(lines.size(), 2u) << ::testing::PrintToString(reference.outcome.messages);
  // The walk's windows are a block and its look-ahead: the failed ones follow one another from
  // the first window that touches sector 4096.
  EXPECT_TRUE(lines[0].starts_with(std::string(kUnreadableBlockText) + ": 扇区 ")) << lines[0];
  EXPECT_NE(lines[0].find(" 起 "), std::string::npos);
  EXPECT_NE(lines[1], lines[0]);
  EXPECT_FALSE(reference.outcome.files.empty()) << "the readable blocks around the stretch are scanned";
  expectSameOnTwoAndThreeThreads(dir, image, request, reference, bad, std::nullopt, "stretch");
}

TEST(ParallelScanIdentity, AVanishedSourceStopsTheScanWithOneLineOnAnyThreads) {
  auto bytes = recordings(18, 8u << 20, 24);
  auto image = std::make_shared<SparseImage>(bytes.size());
  image->put(0, bytes);
  const std::uint64_t vanish = (5u << 20) + 4096;
  TempDir dir;
  ScanRequest request = scanRequest(18, kParseDeep);
  request.scan.readAhead = false;
  const SourceScan reference = scanSparse(dir, image, request, {}, vanish);
  ASSERT_TRUE(reference.outcome.ok) << reference.outcome.error;
  const auto& messages = reference.outcome.messages;
  EXPECT_EQ(std::count(messages.begin(), messages.end(), std::string(kSourceGoneText)), 1);
  EXPECT_TRUE(badBlockLines(reference.outcome).empty()) << "a vanished source is no bad sectors";
  EXPECT_EQ(reference.outcome.endSector, 0u) << "stopped as a user's stop: not complete";
  EXPECT_FALSE(reference.outcome.files.empty()) << "what was found before is kept";
  // Nothing the scan kept lies past where the source went.
  for (const auto& file : reference.outcome.records)
    for (const auto& r : file) EXPECT_LE(r.deviceOffset + r.size, vanish + kBlockSize);
  expectSameOnTwoAndThreeThreads(dir, image, request, reference, {}, vanish, "vanished");
}

TEST(ParallelScanIdentity, StopKeepsWhatTheJoinedChunksFound) {
  const auto bytes = recordings(18, 8u << 20, 5);
  TempDir dir;
  ScanRequest request = scanRequest(18, kParseDeep, 2);
  request.scan.threads = 3;
  request.scan.chunkBytes = 1 << 20;
  const ScanOutcome stopped = scanImage(dir, bytes, request);
  ASSERT_TRUE(stopped.ok);
  EXPECT_LT(stopped.endSector, bytes.size() / 512) << "a stopped scan leaves the end sector";
  EXPECT_FALSE(stopped.files.empty());
  EXPECT_NE(stopped.messages.back().find("视频流信息完成"), std::string::npos);
  // What was found is a beginning of what the whole scan finds, file by file.
  const ScanOutcome whole = scanImage(dir, bytes, scanRequest(18, kParseDeep));
  std::uint64_t kept = 0, all = 0;
  for (const auto& f : stopped.files) kept += f.size;
  for (const auto& f : whole.files) all += f.size;
  EXPECT_GT(kept, 0u);
  EXPECT_LT(kept, all);
}

TEST(ParallelScanIdentity, ParsersThatKeepStateFromEveryPositionWalkOnOneThread) {
  // Brand 6 follows channel markers at every tested position: its scan must not be cut.
  TempDir dir;
  const auto bytes = recordings(6, 5u << 20, 6);
  const ScanOutcome one = scanImage(dir, bytes, scanRequest(6, kParseDeep));
  std::vector<std::vector<std::uint8_t>> files;
  for (int n = 1; n <= 4; ++n) files.push_back(taskFile(dir, n));
  ScanRequest parallel = scanRequest(6, kParseDeep);
  parallel.scan.threads = 3;
  parallel.scan.chunkBytes = 300'007;
  const ScanOutcome many = scanImage(dir, bytes, parallel);
  expectSameScan(one, many, files, dir, "brand 6");
  ASSERT_EQ(many.statuses.size(), one.statuses.size()) << "the one-thread walk, notifications and all";
  for (std::size_t i = 0; i < one.statuses.size(); ++i) {
    EXPECT_EQ(many.statuses[i].code, one.statuses[i].code) << i;
    EXPECT_EQ(many.statuses[i].value, one.statuses[i].value) << i;
    EXPECT_EQ(many.statuses[i].currentSector, one.statuses[i].currentSector) << i;
  }
}

}  // namespace
}  // namespace norvale::test
