#pragma once
// Brands 13, 14 and 15: frame chains without capture time or channel. Runs of back-to-back frames
// go to the store's arrival list in the order found. Brand 15 has a quick mode of its own that
// reads the recorder's index block in every gigabyte.
#include <optional>

#include "parsers/brand_parser.h"
#include "parsers/run_accumulator.h"

namespace norvale {

enum class UntimedFrameFormat {
  NamedHeader,  // brands 13, 14: "NVR1" frames with a header of a brand-specific length
  LengthPair,   // brand 15: no magic; frame length and payload length agree
};

struct UntimedFrameBrand {
  std::uint8_t brand = 0;
  UntimedFrameFormat format = UntimedFrameFormat::NamedHeader;
  std::uint32_t headerLength = 0;  // named header: bytes before the coded unit
  bool indexBlocks = false;        // quick mode reads the per-gigabyte index blocks
};

const UntimedFrameBrand* untimedFrameBrand(std::uint8_t brand);

namespace untimed_frame {
inline constexpr std::uint32_t kMaxPayload = 0x200000;
inline constexpr std::uint32_t kMinPayload = 5;
// Brand 15 index blocks: 2 MiB at start + 0x41200000 + k GiB, 4095 records of 512 bytes.
inline constexpr std::uint64_t kIndexFirst = 0x41200000;
inline constexpr std::uint64_t kIndexStride = 0x40000000;
inline constexpr std::size_t kIndexBytes = 0x200000;
inline constexpr std::size_t kRecordsAt = 0x220;
inline constexpr std::size_t kRecordStride = 0x200;
inline constexpr std::size_t kRecordCount = 4095;
}  // namespace untimed_frame

class UntimedFrameDecoder final : public PacketDecoder {
 public:
  explicit constexpr UntimedFrameDecoder(UntimedFrameFormat format, std::uint32_t headerLength)
      : m_format(format), m_headerLength(headerLength) {}
  std::optional<Packet> decode(const PacketWindow& window, DeviceHandle& device) const override;
  std::size_t nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const override;

 private:
  std::optional<Packet> decodeNamedHeader(const PacketWindow& window, DeviceHandle& device) const;
  std::optional<Packet> decodeLengthPair(const PacketWindow& window, DeviceHandle& device) const;

  UntimedFrameFormat m_format;
  std::uint32_t m_headerLength;
};
// The decoder of a brand of this design (brand 13's for any other id).
const PacketDecoder& untimedFrameDecoder(std::uint8_t brand);

class UntimedFrameChainParser final : public BrandParser {
 public:
  explicit UntimedFrameChainParser(std::uint8_t brand);
  // Frame runs carry no time and show no date; brand 15's index records carry local epoch times.
  static TimeConvention timeConvention(std::uint8_t parseMode);
  static constexpr const char* kFileExtension = "h264";

  // Brand 15: the segment an index-block record at `record` describes, or none when unusable.
  static std::optional<SegmentRecord> indexRecord(const std::uint8_t* record, std::uint64_t blockOffset,
                                                  const TimeZone& zone, const YearWindow& years);

 protected:
  void scanQuick() override;
  void scanDeep() override { scanFrames(); }

 private:
  void scanFrames();
  void readIndexBlocks();

  UntimedFrameBrand m_brand;
};

}  // namespace norvale
