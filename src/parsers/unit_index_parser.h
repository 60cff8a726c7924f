#pragma once
// Brand 4: disks divided into 512 MiB units. A unit in use starts with a unit header and holds
// index headers, each listing up to 2446 pieces of one channel anywhere on the disk; quick mode
// makes one file per index header. Deep mode carves the chain of "JVS " packets, which carry no
// time. Times are seconds on the plain calendar with no time zone.
#include <optional>
#include <vector>

#include "parsers/brand_parser.h"
#include "parsers/run_accumulator.h"

namespace norvale {

namespace unit_index {
inline constexpr std::uint64_t kUnitSize = 0x20000000;
inline constexpr std::size_t kUnitProbeBytes = 0x100000;
inline constexpr std::size_t kSecondMagicAt = 0x14000;
inline constexpr std::size_t kUnitVersionAt = 0x14004;
inline constexpr std::uint8_t kUnitVersion = 4;
// Index headers lie on 512-byte boundaries; one with all its entries fits in 0xC000 bytes.
inline constexpr std::size_t kIndexWalkBytes = 0x100000;
inline constexpr std::size_t kIndexSpan = 0xC000;
inline constexpr std::size_t kHeaderStride = 512;
inline constexpr std::uint32_t kIndexMagic = 102;
inline constexpr std::size_t kDurationAt = 68;
inline constexpr std::size_t kChannelAt = 78;
inline constexpr std::size_t kStartTimeAt = 88;
inline constexpr std::size_t kCountAt = 224;
inline constexpr std::size_t kEntriesAt = 228;
inline constexpr std::size_t kEntryBytes = 20;
inline constexpr std::uint16_t kMaxEntries = 2446;
inline constexpr std::size_t kEntryUnitAt = 0;
inline constexpr std::size_t kEntryHeadAt = 2;
inline constexpr std::size_t kEntryOffsetAt = 8;
inline constexpr std::size_t kEntryEndAt = 16;
// Deep-mode packets.
inline constexpr std::size_t kTypeAt = 4;
inline constexpr std::size_t kPayloadAt = 5;  // 24-bit
inline constexpr std::size_t kStartCodeAt = 16;
inline constexpr std::size_t kKindByteAt = 20;
inline constexpr std::size_t kPacketChannelAt = 48;
inline constexpr std::size_t kPacketHeaderBytes = 49;
inline constexpr std::uint64_t kPacketOverhead = 16;
inline constexpr std::uint64_t kChannelPacketSize = 80;
inline constexpr std::uint8_t kChannelPacketType = 8;
inline constexpr std::uint64_t kMinimumRun = 1024;
}  // namespace unit_index


class UnitIndexDecoder final : public PacketDecoder {
 public:
  std::optional<Packet> decode(const PacketWindow& window, DeviceHandle& device) const override;
  std::size_t nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const override;
};
const PacketDecoder& unitIndexDecoder();

class UnitIndexParser final : public BrandParser {
 public:
  UnitIndexParser() : BrandParser(unitIndexDecoder()) {}
  // The plain calendar; a time of 0 has no date.
  static TimeConvention timeConvention(std::uint8_t parseMode);
  static constexpr const char* kFileExtension = "h264";

 protected:
  void scanQuick() override;
  void scanDeep() override;

 private:
  void readUnitIndex(std::uint64_t unit, std::vector<std::uint8_t>& buffer);
  // Appends the pieces of the index header at h and forms their file; false when h holds none.
  bool takeIndexHeader(const std::uint8_t* h);

  std::uint64_t m_deviceSize = 0;
};

}  // namespace norvale
