#include "parsers/coded_unit.h"
#include "parsers/multi_brand_parser.h"

#include <cstring>

#include "base/byte_reader.h"
#include "format/local_time.h"
#include "parsers/pattern_search.h"

namespace norvale {

using namespace multi_brand;

TimeConvention MultiBrandParser::timeConvention(std::uint8_t) { return localEpochConvention(); }

const PacketDecoder& multiBrandDecoder() {
  static const MultiBrandDecoder decoder;
  return decoder;
}

// Every packet has 00 00 00 01 at offset 43: only positions 43 bytes before one can pass.
std::size_t MultiBrandDecoder::nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const {
  return findPattern(buffer, from, last, kStartCode, 4, kStartCodeAt, 3);
}

std::optional<Packet> MultiBrandDecoder::decode(const PacketWindow& w, DeviceHandle& device) const {
  if (w.available < kHeaderBytes) return std::nullopt;
  const std::uint8_t* p = w.data;
  if (std::memcmp(p + kStartCodeAt, kStartCode, 4) != 0) return std::nullopt;
  const std::uint32_t time = le32(p + kTimeAt);
  if (!plausibleLocalEpoch(zoneOrWorkstation(w.zone), w.years, time)) return std::nullopt;
  const std::uint32_t payload = le32(p + kSizeAt);
  if (payload < kMinPayload || payload > kMaxPayload) return std::nullopt;
  Packet packet;
  packet.kind = codedUnitKind(p + kDataAt);
  const std::uint64_t whole = static_cast<std::uint64_t>(payload) + kOverhead;
  if (!followerHasMagic(w, device, whole + kStartCodeAt, kStartCode)) return std::nullopt;
  packet.channel = static_cast<std::uint8_t>(p[kChannelAt] + 1);
  packet.time = time;
  packet.dataOffset = w.deviceOffset + kDataAt;
  packet.dataLength = payload - 22;
  packet.advance = whole;
  return packet;
}

}  // namespace norvale
