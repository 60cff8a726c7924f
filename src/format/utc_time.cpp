#include "format/utc_time.h"

#include <cstdio>

#include "format/records.h"

namespace norvale {

namespace {
std::int64_t floorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
}  // namespace

CalendarTime civilCalendar(std::int64_t seconds) {
  const std::int64_t days = floorDiv(seconds, 86400);
  const std::int64_t secondOfDay = seconds - days * 86400;
  // Civil date from a day count (era-based, valid on both sides of 1970-01-01).
  const std::int64_t z = days + 719468;
  const std::int64_t era = floorDiv(z, 146097);
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

std::int64_t civilSeconds(const CalendarTime& c) {
  // Month first into 1..12, the years it spans carried into the year.
  const std::int64_t month0 = static_cast<std::int64_t>(c.month) - 1;
  const std::int64_t year = c.year + floorDiv(month0, 12);
  const std::int64_t month = month0 - floorDiv(month0, 12) * 12 + 1;
  // Day count of the first of that month (the inverse of the conversion above).
  const std::int64_t y = month <= 2 ? year - 1 : year;
  const std::int64_t era = floorDiv(y, 400);
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t days = era * 146097 + dayOfEra - 719468 + (c.day - 1);
  return days * 86400 + static_cast<std::int64_t>(c.hour) * 3600 + static_cast<std::int64_t>(c.minute) * 60 + c.second;
}

CalendarTime utcCalendar(std::uint32_t epochSeconds) { return civilCalendar(epochSeconds); }

std::uint32_t utcHourCode(std::uint32_t epochSeconds) {
  const CalendarTime c = utcCalendar(epochSeconds);
  return calendarCode(c.year, c.month, c.day, c.hour);
}

namespace {
std::string fieldsText(const char* format, const CalendarTime& c) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, c.year, c.month, c.day, c.hour, c.minute, c.second);
  return buf;
}
}  // namespace

std::string dateTimeText(const CalendarTime& c) { return fieldsText("%04d-%02d-%02d %02d:%02d:%02d", c); }
std::string isoDateTimeText(const CalendarTime& c) { return fieldsText("%04d-%02d-%02dT%02d:%02d:%02d", c); }
std::string compactDateTimeText(const CalendarTime& c) { return fieldsText("%04d%02d%02d-%02d%02d%02d", c); }

}  // namespace norvale
