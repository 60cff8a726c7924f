#pragma once
// Brand 17: a chain of packets, each with a 128-byte header framed by the markers "liu " and
// " uil" and a capture time in seconds since 1970 on the recorder's own clock (no time zone).
// Quick and deep mode run the same scan.
#include <cstdint>
#include <optional>

#include "parsers/brand_parser.h"
#include "parsers/run_accumulator.h"

namespace norvale {

namespace marker_packet {
inline constexpr std::size_t kHeadMarkerAt = 0;
inline constexpr std::size_t kChannelAt = 44;  // 0-based
inline constexpr std::size_t kLengthAt = 60;   // payload length L
inline constexpr std::size_t kTimeAt = 72;
inline constexpr std::size_t kTailMarkerAt = 124;
inline constexpr std::size_t kKindByteAt = 132;  // payload byte 4: bit 0x40 marks a key packet
inline constexpr std::size_t kTestedBytes = kKindByteAt + 1;
inline constexpr std::uint32_t kHeaderBytes = 128;
inline constexpr std::uint32_t kMinPayload = 5;
inline constexpr std::uint32_t kMaxPayload = 0x200000;
inline constexpr std::uint64_t kMinRunLength = 256;
}  // namespace marker_packet

// The recorder's Gregorian calendar of a capture time, without any time-zone shift.
CalendarTime recorderCalendar(std::uint32_t seconds);
// Time convention of brand 17: that calendar ("未知日期" for 0), files joined within an hour.
TimeConvention recorderClockConvention();

class MarkerPacketDecoder final : public PacketDecoder {
 public:
  std::optional<Packet> decode(const PacketWindow& window, DeviceHandle& device) const override;
  std::size_t nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const override;
};
const PacketDecoder& markerPacketDecoder();

class MarkerPacketParser final : public BrandParser {
 public:
  MarkerPacketParser() : BrandParser(markerPacketDecoder()) {}

  static TimeConvention timeConvention(std::uint8_t parseMode);
  static constexpr const char* kFileExtension = "dat";

 protected:
  void scanQuick() override { scanDeep(); }
  void scanDeep() override;
};

}  // namespace norvale
