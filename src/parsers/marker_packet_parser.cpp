#include "parsers/marker_packet_parser.h"

#include <cstring>

#include "base/byte_reader.h"
#include "format/records.h"
#include "format/utc_time.h"

namespace norvale {

using namespace marker_packet;

namespace {
constexpr std::uint8_t kHeadMarker[4] = {'l', 'i', 'u', ' '};
constexpr std::uint8_t kTailMarker[4] = {' ', 'u', 'i', 'l'};

// Field difference with 12-day months, years ignored, as the recorder compares its times.
std::int64_t clockDifference(std::uint32_t later, std::uint32_t earlier) {
  return twelveDayMonthSeconds(recorderCalendar(later), recorderCalendar(earlier));
}

// The recorder's own calendar has no zone.
bool clockGapContinues(const TimeZone&, std::uint32_t a, std::uint32_t b) {
  const std::int64_t d = clockDifference(a, b);
  return d >= 0 && d <= 59;
}
}  // namespace

CalendarTime recorderCalendar(std::uint32_t seconds) { return utcCalendar(seconds); }

TimeConvention recorderClockConvention() {
  TimeConvention c;
  c.calendarIn = [](const TimeZone&, std::uint32_t t) -> std::optional<CalendarTime> {
    if (t == 0) return std::nullopt;
    return recorderCalendar(t);
  };
  c.joinsIn = [](const TimeZone&, std::uint32_t entryStart, std::uint32_t recordEnd) {
    const std::int64_t d = clockDifference(recordEnd, entryStart);
    return d >= 0 && d <= 3600;
  };
  return c;
}

const PacketDecoder& markerPacketDecoder() {
  static const MarkerPacketDecoder decoder;
  return decoder;
}

TimeConvention MarkerPacketParser::timeConvention(std::uint8_t) { return recorderClockConvention(); }

void MarkerPacketParser::scanDeep() {
  RunRules rules;
  rules.breakRule = RunBreakRule::ChannelAndGap;
  rules.minimumLength = kMinRunLength;
  rules.continues = &clockGapContinues;
  startRun(rules, [this](const SegmentRecord& run) {
    const CalendarTime c = recorderCalendar(run.startTime);
    addRecord(run, storeKey(run.channel, calendarCode(c.year, c.month, c.day, c.hour)));
  });
  linearBlockScan();
}

std::size_t MarkerPacketDecoder::nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const {
  const std::uint8_t* at = buffer + from;
  const std::uint8_t* const stop = buffer + last + 1;
  while (at < stop) {
    const auto* hit = static_cast<const std::uint8_t*>(std::memchr(at, kHeadMarker[0], static_cast<std::size_t>(stop - at)));
    if (!hit) break;
    // Both markers of a header at last lie inside the buffer's look-ahead.
    if (std::memcmp(hit, kHeadMarker, 4) == 0 && std::memcmp(hit + kTailMarkerAt, kTailMarker, 4) == 0)
      return static_cast<std::size_t>(hit - buffer);
    at = hit + 1;
  }
  return last + 1;
}

std::optional<Packet> MarkerPacketDecoder::decode(const PacketWindow& w, DeviceHandle& device) const {
  if (w.available < kTestedBytes) return std::nullopt;
  const std::uint8_t* p = w.data;
  if (std::memcmp(p + kHeadMarkerAt, kHeadMarker, 4) != 0 || std::memcmp(p + kTailMarkerAt, kTailMarker, 4) != 0)
    return std::nullopt;
  const std::uint32_t time = le32(p + kTimeAt);
  // The recorder's calendar has no zone; it tests no lower year.
  if (!w.years.plainSecondsNotPast(time)) return std::nullopt;
  const std::uint32_t payload = le32(p + kLengthAt);
  if (payload < kMinPayload || payload > kMaxPayload) return std::nullopt;
  Packet packet;
  packet.kind = (p[kKindByteAt] & 0x40) ? SegmentKind::Key : SegmentKind::Other;
  // Both markers of the follower are checked where they lie: in the buffer when the device
  // delivered them, otherwise on the device.
  const std::uint64_t whole = static_cast<std::uint64_t>(payload) + kHeaderBytes;
  if (!followerHasMagic(w, device, whole + kHeadMarkerAt, kHeadMarker) ||
      !followerHasMagic(w, device, whole + kTailMarkerAt, kTailMarker))
    return std::nullopt;
  packet.channel = static_cast<std::uint8_t>(p[kChannelAt] + 1);
  packet.time = time;
  packet.dataOffset = w.deviceOffset;
  packet.dataLength = whole;
  packet.advance = whole;
  return packet;
}

}  // namespace norvale
