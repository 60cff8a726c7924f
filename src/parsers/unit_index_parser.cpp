#include "parsers/coded_unit.h"
#include "parsers/unit_index_parser.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "parsers/utc_time.h"
#include "parsers/pattern_search.h"
#include "storage/byte_reader.h"

namespace norvale {

using namespace unit_index;

namespace {
constexpr std::uint8_t kUnitMagic[4] = {'j', 'v', 'b', 'k'};
constexpr std::uint8_t kPacketMagic[4] = {'J', 'V', 'S', ' '};

std::optional<CalendarTime> calendarUnlessZero(std::uint32_t t) {
  if (t == 0) return std::nullopt;
  return utcCalendar(t);
}
}  // namespace

bool plausibleUnitTime(std::uint32_t seconds) { return seconds != 0 && utcCalendar(seconds).year <= 2020; }

TimeConvention UnitIndexParser::timeConvention(std::uint8_t) {
  TimeConvention c;
  c.calendar = &calendarUnlessZero;
  c.joins = [](std::uint32_t, std::uint32_t) { return true; };  // the grouping of this brand asks none
  return c;
}

std::optional<Packet> UnitIndexParser::testPacket(const PacketWindow& w, DeviceHandle& device) {
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

std::size_t UnitIndexParser::nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const {
  return findPattern(buffer, from, last, kPacketMagic, 4, 0, 0);
}

void UnitIndexParser::scanDeep() {
  RunRules rules;
  rules.breakRule = RunBreakRule::ChannelPackets;
  rules.minimumLength = kMinimumRun;
  m_run.emplace(rules, [this](const SegmentRecord& run) { addRecord(run, storeKey(run.channel, 0)); });
  linearBlockScan();
  m_run.reset();
}

void UnitIndexParser::onPacket(const Packet& packet) {
  if (m_run) m_run->accept(packet);
}

void UnitIndexParser::onRejected() {
  if (m_run) m_run->reject();
}

void UnitIndexParser::afterLinearScan() {
  if (m_run) m_run->finish();
}

Result<void> UnitIndexParser::rebuild() {
  // Quick mode formed one file per index header while reading.
  if (quickMode()) return {};
  ResultStore& store = *m_task.store;
  if (auto r = store.readIndex(); !r) return r;
  if (auto r = store.unsortedPass(); !r) return r;
  return store.groupingPass(GroupingVariant::WithoutJoinRule, timeConvention());
}

bool UnitIndexParser::takeIndexHeader(const std::uint8_t* h) {
  if (le32(h) != kIndexMagic) return false;
  const std::uint16_t count = le16(h + kCountAt);
  const std::uint32_t start = le32(h + kStartTimeAt);
  if (count < 1 || count > kMaxEntries || !plausibleUnitTime(start)) return false;
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
    m_task.store->appendSegment(r);
    m_task.status.foundBytes += r.size;
    m_task.status.foundCount += 1;
  }
  if (auto r = m_task.store->listAndGroupPass(); !r) reportStoreFailure(r.error());
  return true;
}

void UnitIndexParser::readUnitIndex(std::uint64_t unit, std::vector<std::uint8_t>& buffer) {
  DeviceHandle& device = m_task.deviceHandle;
  const std::uint64_t unitEnd = unit + kUnitSize;
  std::uint64_t pos = unit;
  while (pos < unitEnd && !m_task.stopRequested() && !m_storeFailed) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), unitEnd - pos));
    std::fill(buffer.begin(), buffer.end(), 0);
    device.readAt(pos, std::span(buffer.data(), n));
    if (!device.ok()) std::fill(buffer.begin(), buffer.end(), 0);  // what failed holds no headers
    std::size_t o = 0;
    while (o < kIndexWalkBytes) o += takeIndexHeader(&buffer[o]) ? kIndexSpan : kHeaderStride;
    // The next read starts where the walk stopped, so no header start between reads is skipped.
    pos += o;
  }
}

void UnitIndexParser::scanQuick() {
  const std::uint64_t end = m_task.startOffset + m_task.length;
  m_task.status.code = StatusCode::ScanStart;
  m_task.status.value = static_cast<std::int64_t>(end / kUnitSize);
  m_task.notify();
  DeviceHandle& device = m_task.deviceHandle;
  m_deviceSize = device.size();
  std::vector<std::uint8_t> probe(kUnitProbeBytes);
  std::vector<std::uint8_t> index(kIndexWalkBytes + kIndexSpan);
  for (std::uint64_t u = m_task.startOffset / kUnitSize * kUnitSize;
       u + kUnitProbeBytes <= end && !m_task.stopRequested() && !m_storeFailed; u += kUnitSize) {
    std::fill(probe.begin(), probe.end(), 0);
    device.readAt(u, probe);
    if (device.ok()) {
      if (std::memcmp(&probe[0], kUnitMagic, 4) == 0 && std::memcmp(&probe[kSecondMagicAt], kUnitMagic, 4) == 0 &&
          probe[kUnitVersionAt] == kUnitVersion)
        readUnitIndex(u, index);
      m_task.endSector = u / 512;
      m_task.status.currentSector = u / 512;
      m_task.status.code = StatusCode::ScanProgress;
      m_task.status.value = static_cast<std::int64_t>(u / kUnitSize);
      m_task.notify();
    } else {
      m_task.postMessage("读取源设备失败,可能存在坏道");
    }
  }
  if (!m_task.stopRequested()) m_task.endSector = end / 512;
}

}  // namespace norvale
