// Every row of the brand table against hostile input (short windows, random and magic-laden
// bytes, empty and truncated images, a stop), its candidate search against its packet test, and
// the conformance image its suite registers. A new brand is covered by adding its row and
// registering its image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>

#include "parsers/brand_parser.h"
#include "parsers/brand_table.h"
#include "parsers/pattern_search.h"
#include "support/conformance_images.h"
#include "support/frame_parser_support.h"
#include "task/task_context.h"

namespace norvale::test {
namespace {

// The ids the table-driven checks scan: each row's first id, and its last when it serves several.
std::vector<std::uint8_t> tableIds() {
  std::vector<std::uint8_t> ids;
  for (const BrandRow& row : brandTable()) {
    ids.push_back(row.first);
    if (row.last != row.first) ids.push_back(row.last);
  }
  return ids;
}

std::string rowName(const BrandRow& row) {
  std::string name = "row " + std::to_string(row.first);
  if (row.last != row.first) name += "-" + std::to_string(row.last);
  return name;
}

using Pieces = std::vector<std::vector<std::uint8_t>>;

// Magics and start codes of the frame-chain, block-index and multi-brand designs.
const Pieces kFramePieces = {
    {'H', 'B', 'M', 'S'}, {'N', 'V', 'R', '1'}, {'J', 'V', 'S', ' '}, {0, 0, 1, 0xBC}, {0, 0, 1, 0xBA},
    {0, 0, 1, 0xE3},      {0, 0, 0, 1, 0x65},   {0x58, 0x13, 0, 0},   {0x57, 0x13, 0, 0}, {0x06, 0x20, 0, 0},
    {0xFF, 0xFF, 0xFF, 0xFF}, {0x30, 0x16, 0x2B, 0x57}};

// Those and the magics of the index-table designs (brands 2, 3, 7, 9-11 and 17).
Pieces everyRowsPieces() {
  Pieces pieces = kFramePieces;
  const Pieces more = {{'D', 'H', 'A', 'V'}, {'d', 'h', 'a', 'v'}, {'H', 'Y', 'A', 'V'}, {'h', 'y', 'a', 'v'},
                       {'Z', 'L', 'A', 'V'}, {'z', 'l', 'a', 'v'}, {0, 0, 1, 0xFC},      {0, 0, 1, 0xFD},
                       {0, 0, 1, 0xFA},      {'l', 'i', 'u', ' '}, {' ', 'u', 'i', 'l'}};
  pieces.insert(pieces.end(), more.begin(), more.end());
  return pieces;
}
const Pieces kEveryRowsPieces = everyRowsPieces();

// Bytes full of magics and start codes, so that the tests get past their first checks.
std::vector<std::uint8_t> magicLaden(std::size_t n, std::uint32_t seed, const Pieces& pieces = kFramePieces) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> out;
  while (out.size() < n) {
    if (rng() % 3 == 0) {
      append(out, pieces[rng() % pieces.size()]);
    } else {
      out.push_back(static_cast<std::uint8_t>(rng()));
    }
  }
  out.resize(n);
  return out;
}

TEST(FrameParsersConformance, PatternSearchFindsWhatAByteByByteWalkFinds) {
  const auto bytes = magicLaden(4096 + 64, 21);
  struct Case {
    std::vector<std::uint8_t> pattern;
    std::size_t patternAt, anchor;
  };
  const Case cases[] = {{{'H', 'B', 'M', 'S'}, 0, 0}, {{0, 0, 1}, 0, 2}, {{0, 0, 0, 1}, 32, 3}, {{0, 0, 0, 1}, 16, 3}};
  for (const auto& c : cases) {
    for (std::size_t from = 0; from < 4096; from += 13) {
      std::size_t expected = 4096;
      for (std::size_t p = from; p < 4096 && expected == 4096; ++p)
        if (std::memcmp(&bytes[p + c.patternAt], c.pattern.data(), c.pattern.size()) == 0) expected = p;
      EXPECT_EQ(findPattern(bytes.data(), from, 4095, c.pattern.data(), c.pattern.size(), c.patternAt, c.anchor),
                expected)
          << from;
    }
  }
}

TEST(FrameParsersConformance, PacketTestsReadNothingOutsideTheirWindow) {
  TaskContext task;  // the identification's context: brand 0
  DeviceHandle device;
  device.open(std::make_unique<MemorySource>(magicLaden(8192, 7)));
  for (std::uint8_t brand : tableIds()) {
    auto parser = findBrand(brand)->create();
    for (std::uint32_t seed = 0; seed < 80; ++seed) {
      const auto bytes = seed < 40 ? magicLaden(160, seed) : magicLaden(160, seed, kEveryRowsPieces);
      for (std::size_t start = 0; start < 40; ++start) {
        for (std::size_t available = 0; available <= bytes.size() - start; available += 7) {
          // A buffer of exactly the window's size: any read past it is caught by the sanitizer.
          std::vector<std::uint8_t> window(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                                           bytes.begin() + static_cast<std::ptrdiff_t>(start + available));
          for (std::int64_t valid : {static_cast<std::int64_t>(available), std::int64_t{0}, std::int64_t{-5}}) {
            auto packet = parser->decoder().decode(PacketWindow{window.data(), window.size(), valid, 512 + start}, device);
            if (packet) {
              EXPECT_GE(packet->advance, 1u) << int(brand);
              EXPECT_GT(packet->dataLength, 0u) << int(brand);
            }
          }
        }
      }
    }
  }
}

TEST(FrameParsersConformance, EmptyTruncatedAndRandomImagesYieldNothing) {
  TempDir dir;
  std::mt19937 rng(11);
  std::vector<std::uint8_t> random(2 << 20);
  for (auto& b : random) b = static_cast<std::uint8_t>(rng());
  // Magic-laden bytes may hold a chance packet; only the others must yield nothing.
  const std::vector<std::pair<std::vector<std::uint8_t>, bool>> images = {
      {{}, true}, {{0}, true}, {junkBytes(511), true}, {random, true}, {magicLaden(513, 3), false},
      {magicLaden(3 << 20, 5), false}, {magicLaden(3 << 20, 5, kEveryRowsPieces), false}};
  for (std::uint8_t brand : tableIds()) {
    for (std::uint8_t mode : {kParseQuick, kParseDeep}) {
      for (const auto& [image, nothing] : images) {
        auto out = scanImage(dir, image, scanRequest(brand, mode));
        ASSERT_TRUE(out.ok) << int(brand) << " " << out.error;
        if (nothing) {
          EXPECT_TRUE(out.files.empty()) << int(brand) << " mode " << int(mode) << " size " << image.size();
        }
        ASSERT_FALSE(out.messages.empty());
        EXPECT_NE(out.messages.back().find("视频流信息完成"), std::string::npos) << int(brand);
      }
    }
  }
}

TEST(FrameParsersConformance, EveryBrandHasARowOfItsOwn) {
  for (std::uint8_t brand : {1, 4, 5, 6, 8, 12, 13, 14, 15, 16}) {
    const BrandRow* row = findBrand(brand);
    ASSERT_NE(row, nullptr) << int(brand);
    EXPECT_EQ(row->first, brand);
    EXPECT_EQ(row->last, brand);
  }
}

// The task context keeps one parser per slot, and the identification asks the table's decoder
// while the scan asks the created parser's: rows may neither overlap nor share a slot, and both
// decoders must be the same object.
TEST(FrameParsersConformance, TableServesEveryIdOnceWithASlotAndDecoderOfItsRow) {
  EXPECT_EQ(findBrand(0), nullptr);
  EXPECT_EQ(findBrand(static_cast<std::uint8_t>(lastBrand() + 1)), nullptr);
  // The rows follow each other in id order from 1 to the task header's highest brand.
  EXPECT_EQ(firstBrand(), 1);
  EXPECT_EQ(lastBrand(), kLastBrand);
  int next = 1;
  for (const BrandRow& row : brandTable()) {
    EXPECT_EQ(row.first, next) << rowName(row) << " leaves a gap or overlaps the row before";
    next = row.last + 1;
  }
  for (int brand = firstBrand(); brand <= lastBrand(); ++brand) {
    int serving = 0;
    for (const BrandRow& row : brandTable()) serving += brand >= row.first && brand <= row.last;
    EXPECT_EQ(serving, 1) << brand;
    const BrandRow* row = findBrand(static_cast<std::uint8_t>(brand));
    ASSERT_NE(row, nullptr) << brand;
    EXPECT_TRUE(brand >= row->first && brand <= row->last) << brand;
  }
  for (const BrandRow& row : brandTable()) {
    EXPECT_LE(row.first, row.last) << rowName(row);
    // The list of brands shows a name for every id of a row.
    ASSERT_EQ(row.names.size(), row.last - row.first + 1u) << rowName(row);
    for (const char* name : row.names) EXPECT_TRUE(name && *name) << rowName(row);
    ASSERT_NE(row.decoder, nullptr) << rowName(row);
    ASSERT_NE(row.create, nullptr) << rowName(row);
    EXPECT_EQ(&row.create()->decoder(), row.decoder) << rowName(row);
  }
}

// A stop after the first progress notification ends the scan there: the end sector stays unset
// and the closing text still follows. Designs that read nothing of these bytes in a mode send no
// progress to stop after; every row sends some in deep mode.
TEST(FrameParsersConformance, CancelKeepsTheEndSectorUnset) {
  TempDir dir;
  const auto image = magicLaden(4 << 20, 9);
  for (std::uint8_t brand : tableIds()) {
    for (std::uint8_t mode : {kParseQuick, kParseDeep}) {
      auto out = scanImage(dir, image, scanRequest(brand, mode, 1));
      ASSERT_TRUE(out.ok) << out.error;
      const auto progress = std::count_if(out.statuses.begin(), out.statuses.end(),
                                          [](const TaskStatus& s) { return s.code == StatusCode::ScanProgress; });
      if (mode == kParseDeep) {
        EXPECT_GE(progress, 1) << int(brand);
      }
      if (progress == 0) continue;
      EXPECT_EQ(progress, 1) << int(brand) << " mode " << int(mode) << ": the scan went on after the stop";
      EXPECT_LT(out.endSector, image.size() / 512) << int(brand) << " mode " << int(mode);
      ASSERT_FALSE(out.messages.empty());
      EXPECT_NE(out.messages.back().find("视频流信息完成"), std::string::npos) << int(brand);
    }
  }
}

// The scan jumps to the decoder's next candidate and rejects every position it skips, so a
// candidate search that passes over a packet loses it. The buffers are magic-laden bytes around
// a piece of the row's conformance image, so that there are packets to pass over.
TEST(FrameParsersConformance, CandidateSearchSkipsNoPositionThePacketTestAccepts) {
  ZoneGuard zone{"Asia/Shanghai"};
  for (const BrandRow& row : brandTable()) {
    const auto images = conformanceImagesFor(row);
    if (images.empty()) continue;  // reported by EveryRowHasOneConformanceImage
    const PacketDecoder& decoder = *row.decoder;
    const auto image = images.front()->build();
    DeviceHandle imageDevice;
    imageDevice.open(std::make_unique<MemorySource>(image));
    std::size_t firstPacket = 0;
    while (firstPacket < image.size() &&
           !decoder.decode(PacketWindow{image.data() + firstPacket, image.size() - firstPacket,
                                        static_cast<std::int64_t>(image.size() - firstPacket), firstPacket},
                           imageDevice))
      ++firstPacket;
    if (firstPacket == image.size()) {
      ADD_FAILURE() << rowName(row) << ": the conformance image holds no packet";
      continue;
    }
    const std::size_t from = firstPacket > 0x1000 ? firstPacket - 0x1000 : 0;
    const std::size_t to = std::min<std::size_t>(image.size(), firstPacket + 0x20000);

    for (std::uint32_t seed : {1u, 2u}) {
      std::vector<std::uint8_t> buffer = magicLaden(0x4000 + seed * 13, row.first * 7 + seed, kEveryRowsPieces);
      buffer.insert(buffer.end(), image.begin() + static_cast<std::ptrdiff_t>(from),
                    image.begin() + static_cast<std::ptrdiff_t>(to));
      append(buffer, magicLaden(0x4000, seed, kEveryRowsPieces));
      const std::size_t last = buffer.size() - 1 - kLookAhead;
      DeviceHandle device;
      device.open(std::make_unique<MemorySource>(buffer));
      // nextAccepted[p]: the first accepted position >= p (last + 1 when none).
      std::vector<std::size_t> nextAccepted(last + 2, last + 1);
      std::size_t accepted = 0;
      for (std::size_t p = last + 1; p-- > 0;) {
        const PacketWindow w{buffer.data() + p, buffer.size() - p, static_cast<std::int64_t>(buffer.size() - p), p};
        const bool ok = decoder.decode(w, device).has_value();
        accepted += ok;
        nextAccepted[p] = ok ? p : nextAccepted[p + 1];
      }
      EXPECT_GT(accepted, 0u) << rowName(row);
      auto check = [&](std::size_t at) {
        const std::size_t candidate = decoder.nextCandidate(buffer.data(), at, last);
        EXPECT_GE(candidate, at) << rowName(row);
        EXPECT_LE(candidate, nextAccepted[at]) << rowName(row) << " skips the packet at " << nextAccepted[at]
                                               << " searching from " << at;
        return candidate;
      };
      // As the scan asks: from each rejected position's successor, from every accepted position
      // (where the packet before it in a chain ends), and from sampled positions.
      for (std::size_t at = 0; at <= last;) at = check(at) + 1;
      for (std::size_t at = 0; at <= last; ++at)
        if (nextAccepted[at] == at) check(at);
      for (std::size_t at = 0; at <= last; at += 97) check(at);
    }
  }
}

TEST(FrameParsersConformance, EveryRowHasOneConformanceImage) {
  for (const BrandRow& row : brandTable()) {
    const auto images = conformanceImagesFor(row);
    EXPECT_EQ(images.size(), 1u) << rowName(row) << " needs one registered conformance image";
  }
  for (const ConformanceImage& image : conformanceImages()) {
    EXPECT_NE(findBrand(image.brand), nullptr) << "an image of brand " << int(image.brand) << " has no row";
    EXPECT_NE(image.build, nullptr) << int(image.brand);
    if (image.shift == 0) {
      EXPECT_STRNE(image.reason, "") << int(image.brand) << ": an image without a shift says why";
    }
  }
}

// The same image behind foreign bytes gives the same files at offsets moved by the shift. Where
// the design ties what it finds to device offsets, the image must give files, and the same
// ones when scanned again.
TEST(FrameParsersConformance, ConformanceImagesScanAlikeBehindForeignBytes) {
  ZoneGuard zone{"Asia/Shanghai"};
  for (const BrandRow& row : brandTable()) {
    for (const ConformanceImage* image : conformanceImagesFor(row)) {
      SCOPED_TRACE(rowName(row) + ", brand " + std::to_string(image->brand));
      TempDir dir;
      const auto bytes = image->build();
      const ScanRequest request = scanRequest(image->brand, image->mode);
      if (image->shift > 0) {
        expectShiftedOffsets(dir, bytes, request, image->shift);
        continue;
      }
      const ScanOutcome first = scanImage(dir, bytes, request);
      const ScanOutcome again = scanImage(dir, bytes, request);
      if (!first.ok || !again.ok) {
        ADD_FAILURE() << first.error << again.error;
        continue;
      }
      EXPECT_FALSE(first.files.empty());
      EXPECT_EQ(again.files, first.files);
      EXPECT_EQ(again.keys, first.keys);
      EXPECT_EQ(again.records, first.records);
      EXPECT_EQ(again.bytes, first.bytes);
    }
  }
}

}  // namespace
}  // namespace norvale::test
