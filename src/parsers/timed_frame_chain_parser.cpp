#include "parsers/coded_unit.h"
#include "parsers/timed_frame_chain_parser.h"

#include <cstring>

#include "base/byte_reader.h"
#include "format/local_time.h"
#include "parsers/pattern_search.h"

namespace norvale {

using namespace timed_frame;

namespace {
constexpr std::uint8_t kHbms[4] = {'H', 'B', 'M', 'S'};

constexpr TimedFrameBrand kBrands[] = {
    {6, TimedFrameFormat::MarkedHeader, 0, false},
    {12, TimedFrameFormat::MicroTime, 1024, true},
    {16, TimedFrameFormat::Pes, 1024, false},
};

// Marked header (brand 6): magic, header length H, twice the payload length, capture time.
namespace hbms {
constexpr std::size_t kHeaderLengthAt = 4;
constexpr std::size_t kDoublePayloadAt = 5;
constexpr std::size_t kTimeAt = 12;
constexpr std::size_t kMarkerAt = 24;       // "CH"
constexpr std::size_t kMarkerDigitsAt = 26; // channel - 1, two ASCII characters
constexpr std::size_t kMarkerBytes = 28;
constexpr std::uint32_t kMinHeader = 20;
}  // namespace hbms

// PES frame (brand 16): start code, stream id, big-endian length, big-endian time at 27.
namespace pes {
constexpr std::size_t kStreamIdAt = 3;
constexpr std::size_t kLengthAt = 4;
constexpr std::size_t kTimeAt = 27;
constexpr std::size_t kStartCodeAt = 48;
constexpr std::size_t kKindByteAt = 52;
constexpr std::size_t kHeaderBytes = 53;
constexpr std::uint32_t kMinLength = 53;  // a length of 52 is no frame
constexpr std::uint64_t kOverhead = 6;
bool streamId(std::uint8_t id) { return (id & 0xE0) == 0xE0; }
}  // namespace pes

// Microsecond-time frame (brand 12): 64-bit capture time, payload length, start code at 32.
namespace micro {
constexpr std::size_t kTimeAt = 0;
constexpr std::size_t kPayloadAt = 8;
constexpr std::size_t kStartCodeAt = 32;
constexpr std::size_t kKindByteAt = 36;
constexpr std::size_t kHeaderBytes = 37;
constexpr std::uint32_t kMinPayload = 9;
constexpr std::uint64_t kOverhead = 32;
std::uint32_t epochOf(const std::uint8_t* p) { return static_cast<std::uint32_t>(le64(p) / 1'000'000u); }
}  // namespace micro


}  // namespace

const TimedFrameBrand* timedFrameBrand(std::uint8_t brand) {
  for (const auto& b : kBrands)
    if (b.brand == brand) return &b;
  return nullptr;
}

const PacketDecoder& timedFrameDecoder(std::uint8_t brand) {
  static const TimedFrameDecoder kDecoders[] = {TimedFrameDecoder(TimedFrameFormat::MarkedHeader),
                                                    TimedFrameDecoder(TimedFrameFormat::Pes),
                                                    TimedFrameDecoder(TimedFrameFormat::MicroTime)};
  const TimedFrameBrand* known = timedFrameBrand(brand);
  return kDecoders[static_cast<int>(known ? known->format : kBrands[0].format)];
}

TimedFrameChainParser::TimedFrameChainParser(std::uint8_t brand) : BrandParser(timedFrameDecoder(brand)) {
  const TimedFrameBrand* known = timedFrameBrand(brand);
  m_brand = known ? *known : kBrands[0];
}

TimeConvention TimedFrameChainParser::timeConvention(std::uint8_t) { return localEpochConvention(); }

bool TimedFrameChainParser::epochGapContinues(const TimeZone& zone, std::uint32_t a, std::uint32_t b) {
  const auto later = localCalendar(zone, a);
  const auto earlier = localCalendar(zone, b);
  if (!later || !earlier) return false;
  const std::int64_t d = twelveDayMonthSeconds(*later, *earlier);
  return d >= 0 && d <= 59;
}

std::optional<std::uint32_t> TimedFrameChainParser::markerChannel(const PacketWindow& w) {
  if (w.available < hbms::kMarkerBytes) return std::nullopt;
  const std::uint8_t* p = w.data;
  if (std::memcmp(p, kHbms, 4) != 0 || !plausibleLocalEpoch(zoneOrWorkstation(w.zone), w.years, le32(p + hbms::kTimeAt)))
    return std::nullopt;
  if (p[hbms::kMarkerAt] != 'C' || p[hbms::kMarkerAt + 1] != 'H') return std::nullopt;
  // The two characters read as C's atoi reads text: blanks, a sign, then digits.
  const std::uint8_t* c = p + hbms::kMarkerDigitsAt;
  const std::uint8_t* const end = c + 2;
  while (c < end && (*c == ' ' || (*c >= '\t' && *c <= '\r'))) ++c;
  bool negative = false;
  if (c < end && (*c == '+' || *c == '-')) negative = *c++ == '-';
  int n = 0;
  while (c < end && *c >= '0' && *c <= '9') n = n * 10 + (*c++ - '0');
  if (negative) n = -n;
  if (n + 1 < 1) return std::nullopt;
  return static_cast<std::uint32_t>(n + 1);
}

namespace {
std::optional<Packet> testMarkedHeader(const PacketWindow& w, DeviceHandle& device);
std::optional<Packet> testPes(const PacketWindow& w, DeviceHandle& device);
std::optional<Packet> testMicroTime(const PacketWindow& w, DeviceHandle& device);
}  // namespace

std::optional<Packet> TimedFrameDecoder::decode(const PacketWindow& window, DeviceHandle& device) const {
  switch (m_format) {
    case TimedFrameFormat::MarkedHeader: return testMarkedHeader(window, device);
    case TimedFrameFormat::Pes: return testPes(window, device);
    case TimedFrameFormat::MicroTime: return testMicroTime(window, device);
  }
  return std::nullopt;
}

namespace {
std::optional<Packet> testMarkedHeader(const PacketWindow& w, DeviceHandle& device) {
  if (w.available < hbms::kMarkerBytes) return std::nullopt;
  const std::uint8_t* p = w.data;
  if (std::memcmp(p, kHbms, 4) != 0) return std::nullopt;
  const std::uint32_t time = le32(p + hbms::kTimeAt);
  if (!plausibleLocalEpoch(zoneOrWorkstation(w.zone), w.years, time)) return std::nullopt;
  const std::uint32_t header = p[hbms::kHeaderLengthAt];
  const std::uint32_t payload = le16(p + hbms::kDoublePayloadAt) / 2u;
  if (header < hbms::kMinHeader || payload <= 4) return std::nullopt;
  // The coded unit behind the header decides the kind; without the bytes at hand it is none.
  if (w.available < header + 5u) return std::nullopt;
  const std::uint64_t length = header + payload;
  if (!followerHasMagic(w, device, length, kHbms)) return std::nullopt;
  Packet packet;
  packet.kind = codedUnitKind(p + header);
  packet.channel = 0;  // the scan knows it from the last marker
  packet.time = time;
  packet.dataOffset = w.deviceOffset;
  packet.dataLength = length;
  packet.advance = length;
  return packet;
}

std::optional<Packet> testPes(const PacketWindow& w, DeviceHandle& device) {
  if (w.available < pes::kHeaderBytes) return std::nullopt;
  const std::uint8_t* p = w.data;
  if (p[0] != 0 || p[1] != 0 || p[2] != 1 || !pes::streamId(p[pes::kStreamIdAt])) return std::nullopt;
  const std::uint32_t time = be32(p + pes::kTimeAt);
  if (!plausibleLocalEpoch(zoneOrWorkstation(w.zone), w.years, time)) return std::nullopt;
  if (std::memcmp(p + pes::kStartCodeAt, kStartCode, 4) != 0) return std::nullopt;
  const std::uint32_t declared = be16(p + pes::kLengthAt);
  if (declared < pes::kMinLength) return std::nullopt;
  const std::uint64_t length = declared + pes::kOverhead;
  std::uint8_t follower[4];
  if (followerBytes(w, device, length, follower) &&
      (follower[0] != 0 || follower[1] != 0 || follower[2] != 1 || !pes::streamId(follower[3])))
    return std::nullopt;
  Packet packet;
  packet.kind = (p[pes::kKindByteAt] & 0x40) ? SegmentKind::Key : SegmentKind::Other;
  packet.channel = (p[pes::kStreamIdAt] & 0x0Fu) + 1u;
  packet.time = time;
  packet.dataOffset = w.deviceOffset;
  packet.dataLength = length;
  packet.advance = length;
  return packet;
}

std::optional<Packet> testMicroTime(const PacketWindow& w, DeviceHandle& device) {
  if (w.available < micro::kHeaderBytes) return std::nullopt;
  const std::uint8_t* p = w.data;
  const TimeZone& zone = zoneOrWorkstation(w.zone);
  const std::uint32_t time = micro::epochOf(p + micro::kTimeAt);
  if (!plausibleLocalEpoch(zone, w.years, time)) return std::nullopt;
  const std::uint32_t payload = le32(p + micro::kPayloadAt);
  if (payload < micro::kMinPayload || payload > kMaxMicroPayload) return std::nullopt;
  if (std::memcmp(p + micro::kStartCodeAt, kStartCode, 4) != 0) return std::nullopt;
  const std::uint64_t length = (payload + micro::kOverhead + 7) / 8 * 8;
  std::uint8_t follower[8];
  if (followerBytes(w, device, length, follower) && !plausibleLocalEpoch(zone, w.years, micro::epochOf(follower)))
    return std::nullopt;
  Packet packet;
  packet.kind = (p[micro::kKindByteAt] & 0x40) ? SegmentKind::Key : SegmentKind::Other;
  packet.channel = 1;
  packet.time = time;
  packet.dataOffset = w.deviceOffset;
  packet.dataLength = length;
  packet.advance = length;
  return packet;
}

}  // namespace

// Only positions where the format's fixed bytes stand can hold a frame (or, for brand 6, a
// channel marker, which is a marked header too).
std::size_t TimedFrameDecoder::nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const {
  switch (m_format) {
    case TimedFrameFormat::MarkedHeader: return findPattern(buffer, from, last, kHbms, 4, 0, 0);
    case TimedFrameFormat::Pes: {
      static constexpr std::uint8_t kPesStart[3] = {0, 0, 1};
      return findPattern(buffer, from, last, kPesStart, 3, 0, 2);
    }
    case TimedFrameFormat::MicroTime: return findPattern(buffer, from, last, kStartCode, 4, micro::kStartCodeAt, 3);
  }
  return from;
}

void TimedFrameChainParser::beforePacketTest(const PacketWindow& window) {
  RunAccumulator* run = openRun();
  if (m_brand.format != TimedFrameFormat::MarkedHeader || !run) return;
  const auto channel = markerChannel(window);
  if (!channel || *channel == m_markerChannel) return;
  // A marker of another channel ends the open run; frames from here on belong to the new one.
  run->reject();
  m_markerChannel = *channel;
}

void TimedFrameChainParser::scanFrames() {
  m_markerChannel = 0;
  RunRules rules;
  rules.breakRule = RunBreakRule::ChannelAndGap;
  rules.keyPacketSetsStart = m_brand.keyFrameSetsStart;
  rules.minimumLength = m_brand.minimumRunLength;
  rules.continues = &TimedFrameChainParser::epochGapContinues;
  rules.zone = &zone();
  startRun(rules, [this](const SegmentRecord& run) {
    addRecord(run, storeKey(run.channel, localHourCode(zone(), run.startTime)));
  });
  linearBlockScan();
}

void TimedFrameChainParser::onPacket(const Packet& packet) {
  if (m_brand.format != TimedFrameFormat::MarkedHeader) return BrandParser::onPacket(packet);
  Packet marked = packet;
  marked.channel = m_markerChannel;
  BrandParser::onPacket(marked);
}

}  // namespace norvale
