#pragma once
// Brand 8: a flat sequence of packets, each a 16-byte header and an H.264 payload, with the
// recording time in the recorder's own bit order (year in the low bits). Quick and deep mode run
// the same scan; consecutive packets of one channel with following times become one segment.
#include <optional>

#include "parsers/brand_parser.h"
#include "format/packed_time.h"
#include "parsers/run_accumulator.h"

namespace norvale {

namespace reversed_time {
inline constexpr std::size_t kChannelAt = 2;
inline constexpr std::size_t kPayloadAt = 4;
inline constexpr std::size_t kTimeAt = 12;
inline constexpr std::size_t kStartCodeAt = 16;
inline constexpr std::size_t kKindByteAt = 20;
inline constexpr std::size_t kHeaderBytes = 21;
inline constexpr std::uint32_t kHeaderLength = 16;
inline constexpr std::uint32_t kMinPayload = 5;
inline constexpr std::uint32_t kMaxPayload = 0x63FFFFF;
}  // namespace reversed_time

// The recorder's time (year 0-5, month 6-9, day 10-14, hour 15-19, minute 20-25, second 26-31)
// with each field moved to its PackedTime place.
PackedTime packedFromReversed(std::uint32_t recorderTime);

class ReversedTimePacketDecoder final : public PacketDecoder {
 public:
  std::optional<Packet> decode(const PacketWindow& window, DeviceHandle& device) const override;
  std::size_t nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const override;
};
const PacketDecoder& reversedTimePacketDecoder();

class ReversedTimePacketParser final : public BrandParser {
 public:
  ReversedTimePacketParser() : BrandParser(reversedTimePacketDecoder()) {}
  static TimeConvention timeConvention(std::uint8_t) { return packedTimeConvention(); }
  static constexpr const char* kFileExtension = "h264";

 protected:
  void scanQuick() override { scanPackets(); }
  void scanDeep() override { scanPackets(); }

 private:
  void scanPackets();
};

}  // namespace norvale
