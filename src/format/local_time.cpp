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

bool plausibleLocalEpoch(const TimeZone& zone, const YearWindow& years, std::uint32_t epochSeconds) {
  // Every zone's offset since 1970 lies within UTC-12..UTC+14: far from the window's two
  // bounds no calendar conversion is needed, either way.
  const std::int64_t first = years.firstSecond();
  const std::int64_t end = years.endSecond();
  const std::int64_t t = epochSeconds;
  if (t < first - 14 * 3600 || t >= end + 12 * 3600) return false;
  if (t >= first + 12 * 3600 && t < end - 14 * 3600) return true;
  const auto c = zone.calendar(epochSeconds);
  return c && years.contains(c->year);
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
