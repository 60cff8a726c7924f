#include "parsers/coded_unit.h"
#include "parsers/unit_index_parser.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/byte_reader.h"
#include "format/utc_time.h"
#include "parsers/pattern_search.h"

namespace norvale {

using namespace unit_index;

namespace {
constexpr std::uint8_t kUnitMagic[4] = {'j', 'v', 'b', 'k'};
constexpr std::uint8_t kPacketMagic[4] = {'J', 'V', 'S', ' '};

// Plain calendar with no zone, as the recorder counts its seconds.
std::optional<CalendarTime> calendarUnlessZero(const TimeZone&, std::uint32_t t) {
  if (t == 0) return std::nullopt;
  return utcCalendar(t);
}
}  // namespace

TimeConvention UnitIndexParser::timeConvention(std::uint8_t) {
  TimeConvention c;
  c.calendarIn = &calendarUnlessZero;
  // The grouping of this brand asks none.
  c.joinsIn = [](const TimeZone&, std::uint32_t, std::uint32_t) { return true; };
  return c;
}

const PacketDecoder& unitIndexDecoder() {
  static const UnitIndexDecoder decoder;
  return decoder;
}

std::optional<Packet> UnitIndexDecoder::decode(const PacketWindow& w, DeviceHandle& device) const {
  if (w.available < kPacketHeaderBytes) return std::nullopt;
  const std::uint8_t* p = w.data;
  if (std::memcmp(p, kPacketMagic, 4) != 0) return std::nullopt;
  const std::uint32_t payload = p[kPayloadAt] | (p[kPayloadAt + 1] << 8) | (p[kPayloadAt + 2] << 16);
  const std::uint64_t size = payload + kPacketOverhead;
  if (!followerHasMagic(w, device, size, kPacketMagic)) return std::nullopt;
  Packet packet;
  static_assert(kKindByteAt == kStartCodeAt + 4);
  packet.kind = codedUnitKind(p + kStartCodeAt);
  const bool channelPacket =
      w.deviceOffset % 512 == 0 && size == kChannelPacketSize && p[kTypeAt] == kChannelPacketType;
  packet.channel = channelPacket ? p[kPacketChannelAt] + 1u : 0u;
  packet.dataOffset = w.deviceOffset;
  packet.dataLength = size;
  packet.advance = size;
  return packet;
}

std::size_t UnitIndexDecoder::nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const {
  return findPattern(buffer, from, last, kPacketMagic, 4, 0, 0);
}

void UnitIndexParser::scanDeep() {
  RunRules rules;
  rules.breakRule = RunBreakRule::ChannelPackets;
  rules.minimumLength = kMinimumRun;
  startRun(rules, [this](const SegmentRecord& run) { addRecord(run, storeKey(run.channel, 0)); });
  linearBlockScan();
}

bool UnitIndexParser::takeIndexHeader(const std::uint8_t* h) {
  if (le32(h) != kIndexMagic) return false;
  const std::uint16_t count = le16(h + kCountAt);
  const std::uint32_t start = le32(h + kStartTimeAt);
  if (count < 1 || count > kMaxEntries || !years().plainSecondsNotPast(start)) return false;
  const std::uint32_t duration = le32(h + kDurationAt);
  const std::uint32_t end = start + duration / 1000 + (duration % 1000 != 0 ? 1 : 0);
  for (std::uint16_t k = 0; k < count; ++k) {
    const std::uint8_t* e = h + kEntriesAt + k * kEntryBytes;
    const std::uint64_t head = static_cast<std::uint64_t>(le16(e + kEntryHeadAt)) * 32;
    const std::uint32_t pieceEnd = le32(e + kEntryEndAt);
    if (head + 16 >= pieceEnd) continue;
    SegmentRecord r;
    r.kind = SegmentKind::Key;
    r.channel = h[kChannelAt] + 1u;
    r.startTime = start;
    r.endTime = end;
    r.firstKeyOffset = 0;
    r.deviceOffset = le16(e + kEntryUnitAt) * kUnitSize + le32(e + kEntryOffsetAt);
    r.size = pieceEnd - head;
    // Entries may point anywhere; what lies past the end of the device cannot be recovered.
    if (r.deviceOffset >= m_deviceSize) continue;
    r.size = std::min(r.size, m_deviceSize - r.deviceOffset);
    appendRecord(r);
  }
  sink().listArrivalsAsFile();
  return true;
}

void UnitIndexParser::readUnitIndex(std::uint64_t unit, std::vector<std::uint8_t>& buffer) {
  DeviceHandle& source = device();
  const std::uint64_t unitEnd = unit + kUnitSize;
  std::uint64_t pos = unit;
  while (pos < unitEnd && keepScanning()) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), unitEnd - pos));
    std::fill(buffer.begin(), buffer.end(), 0);
    if (!source.readAt(pos, std::span(buffer.data(), n)))
      std::fill(buffer.begin(), buffer.end(), 0);  // what failed holds no headers
    std::size_t o = 0;
    while (o < kIndexWalkBytes) o += takeIndexHeader(&buffer[o]) ? kIndexSpan : kHeaderStride;
    // The next read starts where the walk stopped, so no header start between reads is skipped.
    pos += o;
  }
}

void UnitIndexParser::scanQuick() {
  const std::uint64_t end = rangeEnd();
  sink().scanStarted(static_cast<std::int64_t>(end / kUnitSize));
  DeviceHandle& source = device();
  m_deviceSize = source.size();
  std::vector<std::uint8_t> probe(kUnitProbeBytes);
  std::vector<std::uint8_t> index(kIndexWalkBytes + kIndexSpan);
  for (std::uint64_t u = job().startOffset / kUnitSize * kUnitSize; u + kUnitProbeBytes <= end && keepScanning();
       u += kUnitSize) {
    std::fill(probe.begin(), probe.end(), 0);
    if (source.readAt(u, probe)) {
      endStretch();
      if (std::memcmp(&probe[0], kUnitMagic, 4) == 0 && std::memcmp(&probe[kSecondMagicAt], kUnitMagic, 4) == 0 &&
          probe[kUnitVersionAt] == kUnitVersion)
        readUnitIndex(u, index);
      job().endSector = u / 512;
      sink().progress(static_cast<std::int64_t>(u / kUnitSize), u / 512);
    } else {
      reportUnreadable(u, probe.size());
    }
  }
  if (!sink().stopRequested()) job().endSector = end / 512;
}

}  // namespace norvale
