#include "parsers/program_stream_parser.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "format/packed_time.h"
#include "format/task_header.h"
#include "parsers/pattern_search.h"
#include "format/utc_time.h"
#include "base/byte_reader.h"

namespace norvale {

using namespace program_stream;

namespace {
constexpr std::uint8_t kPacketStart[3] = {0, 0, 1};
constexpr std::uint8_t kPackHeader = 0xBA;
constexpr std::uint8_t kStreamMap = 0xBC;
constexpr std::uint64_t kPackHeaderLength = 20;
constexpr std::size_t kLengthAt = 4;
constexpr std::size_t kMapTimeBytes = 24;  // a stream map's time ends in byte 20
// The maker's signature in the master header.
constexpr std::uint8_t kSignature[8] = {0x48, 0x49, 0x4B, 0x56, 0x49, 0x53, 0x49, 0x4F};

// The index keeps universal time: no zone applies.
std::optional<CalendarTime> quickCalendar(const TimeZone&, std::uint32_t t) { return utcCalendar(t); }
}  // namespace

std::optional<std::uint32_t> streamMapTime(const std::uint8_t* m, const YearWindow& years) {
  const int yearOffset = m[16] & 0x3F;
  const int month = m[17] >> 4;
  const int hour = (m[18] >> 2) & 0x1F;
  const int minute = (m[18] & 3) * 16 + (m[19] >> 4);
  const int second = (m[19] & 0xF) * 4 + (m[20] >> 6);
  if (!years.contains(2000 + yearOffset) || month > 12 || hour > 24 || minute > 60 || second > 60) return std::nullopt;
  return (be32(m + 16) << 2) | (be32(m + 20) >> 30);
}

bool plausibleIndexTime(std::uint32_t t, const YearWindow& years) { return years.contains(utcCalendar(t).year); }

TimeConvention ProgramStreamParser::timeConvention(std::uint8_t parseMode) {
  if (parseMode != kParseQuick) return packedTimeConvention();
  TimeConvention c;
  c.calendarIn = &quickCalendar;
  c.joinsIn = [](const TimeZone&, std::uint32_t, std::uint32_t) { return false; };
  return c;
}

const PacketDecoder& programStreamDecoder() {
  static const ProgramStreamDecoder decoder;
  return decoder;
}

std::optional<Packet> ProgramStreamDecoder::decode(const PacketWindow& w, DeviceHandle& device) const {
  if (w.available < kLengthAt + 2) return std::nullopt;
  const std::uint8_t* p = w.data;
  if (std::memcmp(p, kPacketStart, 3) != 0) return std::nullopt;
  Packet packet;
  packet.channel = 1;
  packet.kind = SegmentKind::Other;
  std::uint64_t length = be16(p + kLengthAt) + 6u;
  if (p[3] == kPackHeader) {
    length = kPackHeaderLength;
  } else if (p[3] == kStreamMap) {
    if (w.available < kMapTimeBytes) return std::nullopt;
    const auto time = streamMapTime(p, w.years);
    if (!time) return std::nullopt;
    packet.kind = SegmentKind::Key;
    packet.time = *time;
  }
  std::uint8_t follower[3];
  if (followerBytes(w, device, length, follower, 4) && std::memcmp(follower, kPacketStart, 3) != 0) return std::nullopt;
  packet.dataOffset = w.deviceOffset;
  packet.dataLength = length;
  packet.advance = length;
  return packet;
}

std::size_t ProgramStreamDecoder::nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const {
  return findPattern(buffer, from, last, kPacketStart, 3, 0, 2);
}

void ProgramStreamParser::scanDeep() {
  RunRules rules;
  rules.breakRule = RunBreakRule::GapOnly;
  rules.onlyKeyPacketsSetEnd = true;
  rules.keyPacketSetsStart = true;
  rules.addOnlyKeyRuns = true;
  rules.continues = &packedRunContinues;
  startRun(rules, [this](const SegmentRecord& run) {
    addRecord(run, storeKey(1, PackedTime{run.startTime}.hourCode()));
  });
  linearBlockScan();
}

bool ProgramStreamParser::collides(std::uint32_t start, std::uint32_t end) const {
  // A new range that encloses a listed one does not collide with it.
  return std::any_of(m_taken.begin(), m_taken.end(), [&](const auto& r) {
    return (r.first <= start && start < r.second) || (r.first < end && end <= r.second);
  });
}

void ProgramStreamParser::walkIndex(const std::uint8_t* area, std::uint64_t blockStart) {
  for (std::size_t k = 0; k < kIndexBytes / kEntryBytes; ++k) {
    const std::uint8_t* e = area + k * kEntryBytes;
    const std::uint32_t start = le32(e + kEntryStartAt);
    const std::uint32_t end = le32(e + kEntryEndAt);
    if (start >= kIndexAt || end <= start || end > kIndexAt || end - start < kMinRecording) continue;
    const std::uint32_t startTime = le32(e + kEntryStartTimeAt);
    const std::uint32_t endTime = le32(e + kEntryEndTimeAt);
    if (!plausibleIndexTime(startTime, years()) || !plausibleIndexTime(endTime, years()) || collides(start, end)) continue;
    SegmentRecord r;
    r.kind = SegmentKind::Key;
    r.channel = e[kEntryChannelAt];
    r.startTime = startTime;
    r.endTime = endTime;
    r.firstKeyOffset = 0;
    r.deviceOffset = blockStart + start;
    r.size = end - start;
    addRecord(r, storeKey(r.channel, utcHourCode(startTime)));
    m_taken.emplace_back(start, end);
  }
}

void ProgramStreamParser::scanQuick() {
  DeviceHandle& source = device();
  std::vector<std::uint8_t> header(kHeaderBytes, 0);
  if (!source.readAt(0, header)) {
    reportUnreadable(0, header.size());
    return;
  }
  const std::uint64_t deviceSize = source.size();
  std::uint64_t first = kFixedFirstBlock;
  std::uint64_t blockSize = kFixedBlockSize;
  std::uint64_t end = deviceSize;
  const std::uint64_t headerFirst = le64(&header[kFirstBlockAt]);
  const std::uint64_t headerArea = le64(&header[kDataAreaAt]);
  const std::uint64_t headerBlock = le64(&header[kBlockSizeAt]);
  if (std::memcmp(&header[kSignatureAt], kSignature, sizeof kSignature) == 0 && headerFirst <= kMaxFirstBlock &&
      headerBlock >= kMinBlockSize && headerArea % headerBlock == 0) {
    first = headerFirst;
    blockSize = headerBlock;
    // A hostile area size must not wrap the end round.
    end = headerArea > std::numeric_limits<std::uint64_t>::max() - first ? deviceSize
                                                                           : std::min(first + headerArea, deviceSize);
  }
  sink().scanStarted(static_cast<std::int64_t>(end / blockSize));

  std::vector<std::uint8_t> area(kIndexBytes);
  std::uint64_t pos = first;
  while (pos < end && keepScanning()) {
    std::fill(area.begin(), area.end(), 0);
    if (pos + kIndexAt + kIndexBytes > end) break;
    if (source.readAt(pos + kIndexAt, area)) {
      endStretch();
      walkIndex(area.data(), pos);
      m_taken.clear();
      job().endSector = pos / 512;
      sink().progress(static_cast<std::int64_t>(pos / blockSize));
      sink().flushIfFull();
    } else {
      reportUnreadable(pos + kIndexAt, area.size());
    }
    // A hostile block size must not wrap the position round to the start.
    if (blockSize >= end - pos) break;
    pos += blockSize;
  }
  if (!sink().stopRequested()) job().endSector = end / 512;
  m_taken.clear();
  sink().flush();
}

}  // namespace norvale
