#include "parsers/multi_brand_parser.h"

#include <cstring>

#include "parsers/local_time.h"
#include "storage/byte_reader.h"

namespace norvale {

using namespace multi_brand;

namespace {
constexpr std::uint8_t kStartCode[4] = {0, 0, 0, 1};
}

TimeConvention MultiBrandParser::timeConvention(std::uint8_t) { return localEpochConvention(); }
TimeConvention MultiBrandParser::timeConvention() const { return localEpochConvention(); }

// Every packet has 00 00 00 01 at offset 43, so only positions 43 bytes before such a run can
// pass; memchr for its last byte is far faster than testing every position.
std::size_t MultiBrandParser::nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const {
  const std::uint8_t* at = buffer + from + kStartCodeAt + 3;
  const std::uint8_t* const stop = buffer + last + kStartCodeAt + 4;
  while (at < stop) {
    const auto* one = static_cast<const std::uint8_t*>(std::memchr(at, 1, static_cast<std::size_t>(stop - at)));
    if (!one) break;
    if (one[-1] == 0 && one[-2] == 0 && one[-3] == 0)
      return static_cast<std::size_t>(one - buffer) - (kStartCodeAt + 3);
    at = one + 1;
  }
  return last + 1;
}

std::optional<Packet> MultiBrandParser::testPacket(const PacketWindow& w, DeviceHandle& device) {
  if (w.available < kHeaderBytes) return std::nullopt;
  const std::uint8_t* p = w.data;
  if (std::memcmp(p + kStartCodeAt, kStartCode, 4) != 0) return std::nullopt;
  const std::uint32_t time = le32(p + kTimeAt);
  if (!plausibleLocalEpoch(time)) return std::nullopt;
  const std::uint32_t payload = le32(p + kSizeAt);
  if (payload < kMinPayload || payload > kMaxPayload) return std::nullopt;
  Packet packet;
  packet.kind = (std::memcmp(p + kDataAt, kStartCode, 4) == 0 && (p[kKindByteAt] & 0x40))
                    ? SegmentKind::Key
                    : SegmentKind::Other;
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
