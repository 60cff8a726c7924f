#pragma once
// Brands 2, 7, 9, 10 and 11: recorders that split the disk into volumes listed in a volume table,
// each with a superblock, an index table and a data area, and that write the video as a chain of
// frames with a magic in front and a tail magic plus the repeated length at the end. The brands
// differ only in the constants of kVolumeTableBrands.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "parsers/index_table.h"
#include "parsers/run_accumulator.h"

namespace norvale {

namespace volume_table {
inline constexpr std::size_t kTableBytes = 512;
inline constexpr std::uint32_t kSignature = 0x55AA55AA;
inline constexpr std::size_t kEntryFirstSectorAt = 0x30;
inline constexpr std::size_t kEntrySectorCountAt = 0x38;
inline constexpr std::uint64_t kSuperblockSector = 34;       // inside the volume
inline constexpr std::uint64_t kMinVolumeSectors = 0x1400000;  // 10 GiB
inline constexpr std::uint64_t kDefaultSuperblockOffset = kSuperblockSector * 512;

// Index record fields.
inline constexpr std::size_t kRecordKindAt = 0x00;
inline constexpr std::size_t kRecordChannelAt = 0x01;
inline constexpr std::size_t kRecordStartAt = 0x04;
inline constexpr std::size_t kRecordEndAt = 0x08;
inline constexpr std::size_t kRecordNumbersAt[3] = {0x0C, 0x14, 0x18};

// Frame fields.
inline constexpr std::size_t kFrameTypeAt = 4;
inline constexpr std::size_t kFrameChannelAt = 6;
inline constexpr std::size_t kFrameLengthAt = 12;
inline constexpr std::size_t kFrameTimeAt = 16;
inline constexpr std::size_t kFrameHeaderBytes = 20;
inline constexpr std::size_t kFrameTailBytes = 8;  // tail magic and the repeated length
inline constexpr std::uint32_t kMaxFrameLength = 0x200000;
inline constexpr std::uint64_t kMinRunLength = 1024;  // runs of at most this many bytes are dropped
}  // namespace volume_table

// The per-brand constants of the design.
struct VolumeTableBrand {
  std::uint8_t brand = 0;
  std::uint64_t tableOffset = 0;                 // device byte of the volume table
  std::size_t signatureAt = 0;                   // in the table
  std::array<std::size_t, 4> entriesAt{};       // 64-byte volume entries in the table
  std::size_t superblockSectorAt = 0;            // in an entry
  std::array<std::uint8_t, 4> frameMagic{};
  std::array<std::uint8_t, 4> tailMagic{};
};

inline constexpr std::array<std::uint8_t, 4> magic4(const char (&text)[5]) {
  return {static_cast<std::uint8_t>(text[0]), static_cast<std::uint8_t>(text[1]), static_cast<std::uint8_t>(text[2]),
          static_cast<std::uint8_t>(text[3])};
}

inline constexpr VolumeTableBrand kVolumeTableBrands[] = {
    {2, 0x3C00, 0x134, {0x34, 0x74, 0xB4, 0xF4}, 0x14, magic4("DHAV"), magic4("dhav")},
    {7, 0x600, 0x110, {0x10, 0x50, 0x90, 0xD0}, 0x18, magic4("HYAV"), magic4("hyav")},
    {9, 0x600, 0x110, {0x10, 0x50, 0x90, 0xD0}, 0x18, magic4("ZLAV"), magic4("zlav")},
    {10, 0x3C00, 0x134, {0x34, 0x74, 0xB4, 0xF4}, 0x14, magic4("ZLAV"), magic4("zlav")},
    {11, 0x3C00, 0x134, {0x34, 0x74, 0xB4, 0xF4}, 0x14, magic4("DHAV"), magic4("dhav")},
};

// The constants of a brand of this design; null for other brands.
constexpr const VolumeTableBrand* findVolumeTableBrand(std::uint8_t brand) {
  for (const auto& row : kVolumeTableBrands)
    if (row.brand == brand) return &row;
  return nullptr;
}
// Compares numbers only, so that it stays a constant expression under every compiler option.
constexpr bool hasVolumeTableBrand(std::uint8_t brand) {
  for (const auto& row : kVolumeTableBrands)
    if (row.brand == brand) return true;
  return false;
}

// One recorder volume: all byte values on the device.
struct RecorderVolume {
  std::uint64_t superblockOffset = 0;  // from the volume start
  std::uint64_t start = 0;
  std::uint64_t size = 0;
  bool operator==(const RecorderVolume&) const = default;
};

class VolumeTableDecoder final : public PacketDecoder {
 public:
  explicit constexpr VolumeTableDecoder(const VolumeTableBrand& brand) : m_brand(brand) {}
  std::optional<Packet> decode(const PacketWindow& window, DeviceHandle& device) const override;
  std::size_t nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const override;

 private:
  const VolumeTableBrand& m_brand;
};
// The decoder of a brand of this design (brand 2's for any other id).
const PacketDecoder& volumeTableDecoder(std::uint8_t brand);

class VolumeTableParser : public IndexTableParser {
 public:
  // brand must be a brand of kVolumeTableBrands.
  explicit VolumeTableParser(std::uint8_t brand);

  static TimeConvention timeConvention(std::uint8_t parseMode);
  std::uint32_t hourCode(std::uint32_t time) const override;
  static constexpr const char* kFileExtension = "dat";

  // Reads the volume table into the volume list (the default volume when there is no usable
  // table); leaves it empty, and says so, when the table cannot be read.
  void buildVolumes(DeviceHandle& source, ScanSink& sink);
  const std::vector<RecorderVolume>& volumes() const { return m_volumes; }

 protected:
  void scanQuick() override;
  void scanDeep() override;
  void clearLists() override { m_volumes.clear(); }
  std::optional<IndexEntry> decodeIndexRecord(const std::uint8_t* record, std::uint32_t recordCount) const override;

 private:
  void readVolumeIndex(const RecorderVolume& volume);

  const VolumeTableBrand& m_brand;
  std::vector<RecorderVolume> m_volumes;
};

// One registered parser per brand id, so that each carries its own constants.
template <std::uint8_t Brand>
class VolumeTableBrandParser final : public VolumeTableParser {
  static_assert(hasVolumeTableBrand(Brand), "no volume-table constants for this brand");

 public:
  VolumeTableBrandParser() : VolumeTableParser(Brand) {}
};

}  // namespace norvale
