#include "parsers/local_time.h"

#include <ctime>

#include "task/records.h"

namespace norvale {

std::optional<CalendarTime> localCalendar(std::uint32_t epochSeconds) {
  const std::time_t t = static_cast<std::time_t>(epochSeconds);
  std::tm tm{};
#ifdef _WIN32
  if (localtime_s(&tm, &t) != 0) return std::nullopt;
#else
  if (!localtime_r(&t, &tm)) return std::nullopt;
#endif
  return CalendarTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::uint32_t localHourCode(std::uint32_t epochSeconds) {
  const auto c = localCalendar(epochSeconds);
  return c ? calendarCode(c->year, c->month, c->day, c->hour) : 0;
}

bool plausibleLocalEpoch(std::uint32_t epochSeconds) {
  // Far outside 2010-2020 in any zone (UTC-12..UTC+14): no calendar conversion needed.
  constexpr std::uint32_t kSurelyBefore = 1262304000u - 14 * 3600;  // 2010-01-01 UTC
  constexpr std::uint32_t kSurelyAfter = 1609459200u + 12 * 3600;   // 2021-01-01 UTC
  if (epochSeconds == 0 || epochSeconds < kSurelyBefore || epochSeconds >= kSurelyAfter) return false;
  const auto c = localCalendar(epochSeconds);
  return c && c->year >= 2010 && c->year <= 2020;
}

TimeConvention localEpochConvention() {
  TimeConvention c;
  c.calendar = &localCalendar;
  c.joins = [](std::uint32_t entryStart, std::uint32_t recordEnd) {
    const auto later = localCalendar(recordEnd);
    const auto earlier = localCalendar(entryStart);
    if (!later || !earlier) return false;
    const std::int64_t d = twelveDayMonthSeconds(*later, *earlier);
    return d >= 0 && d <= 3600;
  };
  return c;
}

}  // namespace norvale
