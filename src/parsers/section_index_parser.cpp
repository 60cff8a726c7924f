#include "parsers/coded_unit.h"
#include "parsers/section_index_parser.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/byte_reader.h"
#include "format/local_time.h"

namespace norvale {

using namespace section_index;

namespace {
SegmentRecord emptyRun() { return SegmentRecord{SegmentKind::None, 1, 0, 0, -1, 0, 0}; }

// First window offset >= from (at most last + 1) that may hold a marker (a sector boundary) or
// a packet (0x1358 at it, or 0x1357 four bytes on): both magics have 0x13 as their second byte.
std::size_t nextSectionCandidate(const std::uint8_t* buffer, std::uint64_t base, std::size_t from, std::size_t last) {
  const std::size_t boundary = static_cast<std::size_t>(from + (512 - (base + from) % 512) % 512);
  const std::size_t limit = std::min(boundary, last + 1);
  std::size_t best = limit;
  const std::uint8_t* at = buffer + from + 1;
  const std::uint8_t* const stop = buffer + limit + 5;
  while (at < stop) {
    const auto* hit = static_cast<const std::uint8_t*>(std::memchr(at, 0x13, static_cast<std::size_t>(stop - at)));
    if (!hit) break;
    const std::size_t q = static_cast<std::size_t>(hit - buffer);
    if (q >= from + 5 && q - 5 < best && le32(buffer + q - 5 + 4) == kPacketAltMagic) best = q - 5;
    if (q - 1 < best && le32(buffer + q - 1) == kPacketMagic) best = q - 1;
    if (q >= best + 5) break;  // later hits cannot give an earlier position
    at = hit + 1;
  }
  return best;
}
// True when the piece entries of an index area are all zero bytes (the header may hold anything:
// it only names the channel of the pieces taken).
bool entriesAllZero(const std::vector<std::uint8_t>& index) {
  const std::uint8_t* entries = index.data() + kEntriesAt;
  const std::size_t n = index.size() - kEntriesAt;
  return entries[0] == 0 && std::memcmp(entries, entries + 1, n - 1) == 0;
}
}  // namespace

TimeConvention SectionIndexParser::timeConvention(std::uint8_t) { return localEpochConvention(); }

std::optional<std::uint32_t> SectionIndexParser::markerTime(const PacketWindow& w) {
  if (w.deviceOffset % 512 != 0 || w.available < kMarkerBytes) return std::nullopt;
  const std::uint8_t* p = w.data;
  const std::uint32_t time = le32(p + kMarkerTimeAt);
  if (le32(p) != kMarkerMagic || le16(p + kMarkerTailAt) != kMarkerTail ||
      !plausibleLocalEpoch(zoneOrWorkstation(w.zone), w.years, time))
    return std::nullopt;
  return time;
}

const PacketDecoder& sectionIndexDecoder() {
  static const SectionIndexDecoder decoder;
  return decoder;
}

std::optional<Packet> SectionIndexDecoder::decode(const PacketWindow& w, DeviceHandle& device) const {
  if (w.available < kPacketHeaderBytes) return std::nullopt;
  const std::uint8_t* p = w.data;
  if (le32(p) != kPacketMagic && le32(p + 4) != kPacketAltMagic) return std::nullopt;
  const std::uint64_t size = le16(p + kPacketLengthAt) + kPacketOverhead;
  std::uint8_t follower[8];
  if (followerBytes(w, device, size, follower) && le32(follower) != kPacketMagic && le32(follower + 4) != kPacketAltMagic)
    return std::nullopt;
  Packet packet;
  static_assert(kPacketKindByteAt == kPacketStartCodeAt + 4);
  packet.kind = codedUnitKind(p + kPacketStartCodeAt);
  packet.channel = 1;
  packet.dataOffset = w.deviceOffset;
  packet.dataLength = size;
  packet.advance = size;
  return packet;
}

void SectionIndexParser::appendPiece(const SegmentRecord& record) {
  appendRecord(record);
  // A section that yields millions of runs is cut into several files rather than held whole.
  if (sink().arrivalsFull()) formSectionFile();
}

void SectionIndexParser::formSectionFile() { sink().listArrivalsAsFile(); }

void SectionIndexParser::closeRun() {
  if (m_run.size != 0) {
    m_run.startTime = m_time;
    m_run.endTime = m_time;
    appendPiece(m_run);
  }
  m_run = emptyRun();
}

void SectionIndexParser::scanSection(std::uint64_t start, std::uint64_t end, std::vector<std::uint8_t>& buffer) {
  DeviceHandle& source = device();
  m_run = emptyRun();
  m_markerSeen = false;
  m_time = 0;
  std::uint64_t pos = start;
  while (keepScanning()) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), end - pos));
    std::fill(buffer.begin(), buffer.end(), 0);
    if (!source.readAt(pos, std::span(buffer.data(), n))) {
      reportUnreadable(pos, n);
      pos += n;
      closeRun();  // a record covers contiguous bytes only
    } else {
      endStretch();
      std::size_t t = 0;
      while (t <= kWindowLastStart) {
        const PacketWindow w{buffer.data() + t, buffer.size() - t,
                             static_cast<std::int64_t>(n) - static_cast<std::int64_t>(t), pos + t, &zone(), years()};
        if (const auto time = markerTime(w)) {
          closeRun();
          m_time = *time;
          m_markerSeen = true;
          t += kMarkerAdvance;
          continue;
        }
        if (!m_markerSeen) {
          t += 1 + (511 - (pos + t) % 512);  // only a marker counts until one is seen
          continue;
        }
        if (const auto packet = decoder().decode(w, source)) {
          if (m_run.size == 0) {
            m_run.kind = packet->kind;
            m_run.deviceOffset = packet->dataOffset;
            m_run.firstKeyOffset = packet->kind == SegmentKind::Key ? 0 : -1;
          } else if (m_run.firstKeyOffset == -1 && packet->kind == SegmentKind::Key) {
            m_run.kind = SegmentKind::Key;
            m_run.firstKeyOffset = static_cast<std::int64_t>(m_run.size);
          }
          m_run.size += packet->dataLength;
          t += static_cast<std::size_t>(packet->advance);
        } else {
          closeRun();
          t = nextSectionCandidate(buffer.data(), pos, t + 1, kWindowLastStart);
        }
      }
      sink().progress(static_cast<std::int64_t>((pos + t) / kBlockSize), (pos + t) / 512);
      pos += t;
    }
    if (pos >= end) break;
  }
  closeRun();
  formSectionFile();
}

void SectionIndexParser::scanDeep() {
  const std::uint64_t end = rangeEnd();
  sink().scanStarted(static_cast<std::int64_t>(end / kBlockSize));
  std::vector<std::uint8_t> buffer(kBlockSize + kLookAhead);
  for (std::uint64_t s = job().startOffset == 0 ? kFirstSection : job().startOffset; s < end && keepScanning();
       s += kSectionSize)
    scanSection(s, std::min(s + kSectionSize, end), buffer);
  if (!sink().stopRequested()) job().endSector = end / 512;
}

void SectionIndexParser::takePieces(std::uint64_t section, const std::vector<std::uint8_t>& index) {
  DeviceHandle& source = device();
  std::uint32_t channel = 0;
  const std::uint32_t first = le32(&index[kFirstTimeAt]);
  const std::uint32_t last = le32(&index[kLastTimeAt]);
  if (le16(&index[0]) == kHeaderMagic && plausibleLocalEpoch(zone(), years(), first) && plausibleLocalEpoch(zone(), years(), last) &&
      last >= first)
    channel = index[kChannelAt] + 1u;
  std::uint64_t total = 0;
  std::uint8_t sector[512];
  for (std::size_t at = kEntriesAt; at + kEntryBytes <= kIndexBytes && !sink().failed(); at += kEntryBytes) {
    const std::uint8_t* e = &index[at];
    const std::uint32_t time = le32(e + kEntryTimeAt);
    const std::uint64_t units = le16(e + kEntrySizeAt);
    const std::uint64_t startUnit = le16(e + kEntryStartAt);
    if (!plausibleLocalEpoch(zone(), years(), time) || units == 0 || startUnit < kMinPieceStart) continue;
    const std::uint64_t pieceBytes = units * kUnit;
    if ((startUnit + units) * kUnit > kSectionSize) continue;
    const std::uint64_t pieceAt = section + startUnit * kUnit;
    std::fill(std::begin(sector), std::end(sector), 0);
    if (!source.readAt(pieceAt + pieceBytes - 512, sector)) continue;
    const std::uint32_t fill = le32(sector + kFillAt);
    if (fill < kPieceHead || fill >= pieceBytes) continue;
    total += pieceBytes;
    if (total > kMaxSectionTotal) break;
    SegmentRecord r;
    r.kind = SegmentKind::Key;
    r.channel = channel;
    r.startTime = time;
    r.endTime = time;
    r.firstKeyOffset = 0;
    r.deviceOffset = pieceAt + kPieceHead;
    r.size = fill - kPieceHead;
    appendPiece(r);
  }
}

void SectionIndexParser::scanQuick() {
  m_indexWalks = 0;
  const std::uint64_t end = rangeEnd();
  sink().scanStarted(static_cast<std::int64_t>(end / kSectionSize));
  DeviceHandle& source = device();
  std::vector<std::uint8_t> index(kIndexBytes);
  for (std::uint64_t s = job().startOffset + kFirstSection; s + kIndexBytes <= end && keepScanning();
       s += kSectionSize) {
    std::fill(index.begin(), index.end(), 0);
    if (source.readAt(s, index)) {
      endStretch();
      // Entries of zeros have no plausible time, so none would be taken: a section never written
      // costs one comparison of its index area instead of a walk of its 131,000 entries.
      if (!entriesAllZero(index)) {
        ++m_indexWalks;
        takePieces(s, index);
      }
      formSectionFile();
      job().endSector = s / 512;
      sink().progress(static_cast<std::int64_t>(s / kSectionSize), s / 512);
    } else {
      reportUnreadable(s, index.size());
    }
  }
  if (!sink().stopRequested()) job().endSector = end / 512;
}

}  // namespace norvale
