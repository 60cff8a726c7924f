#pragma once
// Brand 5: disks filled in 256 MiB sections from 128 KiB in. A section begins with a 2 MiB index
// area (a header and 16-byte piece entries) followed by the pieces in 4 KiB units. Quick mode
// reads the index areas; deep mode carves the packets of every section after its time markers.
// Each section becomes one file in both modes. Times are local epoch seconds.
#include <optional>
#include <vector>

#include "parsers/brand_parser.h"

namespace norvale {

namespace section_index {
inline constexpr std::uint64_t kFirstSection = 0x20000;
inline constexpr std::uint64_t kSectionSize = 0x10000000;
inline constexpr std::size_t kIndexBytes = 0x200000;
inline constexpr std::uint16_t kHeaderMagic = 0x5050;
inline constexpr std::size_t kChannelAt = 12;
inline constexpr std::size_t kFirstTimeAt = 16;
inline constexpr std::size_t kLastTimeAt = 20;
inline constexpr std::size_t kEntriesAt = 4096;
inline constexpr std::size_t kEntryBytes = 16;
inline constexpr std::size_t kEntryTimeAt = 0;
inline constexpr std::size_t kEntrySizeAt = 8;
inline constexpr std::size_t kEntryStartAt = 10;
inline constexpr std::uint64_t kUnit = 4096;
inline constexpr std::uint32_t kMinPieceStart = 512;  // units: the pieces follow the index area
inline constexpr std::uint64_t kMaxSectionTotal = 0x0FFFFFFF;
inline constexpr std::size_t kFillAt = 504;            // in the piece's last sector
inline constexpr std::uint32_t kPieceHead = 8;         // bytes before the video
// Deep mode.
inline constexpr std::uint32_t kMarkerMagic = 0x2006;
inline constexpr std::size_t kMarkerTimeAt = 4;
inline constexpr std::size_t kMarkerTailAt = 12;
inline constexpr std::uint16_t kMarkerTail = 0x1357;
inline constexpr std::size_t kMarkerBytes = 14;
inline constexpr std::size_t kMarkerAdvance = 8;
inline constexpr std::uint32_t kPacketMagic = 0x1358;
inline constexpr std::uint32_t kPacketAltMagic = 0x1357;  // at offset 4
inline constexpr std::size_t kPacketLengthAt = 22;
inline constexpr std::size_t kPacketStartCodeAt = 28;
inline constexpr std::size_t kPacketKindByteAt = 32;
inline constexpr std::size_t kPacketHeaderBytes = 33;
inline constexpr std::uint64_t kPacketOverhead = 28;
}  // namespace section_index

class SectionIndexDecoder final : public PacketDecoder {
 public:
  std::optional<Packet> decode(const PacketWindow& window, DeviceHandle& device) const override;
};
const PacketDecoder& sectionIndexDecoder();

class SectionIndexParser final : public BrandParser {
 public:
  SectionIndexParser() : BrandParser(sectionIndexDecoder()) {}
  static TimeConvention timeConvention(std::uint8_t parseMode);
  static constexpr const char* kFileExtension = "h264";

  // The time of a section marker at the window, or none (markers stand on sector boundaries).
  static std::optional<std::uint32_t> markerTime(const PacketWindow& window);
  // Sections of the last quick scan whose piece entries were walked (entries all zero are not).
  std::uint64_t indexWalks() const { return m_indexWalks; }

 protected:
  // Both modes form one file per section while scanning.
  void scanQuick() override;
  void scanDeep() override;

 private:
  void scanSection(std::uint64_t start, std::uint64_t end, std::vector<std::uint8_t>& buffer);
  void appendPiece(const SegmentRecord& record);
  void closeRun();
  void formSectionFile();
  // The section's pieces: those of valid entries, until their total passes the section size.
  void takePieces(std::uint64_t section, const std::vector<std::uint8_t>& index);

  SegmentRecord m_run{};
  std::uint32_t m_time = 0;
  bool m_markerSeen = false;
  std::uint64_t m_indexWalks = 0;
};

}  // namespace norvale
