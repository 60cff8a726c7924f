// The frame test of brands 2, 7, 9, 10 and 11, and the superblock checks shared with brand 3.
#include <gtest/gtest.h>

#include <memory>

#include "base/byte_reader.h"
#include "parsers/brand_table.h"
#include "parsers/index_table.h"
#include "parsers/volume_table_parser.h"
#include "support/index_table_images.h"
#include "task/task_context.h"

namespace norvale::test {
namespace {

const std::uint32_t kT0 = packed(2016, 5, 17, 8, 30, 0);

// Runs one brand's frame test on a buffer, with the device behind it for tail reads.
class FrameProbe {
 public:
  FrameProbe(std::uint8_t brand, std::shared_ptr<const SparseImage> device) {
    m_parser = findBrand(brand)->create();
    m_device.open(std::make_unique<SparseSource>(std::move(device), std::set<std::uint64_t>{}, &reads));
  }
  // The buffer holds `available` bytes of which `valid` came from the device at deviceOffset.
  std::optional<Packet> test(const std::vector<std::uint8_t>& buffer, std::int64_t valid, std::uint64_t deviceOffset) {
    return m_parser->decoder().decode(PacketWindow{buffer.data(), buffer.size(), valid, deviceOffset}, m_device);
  }
  std::optional<Packet> test(const std::vector<std::uint8_t>& frame) {
    std::vector<std::uint8_t> buffer = frame;
    buffer.resize(frame.size() + 512);
    return test(buffer, static_cast<std::int64_t>(frame.size()), 0x1000);
  }
  std::vector<std::pair<std::uint64_t, std::size_t>> reads;

 private:
  TaskContext m_task;
  std::unique_ptr<BrandParser> m_parser;
  DeviceHandle m_device;
};

std::shared_ptr<SparseImage> emptyDevice(std::uint64_t size = 1 << 20) { return std::make_shared<SparseImage>(size); }

TEST(VolumeFramePacket, EachBrandAcceptsOnlyItsOwnMagic) {
  for (const auto& own : kVolumeTableBrands) {
    FrameProbe probe(own.brand, emptyDevice());
    for (const auto& other : kVolumeTableBrands) {
      const auto packet = probe.test(volumeFrame(other, {0x00FC, 3, kT0, 100}));
      if (other.frameMagic == own.frameMagic) {
        ASSERT_TRUE(packet) << "brand " << int(own.brand) << " frame of brand " << int(other.brand);
        EXPECT_EQ(packet->kind, SegmentKind::Key);
        EXPECT_EQ(packet->channel, 4u);
        EXPECT_EQ(packet->time, kT0);
        EXPECT_EQ(packet->dataOffset, 0x1000u);
        EXPECT_EQ(packet->dataLength, 100u);
        EXPECT_EQ(packet->advance, 100u);
      } else {
        EXPECT_FALSE(packet) << "brand " << int(own.brand) << " took a frame of brand " << int(other.brand);
      }
    }
  }
}

TEST(VolumeFramePacket, SixteenBitFrameTypeDecidesTheKind) {
  const auto& brand = *findVolumeTableBrand(2);
  FrameProbe probe(2, emptyDevice());
  const std::pair<std::uint16_t, SegmentKind> cases[] = {{0x00FC, SegmentKind::Key},   {0x00FD, SegmentKind::Key},
                                                         {0x01FD, SegmentKind::Other}, {0x01FC, SegmentKind::Other},
                                                         {0x00FE, SegmentKind::Other}, {0x0000, SegmentKind::Other}};
  for (const auto& [type, kind] : cases) {
    const auto packet = probe.test(volumeFrame(brand, {type, 0, kT0, 64}));
    ASSERT_TRUE(packet) << std::hex << type;
    EXPECT_EQ(packet->kind, kind) << std::hex << type;
  }
}

TEST(VolumeFramePacket, ChannelIsTheByteAfterPlusOneModulo256) {
  const auto& brand = *findVolumeTableBrand(11);
  FrameProbe probe(11, emptyDevice());
  EXPECT_EQ(probe.test(volumeFrame(brand, {0x00FC, 0x00, kT0, 64}))->channel, 1u);
  EXPECT_EQ(probe.test(volumeFrame(brand, {0x00FC, 0x1F, kT0, 64}))->channel, 32u);
  EXPECT_EQ(probe.test(volumeFrame(brand, {0x00FC, 0xFF, kT0, 64}))->channel, 0u);
}

TEST(VolumeFramePacket, TimeMustBePlausible) {
  const auto& brand = *findVolumeTableBrand(7);
  FrameProbe probe(7, emptyDevice());
  EXPECT_FALSE(probe.test(volumeFrame(brand, {0x00FC, 0, 0, 64})));
  EXPECT_FALSE(probe.test(volumeFrame(brand, {0x00FC, 0, packed(2021, 1, 1, 0, 0, 0), 64})));
  EXPECT_FALSE(probe.test(volumeFrame(brand, {0x00FC, 0, packed(2016, 13, 1, 0, 0, 0), 64})));
  EXPECT_TRUE(probe.test(volumeFrame(brand, {0x00FC, 0, packed(2020, 12, 31, 24, 60, 60), 64})));
}

TEST(VolumeFramePacket, LengthBoundsAreCheckedBeforeTheTail) {
  const auto& brand = *findVolumeTableBrand(2);
  // The header alone is in the buffer: a length that passes its bounds sends the test to the
  // device for the tail, one that fails does not.
  std::vector<std::uint8_t> header = volumeFrame(brand, {0x00FC, 0, kT0, 64});
  header.resize(20);
  header.resize(20 + 512);
  for (const std::uint32_t length : {20u, 21u, 0x200000u, 0x200001u}) {
    FrameProbe probe(2, emptyDevice(4 << 20));
    putLe32(&header[12], length);
    EXPECT_FALSE(probe.test(header, 20, 0));
    const bool inBounds = length == 21 || length == 0x200000;
    EXPECT_EQ(probe.reads.size(), inBounds ? 1u : 0u) << length;
  }
}

TEST(VolumeFramePacket, LongestFrameIsAccepted) {
  const auto& brand = *findVolumeTableBrand(9);
  FrameProbe probe(9, emptyDevice());
  const auto packet = probe.test(volumeFrame(brand, {0x00FD, 0, kT0, 0x200000}));
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->dataLength, 0x200000u);
  EXPECT_TRUE(probe.reads.empty());
}

TEST(VolumeFramePacket, TailNeedsMagicAndTheRepeatedLength) {
  const auto& brand = *findVolumeTableBrand(10);
  FrameProbe probe(10, emptyDevice());
  auto frame = volumeFrame(brand, {0x00FC, 0, kT0, 200});
  ASSERT_TRUE(probe.test(frame));
  auto wrongLength = frame;
  putLe32(&wrongLength[196], 201);
  EXPECT_FALSE(probe.test(wrongLength));
  auto wrongMagic = frame;
  wrongMagic[192] = 'Z';  // "Zlav"
  EXPECT_FALSE(probe.test(wrongMagic));
}

TEST(VolumeFramePacket, TailPastTheValidBytesIsDecidedByTheDevice) {
  const auto& brand = *findVolumeTableBrand(2);
  const auto frame = volumeFrame(brand, {0x00FC, 5, kT0, 3000});
  // The buffer holds the whole frame, but only 512 bytes of it came from the device.
  std::vector<std::uint8_t> buffer = frame;
  {
    auto device = emptyDevice();
    device->put(1000, frame);
    FrameProbe probe(2, device);
    const auto packet = probe.test(buffer, 512, 1000);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->dataLength, 3000u);
    ASSERT_EQ(probe.reads.size(), 1u);
    EXPECT_EQ(probe.reads[0].first, (1000u + 3000 - 8) / 512 * 512);
  }
  {
    auto device = emptyDevice();
    auto corrupted = frame;
    corrupted[2992] = 'x';
    device->put(1000, corrupted);
    FrameProbe probe(2, device);
    EXPECT_FALSE(probe.test(buffer, 512, 1000));
  }
  {
    // An unreadable tail rejects the frame.
    auto device = emptyDevice();
    device->put(1000, frame);
    TaskContext task;
    auto parser = findBrand(2)->create();
    DeviceHandle handle;
    handle.open(std::make_unique<SparseSource>(device, std::set<std::uint64_t>{(1000 + 3000 - 8) / 512}, nullptr));
    EXPECT_FALSE(parser->decoder().decode(PacketWindow{buffer.data(), buffer.size(), 512, 1000}, handle));
  }
}

TEST(VolumeFramePacket, FrameCutByTheSourceEndIsRejectedWithoutReadingPastIt) {
  const auto& brand = *findVolumeTableBrand(2);
  const auto frame = volumeFrame(brand, {0x00FC, 0, kT0, 3000});
  auto device = emptyDevice(2048);
  device->put(1024, frame);
  FrameProbe probe(2, device);
  std::vector<std::uint8_t> buffer(frame.begin(), frame.begin() + 1024);
  buffer.resize(1024 + 512);
  EXPECT_FALSE(probe.test(buffer, 1024, 1024));
  EXPECT_TRUE(probe.reads.empty());
}

TEST(VolumeFramePacket, ShortOrGarbageWindowsAreRejected) {
  const auto& brand = *findVolumeTableBrand(2);
  FrameProbe probe(2, emptyDevice());
  auto frame = volumeFrame(brand, {0x00FC, 0, kT0, 64});
  frame.resize(19);
  EXPECT_FALSE(probe.test(frame, 19, 0));
  std::vector<std::uint8_t> nothing;
  EXPECT_FALSE(probe.test(nothing, 0, 0));
  const auto garbage = patternBytes(4096);
  EXPECT_FALSE(probe.test(garbage, 4096, 0));
}

// ---- superblock checks (volume-table design and WFS share them) ----

std::optional<IndexTableLayout> layoutOf(const SuperblockSpec& fields, std::uint64_t volumeStart = 0) {
  const auto sector = superblock(fields);
  return readIndexSuperblock(sector, volumeStart, fields.magic);
}

TEST(IndexSuperblock, DerivesTheLayoutFromUnits) {
  SuperblockSpec fields;
  fields.unit = 0x1000;
  fields.unitsPerBlock = 16;
  fields.indexStartUnits = 3;
  fields.dataStartUnits = 100;
  fields.records = 17;
  const auto layout = layoutOf(fields, 0x100000);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->blockSize, 0x10000u);
  EXPECT_EQ(layout->indexStart, 0x100000u + 3 * 0x1000);
  EXPECT_EQ(layout->indexLength, 1024u);  // 17 x 32 = 544 rounded up to sectors
  EXPECT_EQ(layout->dataStart, 0x100000u + 100 * 0x1000);
  EXPECT_EQ(layout->recordCount, 17u);
}

TEST(IndexSuperblock, BlockSizeBounds) {
  SuperblockSpec fields;
  fields.unit = 0x1000;
  fields.unitsPerBlock = 2560;  // exactly 10 MiB
  EXPECT_TRUE(layoutOf(fields));
  fields.unitsPerBlock = 2561;
  EXPECT_FALSE(layoutOf(fields));
  fields.unit = 0x1100;  // not whole sectors
  fields.unitsPerBlock = 1;
  EXPECT_FALSE(layoutOf(fields));
  fields.unit = 1000;
  EXPECT_FALSE(layoutOf(fields));
  fields.unit = 0;
  EXPECT_FALSE(layoutOf(fields));
  fields.unit = 512;
  fields.unitsPerBlock = 0;
  EXPECT_FALSE(layoutOf(fields));
  // Huge fields must not wrap into range in 64-bit arithmetic.
  fields.unit = 0xFFFFFE00;
  fields.unitsPerBlock = 0xFFFFFFFF;
  EXPECT_FALSE(layoutOf(fields));
}

TEST(IndexSuperblock, RecordCountBounds) {
  SuperblockSpec fields;
  fields.records = 16'384'000;  // N x 32 = 0x1F400000
  const auto largest = layoutOf(fields);
  ASSERT_TRUE(largest);
  EXPECT_EQ(largest->indexLength, 0x1F400000u);
  for (const std::uint32_t bad : {16'384'001u, 0u, 0x8000000u, 0xFFFFFFFFu}) {
    fields.records = bad;
    EXPECT_FALSE(layoutOf(fields)) << bad;
  }
}

TEST(IndexSuperblock, MagicMustMatchAndShortSectorsAreRefused) {
  SuperblockSpec fields;
  auto sector = superblock(fields);
  EXPECT_FALSE(readIndexSuperblock(sector, 0, 0x789ABCDE));
  EXPECT_TRUE(readIndexSuperblock(sector, 0, 0x55AA55AA));
  sector.resize(400);
  EXPECT_FALSE(readIndexSuperblock(sector, 0, 0x55AA55AA));
}

}  // namespace
}  // namespace norvale::test
