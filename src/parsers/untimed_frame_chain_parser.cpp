#include "parsers/coded_unit.h"
#include "parsers/untimed_frame_chain_parser.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/byte_reader.h"
#include "format/local_time.h"
#include "parsers/pattern_search.h"

namespace norvale {

using namespace untimed_frame;

namespace {
constexpr std::uint8_t kNvr1[4] = {'N', 'V', 'R', '1'};

constexpr UntimedFrameBrand kBrands[] = {
    {13, UntimedFrameFormat::NamedHeader, 72, false},
    {14, UntimedFrameFormat::NamedHeader, 64, false},
    {15, UntimedFrameFormat::LengthPair, 0, true},
};

namespace named {
constexpr std::size_t kPayloadAt = 12;
}  // namespace named

// Length-pair frame: frame length L at 4, payload length P at 20, L = P + 32, start code at 32.
namespace length_pair {
constexpr std::size_t kFrameLengthAt = 4;
constexpr std::size_t kPayloadAt = 20;
constexpr std::size_t kStartCodeAt = 32;
constexpr std::size_t kKindByteAt = 36;
constexpr std::size_t kHeaderBytes = 37;
constexpr std::size_t kFollowerBytes = 24;  // what the follower's length check reads
constexpr std::uint32_t kOverhead = 32;

// The lengths check of the frame test, also asked of the frame that must follow.
std::optional<std::uint32_t> frameLength(const std::uint8_t* p) {
  const std::uint32_t payload = le32(p + kPayloadAt);
  const std::uint32_t length = le32(p + kFrameLengthAt);
  if (payload < kMinPayload || length > kMaxPayload || payload > kMaxPayload || length != payload + kOverhead)
    return std::nullopt;
  return length;
}
}  // namespace length_pair

// Index-block record fields, from the record's start.
namespace index_record {
constexpr std::ptrdiff_t kChannelAt = -8;
constexpr std::size_t kStartTimeAt = 0;
constexpr std::size_t kEndTimeAt = 8;
constexpr std::size_t kStartAt = 0x38;
constexpr std::size_t kEndAt = 0x40;
constexpr std::uint32_t kMinStart = 0x200000;  // past the index block itself
constexpr std::uint32_t kEndLimit = 0x40000000;
}  // namespace index_record

std::optional<CalendarTime> calendarUnlessZero(const TimeZone& zone, std::uint32_t t) {
  return t == 0 ? std::nullopt : localCalendar(zone, t);
}
}  // namespace

const UntimedFrameBrand* untimedFrameBrand(std::uint8_t brand) {
  for (const auto& b : kBrands)
    if (b.brand == brand) return &b;
  return nullptr;
}

const PacketDecoder& untimedFrameDecoder(std::uint8_t brand) {
  static const UntimedFrameDecoder kDecoders[] = {
      UntimedFrameDecoder(kBrands[0].format, kBrands[0].headerLength),
      UntimedFrameDecoder(kBrands[1].format, kBrands[1].headerLength),
      UntimedFrameDecoder(kBrands[2].format, kBrands[2].headerLength)};
  for (std::size_t i = 0; i < std::size(kBrands); ++i)
    if (kBrands[i].brand == brand) return kDecoders[i];
  return kDecoders[0];
}

UntimedFrameChainParser::UntimedFrameChainParser(std::uint8_t brand) : BrandParser(untimedFrameDecoder(brand)) {
  const UntimedFrameBrand* known = untimedFrameBrand(brand);
  m_brand = known ? *known : kBrands[0];
}

TimeConvention UntimedFrameChainParser::timeConvention(std::uint8_t) {
  TimeConvention c = localEpochConvention();
  c.calendarIn = &calendarUnlessZero;
  return c;
}

std::optional<Packet> UntimedFrameDecoder::decode(const PacketWindow& window, DeviceHandle& device) const {
  return m_format == UntimedFrameFormat::NamedHeader ? decodeNamedHeader(window, device)
                                                     : decodeLengthPair(window, device);
}

std::optional<Packet> UntimedFrameDecoder::decodeNamedHeader(const PacketWindow& w, DeviceHandle& device) const {
  const std::uint32_t header = m_headerLength;
  if (w.available < header + 5u) return std::nullopt;
  const std::uint8_t* p = w.data;
  if (std::memcmp(p, kNvr1, 4) != 0) return std::nullopt;
  const std::uint32_t payload = le32(p + named::kPayloadAt);
  if (payload < kMinPayload || payload > kMaxPayload) return std::nullopt;
  const std::uint64_t length = static_cast<std::uint64_t>(payload) + header;
  if (!followerHasMagic(w, device, length, kNvr1)) return std::nullopt;
  Packet packet;
  packet.kind = codedUnitKind(p + header);
  packet.channel = 1;
  packet.dataOffset = w.deviceOffset;
  packet.dataLength = length;
  packet.advance = length;
  return packet;
}

std::optional<Packet> UntimedFrameDecoder::decodeLengthPair(const PacketWindow& w, DeviceHandle& device) const {
  if (w.available < length_pair::kHeaderBytes) return std::nullopt;
  const std::uint8_t* p = w.data;
  const auto length = length_pair::frameLength(p);
  if (!length) return std::nullopt;
  if (std::memcmp(p + length_pair::kStartCodeAt, kStartCode, 4) != 0) return std::nullopt;
  std::uint8_t follower[length_pair::kFollowerBytes];
  if (followerBytes(w, device, *length, follower) && !length_pair::frameLength(follower)) return std::nullopt;
  Packet packet;
  packet.kind = (p[length_pair::kKindByteAt] & 0x40) ? SegmentKind::Key : SegmentKind::Other;
  packet.channel = 1;
  packet.dataOffset = w.deviceOffset;
  packet.dataLength = *length;
  packet.advance = *length;
  return packet;
}

std::size_t UntimedFrameDecoder::nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const {
  // The magic (named header) or the required start code (length pair) must stand in place.
  if (m_format == UntimedFrameFormat::NamedHeader) return findPattern(buffer, from, last, kNvr1, 4, 0, 0);
  return findPattern(buffer, from, last, kStartCode, 4, length_pair::kStartCodeAt, 3);
}

void UntimedFrameChainParser::scanFrames() {
  RunRules rules;
  rules.breakRule = RunBreakRule::ChannelAndGap;
  rules.continues = [](const TimeZone&, std::uint32_t, std::uint32_t) { return true; };  // no times to compare
  startRun(rules, [this](const SegmentRecord& run) {
    appendRecord(run);
    // Written out as soon as the list is full, so memory stays bounded within a block too.
    if (sink().arrivalsFull()) sink().listArrivals();
  });
  linearBlockScan();
  sink().listArrivals();
}

void UntimedFrameChainParser::scanQuick() {
  if (m_brand.indexBlocks)
    readIndexBlocks();
  else
    scanFrames();
}

std::optional<SegmentRecord> UntimedFrameChainParser::indexRecord(const std::uint8_t* record, std::uint64_t blockOffset,
                                                                  const TimeZone& zone, const YearWindow& years) {
  using namespace index_record;
  const std::uint32_t startTime = le32(record + kStartTimeAt);
  const std::uint32_t endTime = le32(record + kEndTimeAt);
  const std::uint32_t start = le32(record + kStartAt);
  const std::uint32_t end = le32(record + kEndAt);
  if (!(startTime < endTime) || !plausibleLocalEpoch(zone, years, startTime) ||
      !plausibleLocalEpoch(zone, years, endTime))
    return std::nullopt;
  if (start < kMinStart || end >= kEndLimit || start >= end) return std::nullopt;
  SegmentRecord r;
  r.kind = SegmentKind::Key;
  r.channel = static_cast<std::uint32_t>(record[kChannelAt]) + 1;
  r.startTime = startTime;
  r.endTime = endTime;
  r.firstKeyOffset = 0;
  r.deviceOffset = blockOffset + start;
  r.size = end - start;
  return r;
}

void UntimedFrameChainParser::readIndexBlocks() {
  const std::uint64_t start = job().startOffset;
  const std::uint64_t end = rangeEnd();
  sink().scanStarted(static_cast<std::int64_t>(end / kIndexStride));
  DeviceHandle& source = device();
  const std::uint64_t deviceSize = source.size();
  std::vector<std::uint8_t> buffer(kIndexBytes);
  for (std::uint64_t j = start + kIndexFirst; j < end && keepScanning(); j += kIndexStride) {
    std::fill(buffer.begin(), buffer.end(), 0);
    if (j + kIndexBytes > end) break;
    if (!source.readAt(j, buffer)) {
      reportUnreadable(j, buffer.size());
      continue;
    }
    endStretch();
    for (std::size_t r = 0; r < kRecordCount; ++r) {
      auto record = indexRecord(&buffer[kRecordsAt + r * kRecordStride], j, zone(), years());
      if (!record) continue;
      // A recording that lies past the end of the device (a truncated image) keeps what exists.
      if (record->deviceOffset >= deviceSize) continue;
      record->size = std::min(record->size, deviceSize - record->deviceOffset);
      appendRecord(*record);
      sink().listArrivalsAsFile();
      if (sink().failed()) break;
    }
    job().endSector = j / 512;
    sink().progress(static_cast<std::int64_t>(j / kIndexStride), j / 512);
  }
  if (!sink().stopRequested()) job().endSector = end / 512;
}

}  // namespace norvale
