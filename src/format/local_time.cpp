#include "format/local_time.h"

#include "format/records.h"

namespace norvale {

std::optional<CalendarTime> localCalendar(const TimeZone& zone, std::uint32_t epochSeconds) {
  return zone.calendar(epochSeconds);
}

std::uint32_t localHourCode(const TimeZone& zone, std::uint32_t epochSeconds) {
  const auto c = zone.calendar(epochSeconds);
  return c ? calendarCode(c->year, c->month, c->day, c->hour) : 0;
}

bool plausibleLocalEpoch(const TimeZone& zone, std::uint32_t epochSeconds) {
  // Every zone's offset in 2010-2020 lies within UTC-12..UTC+14: far from the two bounds no
  // calendar conversion is needed, either way.
  constexpr std::uint32_t kFirst = 1262304000u;  // 2010-01-01 UTC
  constexpr std::uint32_t kEnd = 1609459200u;    // 2021-01-01 UTC
  constexpr std::uint32_t kSurelyBefore = kFirst - 14 * 3600;
  constexpr std::uint32_t kSurelyAfter = kEnd + 12 * 3600;
  if (epochSeconds < kSurelyBefore || epochSeconds >= kSurelyAfter) return false;
  if (epochSeconds >= kFirst + 12 * 3600 && epochSeconds < kEnd - 14 * 3600) return true;
  const auto c = zone.calendar(epochSeconds);
  return c && c->year >= 2010 && c->year <= 2020;
}

TimeConvention localEpochConvention() {
  TimeConvention c;
  c.calendarIn = &localCalendar;
  c.joinsIn = [](const TimeZone& zone, std::uint32_t entryStart, std::uint32_t recordEnd) {
    const auto later = zone.calendar(recordEnd);
    const auto earlier = zone.calendar(entryStart);
    if (!later || !earlier) return false;
    const std::int64_t d = twelveDayMonthSeconds(*later, *earlier);
    return d >= 0 && d <= 3600;
  };
  c.zoned = true;
  return c;
}

}  // namespace norvale
