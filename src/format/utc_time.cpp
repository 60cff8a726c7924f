#include "format/utc_time.h"

#include "format/records.h"

namespace norvale {

CalendarTime utcCalendar(std::uint32_t epochSeconds) {
  const std::int64_t days = epochSeconds / 86400;
  const std::int64_t secondOfDay = epochSeconds % 86400;
  // Civil date from a day count (era-based, valid for every day after 1970-01-01).
  const std::int64_t z = days + 719468;
  const std::int64_t era = z / 146097;
  const std::int64_t dayOfEra = z - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
  return CalendarTime{year, month, day, static_cast<int>(secondOfDay / 3600), static_cast<int>(secondOfDay / 60 % 60),
                      static_cast<int>(secondOfDay % 60)};
}

std::uint32_t utcHourCode(std::uint32_t epochSeconds) {
  const CalendarTime c = utcCalendar(epochSeconds);
  return calendarCode(c.year, c.month, c.day, c.hour);
}

}  // namespace norvale
