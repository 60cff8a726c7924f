#pragma once
// Brands 18-48: a flat sequence of framed packets on the raw device, carved packet by packet.
// Quick and deep mode run the same scan.
#include "parsers/brand_parser.h"

namespace norvale {

// Packet layout: channel byte at 0 (0-based), payload size S at 8, capture time (local epoch
// seconds) at 20, start code 00 00 00 01 at 43, kept data from 66 for S - 22 bytes; the next
// packet follows at S + 44.
namespace multi_brand {
inline constexpr std::size_t kChannelAt = 0;
inline constexpr std::size_t kSizeAt = 8;
inline constexpr std::size_t kTimeAt = 20;
inline constexpr std::size_t kStartCodeAt = 43;
inline constexpr std::size_t kDataAt = 66;
inline constexpr std::size_t kKindByteAt = 70;
inline constexpr std::size_t kHeaderBytes = 71;  // what the test reads
inline constexpr std::uint32_t kOverhead = 44;
inline constexpr std::uint32_t kMinPayload = 27;
inline constexpr std::uint32_t kMaxPayload = 104'857'555;
}  // namespace multi_brand

class MultiBrandDecoder final : public PacketDecoder {
 public:
  std::optional<Packet> decode(const PacketWindow& window, DeviceHandle& device) const override;
  std::size_t nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const override;
};
const PacketDecoder& multiBrandDecoder();

class MultiBrandParser : public BrandParser {
 public:
  MultiBrandParser() : BrandParser(multiBrandDecoder()) {}
  static TimeConvention timeConvention(std::uint8_t parseMode);
  static constexpr const char* kFileExtension = "h264";
};

}  // namespace norvale
