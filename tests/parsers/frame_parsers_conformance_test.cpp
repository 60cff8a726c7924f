// Every parser of brands 1, 4, 5, 6, 8, 12-16 against hostile input: short windows, random and
// magic-laden bytes, empty and truncated images.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "parsers/brand_parser.h"
#include "parsers/brand_table.h"
#include "parsers/pattern_search.h"
#include "support/frame_parser_support.h"
#include "task/task_context.h"

namespace norvale::test {
namespace {

constexpr std::uint8_t kBrands[] = {1, 4, 5, 6, 8, 12, 13, 14, 15, 16};

// Bytes full of the brands' magics and start codes, so that the tests get past their first checks.
std::vector<std::uint8_t> magicLaden(std::size_t n, std::uint32_t seed) {
  static const std::vector<std::vector<std::uint8_t>> kPieces = {
      {'H', 'B', 'M', 'S'}, {'N', 'V', 'R', '1'}, {'J', 'V', 'S', ' '}, {0, 0, 1, 0xBC}, {0, 0, 1, 0xBA},
      {0, 0, 1, 0xE3},      {0, 0, 0, 1, 0x65},   {0x58, 0x13, 0, 0},   {0x57, 0x13, 0, 0}, {0x06, 0x20, 0, 0},
      {0xFF, 0xFF, 0xFF, 0xFF}, {0x30, 0x16, 0x2B, 0x57}};
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> out;
  while (out.size() < n) {
    if (rng() % 3 == 0) {
      append(out, kPieces[rng() % kPieces.size()]);
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
  for (std::uint8_t brand : kBrands) {
    auto parser = findBrand(brand)->create();
    for (std::uint32_t seed = 0; seed < 40; ++seed) {
      const auto bytes = magicLaden(160, seed);
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
      {magicLaden(3 << 20, 5), false}};
  for (std::uint8_t brand : kBrands) {
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

TEST(FrameParsersConformance, EveryBrandHasItsRowAndSlot) {
  for (std::uint8_t brand : kBrands) {
    const BrandRow* row = findBrand(brand);
    ASSERT_NE(row, nullptr) << int(brand);
    EXPECT_EQ(row->first, brand);
    EXPECT_EQ(row->last, brand);
    EXPECT_EQ(row->slot, brand - 1);
  }
}

TEST(FrameParsersConformance, CancelKeepsTheEndSectorUnset) {
  TempDir dir;
  auto image = magicLaden(4 << 20, 9);
  for (std::uint8_t brand : {1, 6, 8, 12, 13, 16}) {
    auto out = scanImage(dir, image, scanRequest(brand, kParseDeep, 1));
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_LT(out.endSector, image.size() / 512) << int(brand);
    EXPECT_NE(out.messages.back().find("视频流信息完成"), std::string::npos);
  }
}

}  // namespace
}  // namespace norvale::test
