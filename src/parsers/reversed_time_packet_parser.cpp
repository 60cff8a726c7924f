#include "parsers/coded_unit.h"
#include "parsers/reversed_time_packet_parser.h"

#include <cstring>

#include "base/byte_reader.h"
#include "parsers/pattern_search.h"

namespace norvale {

using namespace reversed_time;

PackedTime packedFromReversed(std::uint32_t t) {
  const std::uint32_t year = t & 0x3F;
  const std::uint32_t month = (t >> 6) & 0xF;
  const std::uint32_t day = (t >> 10) & 0x1F;
  const std::uint32_t hour = (t >> 15) & 0x1F;
  const std::uint32_t minute = (t >> 20) & 0x3F;
  const std::uint32_t second = (t >> 26) & 0x3F;
  return PackedTime{(year << 26) | (month << 22) | (day << 17) | (hour << 12) | (minute << 6) | second};
}

const PacketDecoder& reversedTimePacketDecoder() {
  static const ReversedTimePacketDecoder decoder;
  return decoder;
}

std::optional<Packet> ReversedTimePacketDecoder::decode(const PacketWindow& w, DeviceHandle& device) const {
  if (w.available < kHeaderBytes) return std::nullopt;
  const std::uint8_t* p = w.data;
  const PackedTime time = packedFromReversed(le32(p + kTimeAt));
  if (std::memcmp(p + kStartCodeAt, kStartCode, 4) != 0 || !time.plausible(w.years)) return std::nullopt;
  const std::uint32_t payload = le32(p + kPayloadAt);
  if (payload < kMinPayload || payload > kMaxPayload) return std::nullopt;
  const std::uint64_t length = static_cast<std::uint64_t>(payload) + kHeaderLength;
  // The next packet's start code, 16 bytes into it.
  if (!followerHasMagic(w, device, length + kStartCodeAt, kStartCode)) return std::nullopt;
  Packet packet;
  packet.kind = (p[kKindByteAt] & 0x40) ? SegmentKind::Key : SegmentKind::Other;
  packet.channel = static_cast<std::uint8_t>(p[kChannelAt] + 1);
  packet.time = time.raw;
  packet.dataOffset = w.deviceOffset;
  packet.dataLength = length;
  packet.advance = length;
  return packet;
}

// Every packet has its start code 16 bytes in: search for the code's last byte.
std::size_t ReversedTimePacketDecoder::nextCandidate(const std::uint8_t* buffer, std::size_t from,
                                                    std::size_t last) const {
  return findPattern(buffer, from, last, kStartCode, 4, kStartCodeAt, 3);
}

void ReversedTimePacketParser::scanPackets() {
  RunRules rules;
  rules.breakRule = RunBreakRule::ChannelAndGap;
  rules.continues = &packedRunContinues;
  startRun(rules, [this](const SegmentRecord& run) {
    addRecord(run, storeKey(run.channel, PackedTime{run.startTime}.hourCode()));
  });
  linearBlockScan();
}

}  // namespace norvale
