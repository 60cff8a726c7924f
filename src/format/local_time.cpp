#include "format/local_time.h"

#include <ctime>

#include "format/records.h"

namespace norvale {

namespace {

std::optional<CalendarTime> convert(std::int64_t epochSeconds) {
  const std::time_t t = static_cast<std::time_t>(epochSeconds);
  std::tm tm{};
#ifdef _WIN32
  if (localtime_s(&tm, &t) != 0) return std::nullopt;
#else
  if (!localtime_r(&t, &tm)) return std::nullopt;
#endif
  return CalendarTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// The last local hour converted. Scans and the grouping pass convert millions of times that
// mostly fall in the same hour; within an hour without a zone change the fields follow from the
// offset. An hour is cached only when its first and last seconds read as that hour, so an hour
// that holds a zone change is always converted by the library. Per thread: a pure memo.
// Two hours are kept, since the join rule compares times of neighbouring hours in turn.
struct HourMemo {
  std::int64_t start = -1;
  CalendarTime base;
};
thread_local HourMemo t_hours[2];
thread_local int t_nextSlot = 0;

}  // namespace

void resetLocalTimeMemo() {
  t_hours[0] = t_hours[1] = HourMemo{};
}

std::optional<CalendarTime> localCalendar(std::uint32_t epochSeconds) {
  const std::int64_t t = epochSeconds;
  for (const HourMemo& hour : t_hours) {
    if (hour.start >= 0 && t >= hour.start && t < hour.start + 3600) {
      CalendarTime c = hour.base;
      c.minute = static_cast<int>((t - hour.start) / 60);
      c.second = static_cast<int>((t - hour.start) % 60);
      return c;
    }
  }
  auto c = convert(t);
  if (!c || c->second > 59) return c;  // leap seconds are left to the library
  const std::int64_t start = t - c->minute * 60 - c->second;
  // Both ends of the hour must read as that hour: a zone change anywhere inside it shifts one.
  const auto first = convert(start);
  const auto last = convert(start + 3599);
  const auto sameHour = [&](const std::optional<CalendarTime>& x, int minute, int second) {
    return x && x->year == c->year && x->month == c->month && x->day == c->day && x->hour == c->hour &&
           x->minute == minute && x->second == second;
  };
  if (sameHour(first, 0, 0) && sameHour(last, 59, 59)) {
    HourMemo& slot = t_hours[t_nextSlot];
    t_nextSlot ^= 1;
    slot.start = start;
    slot.base = *c;
    slot.base.minute = 0;
    slot.base.second = 0;
  }
  return c;
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
