// Brands 2, 3, 7, 9, 10, 11 and 17 in the brand table: each id has a parser of its own whose
// packet test the identification can ask, and whose time convention reaches the listing and
// the export names.
#include <gtest/gtest.h>

#include <set>

#include "export/exporter.h"
#include "parsers/brand_parser.h"
#include "parsers/brand_table.h"
#include "parsers/volume_table_parser.h"
#include "support/conformance_images.h"
#include "support/frame_parser_support.h"
#include "support/index_table_images.h"
#include "task/task_context.h"

namespace norvale::test {
namespace {

const std::uint32_t kT0 = packed(2016, 5, 17, 8, 30, 0);

TEST(IndexTableRegistry, EachBrandHasItsOwnRow) {
  std::set<const BrandRow*> rows;
  for (const std::uint8_t brand : {2, 3, 7, 9, 10, 11, 17}) {
    const BrandRow* row = findBrand(brand);
    ASSERT_NE(row, nullptr) << int(brand);
    EXPECT_EQ(row->first, brand);
    EXPECT_EQ(row->last, brand);
    rows.insert(row);
  }
  EXPECT_EQ(rows.size(), 7u);
}

// What the conversion and the identification take from a row: a way to read its files, and a
// packet test that is another row's when it names one.
TEST(IndexTableRegistry, EachRowSaysHowItsFilesAreConvertedAndIdentified) {
  for (const BrandRow& row : brandTable()) {
    const ConversionLayout& c = row.conversion;
    EXPECT_NE(c.carrier, VideoCarrier::None) << "brand " << int(row.first);
    if (c.carrier == VideoCarrier::Headered && c.headerLength != HeaderLength::StatedAtByte4)
      EXPECT_GT(c.headerBytes, 0) << "brand " << int(row.first);
    if (row.identifiedBy) {
      const BrandRow* other = findBrand(row.identifiedBy);
      ASSERT_NE(other, nullptr) << "brand " << int(row.first);
      EXPECT_NE(other, &row);
      EXPECT_EQ(other->identifiedBy, 0) << "brand " << int(row.first) << " names a row that names another";
    }
  }
  EXPECT_EQ(brandTable().back().last, kLastBrand);
}

TEST(IndexTableRegistry, PacketTestsCarryTheirBrandsConstantsWithoutATaskBrand) {
  // The identification asks every row's packet test before any task names a brand.
  auto device = std::make_shared<SparseImage>(1 << 20);
  DeviceHandle handle;
  handle.open(std::make_unique<SparseSource>(device, std::set<std::uint64_t>{}, nullptr));
  for (const auto& own : kVolumeTableBrands) {
    const PacketDecoder* decoder = findBrand(own.brand)->decoder;
    ASSERT_NE(decoder, nullptr);
    for (const auto& other : kVolumeTableBrands) {
      auto frame = volumeFrame(other, {0x00FC, 0, kT0, 64});
      frame.resize(64 + 512);
      const bool accepted = decoder->decode(PacketWindow{frame.data(), frame.size(), 64, 0}, handle).has_value();
      EXPECT_EQ(accepted, own.frameMagic == other.frameMagic) << int(own.brand) << " / " << int(other.brand);
    }
  }
  auto wfs = wfsKeyPacket(kT0, 10);
  append(wfs, {0, 0, 1, 0xFD});
  wfs.resize(wfs.size() + 512);
  EXPECT_TRUE(findBrand(3)->decoder->decode(PacketWindow{wfs.data(), wfs.size(), 30, 0}, handle));
  EXPECT_FALSE(findBrand(17)->decoder->decode(PacketWindow{wfs.data(), wfs.size(), 30, 0}, handle));
  auto marker = markerPacket(0, 1463473800, 10, true);
  append(marker, markerPacket(0, 1463473800, 10, true));
  marker.resize(marker.size() + 512);
  EXPECT_TRUE(findBrand(17)->decoder->decode(PacketWindow{marker.data(), marker.size(), 276, 0}, handle));
  EXPECT_FALSE(findBrand(2)->decoder->decode(PacketWindow{marker.data(), marker.size(), 276, 0}, handle));
}

TEST(IndexTableRegistry, TimeConventionsReachListingAndExportNames) {
  for (const std::uint8_t brand : {2, 3, 7, 9, 10, 11}) {
    for (const std::uint8_t mode : {0, 1}) {
      const TimeConvention c = timeConventionFor(brand, mode);
      EXPECT_EQ(timeText(c, kT0), "2016年05月17日 08时30分00秒");
      EXPECT_EQ(dayCode(c, kT0), calendarCode(2016, 5, 17));
      EXPECT_TRUE(c.joins(kT0, packed(2016, 5, 17, 9, 30, 0)));
      EXPECT_FALSE(c.joins(kT0, packed(2016, 5, 17, 9, 30, 1)));
    }
  }
  TaskContext task;
  test::redescribe(task, [](TaskDescription& d) {
    d.brand = 17;
    d.parseMode = 1;
  });
  FileEntry entry;
  entry.channel = 3;
  entry.startTime = 1463473800;
  entry.endTime = 1463473800 + 95;
  task.fileMap.emplace(fileMapKey(3, dayCode(timeConventionFor(17, 1), entry.startTime)), entry);
  EXPECT_EQ(exportRelativePaths(task), std::vector<std::string>{"CH03/2016-05-17/CH03_20160517-083000_20160517-083135.dat"});
}

}  // namespace
}  // namespace norvale::test

namespace norvale::test {
namespace {

// Deep-mode chains of 40 packets over two channels with a key every ten; the last packet needs
// no follower of its own kind.
std::vector<std::uint8_t> padded(std::vector<std::uint8_t> chain) {
  chain.resize(chain.size() + 2000, 0xEE);
  return chain;
}

std::vector<std::uint8_t> volumeChain(std::uint8_t brand) {
  std::vector<std::uint8_t> chain;
  for (int i = 0; i < 40; ++i) {
    const FrameSpec fields{std::uint16_t(i % 10 ? 1 : 0xFC), std::uint8_t(i / 20), plusSeconds(kT0, i), 3000};
    append(chain, volumeFrame(*findVolumeTableBrand(brand), fields));
  }
  return padded(chain);
}

std::vector<std::uint8_t> wfsChain() {
  std::vector<std::uint8_t> wfs;
  for (int i = 0; i < 40; ++i) append(wfs, i % 10 ? wfsLongPacket(3000) : wfsKeyPacket(plusSeconds(kT0, i), 3000));
  return padded(wfs);
}

std::vector<std::uint8_t> markerChain() {
  std::vector<std::uint8_t> marker;
  for (int i = 0; i < 40; ++i) append(marker, markerPacket(std::uint8_t(i / 20), 1463473800 + i, 3000, i % 10 == 0));
  return padded(marker);
}

const ConformanceImageRegistrar kChains[] = {
    ConformanceImageRegistrar({.brand = 2, .mode = kParseDeep, .shift = 65, .build = [] { return volumeChain(2); }}),
    ConformanceImageRegistrar({.brand = 7, .mode = kParseDeep, .shift = 65, .build = [] { return volumeChain(7); }}),
    ConformanceImageRegistrar({.brand = 9, .mode = kParseDeep, .shift = 65, .build = [] { return volumeChain(9); }}),
    ConformanceImageRegistrar({.brand = 10, .mode = kParseDeep, .shift = 65, .build = [] { return volumeChain(10); }}),
    ConformanceImageRegistrar({.brand = 11, .mode = kParseDeep, .shift = 65, .build = [] { return volumeChain(11); }}),
    ConformanceImageRegistrar({.brand = 3, .mode = kParseDeep, .shift = 65, .build = &wfsChain}),
    ConformanceImageRegistrar({.brand = 17, .mode = kParseDeep, .shift = 65, .build = &markerChain}),
};

// Deep mode finds the same files in a copy of an image shifted by an odd number of bytes, at
// offsets shifted by exactly that much.
TEST(IndexTableRegistry, DeepScanFollowsAnOddShift) {
  for (const std::uint8_t brand : {2, 7, 9, 10, 11, 3, 17}) {
    const auto images = conformanceImagesFor(*findBrand(brand));
    ASSERT_EQ(images.size(), 1u) << int(brand);
    SCOPED_TRACE(::testing::Message() << "brand " << int(brand));
    TempDir dir;
    expectShiftedOffsets(dir, images.front()->build(), scanRequest(brand, kParseDeep), 65);
  }
}

}  // namespace
}  // namespace norvale::test
