#pragma once
// Seconds since 1970 on the plain Gregorian calendar with no time zone, as the recorders whose
// indexes keep universal time write them.
#include <cstdint>
#include <optional>
#include <string>

#include "format/time_convention.h"

namespace norvale {

// Calendar fields of a time; every 32-bit value has them.
CalendarTime utcCalendar(std::uint32_t epochSeconds);
// Hour code ((year*16+month)*32+day)*32+hour of the UTC calendar time.
std::uint32_t utcHourCode(std::uint32_t epochSeconds);

// The same calendar for any second count, before 1970 too.
CalendarTime civilCalendar(std::int64_t seconds);
// Seconds since 1970 of calendar fields; fields out of their range carry over (day 0 is the
// last day of the month before, hour 24 the next day's midnight).
std::int64_t civilSeconds(const CalendarTime& c);

// Calendar fields as text: "YYYY-MM-DD HH:MM:SS", "YYYY-MM-DDTHH:MM:SS" (ISO 8601, no zone) and
// "YYYYMMDD-HHMMSS" (file names).
std::string dateTimeText(const CalendarTime& c);
std::string isoDateTimeText(const CalendarTime& c);
std::string compactDateTimeText(const CalendarTime& c);

}  // namespace norvale
