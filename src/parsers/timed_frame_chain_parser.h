#pragma once
// Brands 6, 12 and 16: chains of frames written straight on the raw device, each with its capture
// time in seconds since 1970 (local time). No index: quick and deep mode run the same scan, and
// frames that lie back to back with continuous times become one segment.
#include <optional>

#include "parsers/brand_parser.h"
#include "parsers/run_accumulator.h"

namespace norvale {

enum class TimedFrameFormat {
  MarkedHeader,  // brand 6: "HBMS" headers, channel set by in-stream channel markers
  Pes,           // brand 16: PES packets with a big-endian time, channel from the stream id
  MicroTime,     // brand 12: microsecond capture time, one channel
};

// What a brand of this design sets: its frame format and the run rules.
struct TimedFrameBrand {
  std::uint8_t brand = 0;
  TimedFrameFormat format = TimedFrameFormat::MarkedHeader;
  std::uint64_t minimumRunLength = 0;  // runs of this many bytes or fewer are dropped
  bool keyFrameSetsStart = false;      // the run's start is the time of its first key frame
};

// The brands served by this design; null for any other id.
const TimedFrameBrand* timedFrameBrand(std::uint8_t brand);

namespace timed_frame {
inline constexpr std::uint32_t kMaxMicroPayload = 0x200000;
}  // namespace timed_frame

class TimedFrameDecoder final : public PacketDecoder {
 public:
  explicit constexpr TimedFrameDecoder(TimedFrameFormat format) : m_format(format) {}
  // Brand 6 frames name no channel (0): the scan takes it from the last channel marker.
  std::optional<Packet> decode(const PacketWindow& window, DeviceHandle& device) const override;
  std::size_t nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const override;

 private:
  TimedFrameFormat m_format;
};
// The decoder of a brand of this design (brand 6's for any other id).
const PacketDecoder& timedFrameDecoder(std::uint8_t brand);

class TimedFrameChainParser final : public BrandParser {
 public:
  explicit TimedFrameChainParser(std::uint8_t brand);
  static TimeConvention timeConvention(std::uint8_t parseMode);
  static constexpr const char* kFileExtension = "h264";

  // Brand 6: the channel a marker header names (bytes 24..27 "CH" and the channel - 1 in
  // decimal), or none.
  static std::optional<std::uint32_t> markerChannel(const PacketWindow& window);
  // Does frame time a continue a run that ended at b (0..59 s in local time, 12-day months)?
  static bool epochGapContinues(const TimeZone& zone, std::uint32_t a, std::uint32_t b);

 protected:
  void scanQuick() override { scanFrames(); }
  void scanDeep() override { scanFrames(); }
  void onPacket(const Packet& packet) override;
  void beforePacketTest(const PacketWindow& window) override;
  // Brand 6's channel comes from the last marker the walk passed, seen at every tested position.
  bool walksInChunks() const override { return m_brand.format != TimedFrameFormat::MarkedHeader; }
  bool plainOnPacket() const override { return false; }
  // Brand 6's frames take the channel of the last marker, which may lie before the open run.
  bool checkpointsMidScan() const override { return m_brand.format != TimedFrameFormat::MarkedHeader; }

 private:
  void scanFrames();

  TimedFrameBrand m_brand;
  std::uint32_t m_markerChannel = 0;  // brand 6: channel of the last marker, kept across runs
};

}  // namespace norvale
