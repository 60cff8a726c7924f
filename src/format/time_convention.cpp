#include "format/time_convention.h"

#include <cstdio>

#include "format/records.h"
#include "format/time_zone.h"
#include "format/utc_time.h"

namespace norvale {

std::optional<CalendarTime> TimeConvention::calendar(std::uint32_t time) const {
  return calendarIn ? calendarIn(zoneOrWorkstation(zone), time) : std::nullopt;
}

std::optional<CalendarTime> TimeConvention::shownCalendar(std::uint32_t time) const {
  auto recorded = calendar(time);
  if (!recorded || correction == 0) return recorded;
  if (zoned) return zoneOrWorkstation(zone).calendar(static_cast<std::int64_t>(time) + correction);
  return shiftCalendar(*recorded, correction);
}

bool TimeConvention::joins(std::uint32_t entryStart, std::uint32_t recordEnd) const {
  return joinsIn && joinsIn(zoneOrWorkstation(zone), entryStart, recordEnd);
}

std::string timeText(const TimeConvention& convention, std::uint32_t time) {
  const auto c = convention.shownCalendar(time);
  if (!c) return "未知日期";
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d年%02d月%02d日 %02d时%02d分%02d秒", c->year, c->month, c->day, c->hour,
                c->minute, c->second);
  return buf;
}

std::uint32_t dayCode(const TimeConvention& convention, std::uint32_t start) {
  const auto c = convention.shownCalendar(start);
  return c ? calendarCode(c->year, c->month, c->day) : 0;
}

namespace {
// A day code's fields, in the order the format names them.
std::string dayCodeText(const char* format, std::uint32_t code) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, code >> 14, (code >> 10) & 0xF, (code >> 5) & 0x1F);
  return buf;
}
}  // namespace

std::string dayText(std::uint32_t code) { return code == 0 ? "所有日期" : dayCodeText("%04u年%02u月%02u日", code); }

std::string dayIsoText(std::uint32_t code) { return code == 0 ? "" : dayCodeText("%04u-%02u-%02u", code); }

std::string fileNameTime(const TimeConvention& convention, std::uint32_t time) {
  const auto c = convention.shownCalendar(time);
  return c ? compactDateTimeText(*c) : "unknown";
}

std::int64_t twelveDayMonthSeconds(const CalendarTime& a, const CalendarTime& b) {
  std::int64_t d = static_cast<std::int64_t>(a.month) - b.month;
  d = d * 12 + (a.day - b.day);
  d = d * 24 + (a.hour - b.hour);
  d = d * 60 + (a.minute - b.minute);
  d = d * 60 + (a.second - b.second);
  return d;
}

CalendarTime shiftCalendar(const CalendarTime& c, std::int64_t seconds) {
  return civilCalendar(civilSeconds(c) + seconds);
}

std::string correctionText(std::int64_t seconds) {
  return (seconds > 0 ? "+" : "") + std::to_string(seconds) + " 秒";
}

}  // namespace norvale
