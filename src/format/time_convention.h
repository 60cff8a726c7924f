#pragma once
// How a brand's 32-bit times read as calendar dates: its time text, the day of the file map and
// the rule that joins segments into one file; and the recorder's clock that moves what is shown.
#include <cstdint>
#include <optional>
#include <string>

namespace norvale {

struct CalendarTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool operator==(const CalendarTime&) const = default;
};

class TimeZone;

// The largest clock correction a task may hold: a century either way.
inline constexpr std::int64_t kMaxClockCorrection = 100LL * 366 * 86400;

struct TimeConvention {
  // Calendar fields of a time as the recorder wrote it; empty when the brand has no date for
  // it. Brands whose times are seconds since 1970 in local time read them in the zone; the
  // others ignore it.
  std::optional<CalendarTime> (*calendarIn)(const TimeZone& zone, std::uint32_t time) = nullptr;
  // May a segment ending at recordEnd extend a file that started at entryStart?
  bool (*joinsIn)(const TimeZone& zone, std::uint32_t entryStart, std::uint32_t recordEnd) = nullptr;
  // The times are instants (seconds since 1970) read in the recorder's zone: a correction moves
  // the instant, so that a daylight-saving change between the two is honoured.
  bool zoned = false;

  // The recorder's zone; null: the workstation's.
  const TimeZone* zone = nullptr;
  // Seconds to add to the recorder's clock to get the true time. It moves every shown time and
  // day, never what the recorder wrote: hour codes, plausibility and the join rule stay on the
  // recorder's clock.
  std::int64_t correction = 0;

  // The calendar as the recorder wrote it.
  std::optional<CalendarTime> calendar(std::uint32_t time) const;
  // The calendar of the true time: the recorder's plus the correction.
  std::optional<CalendarTime> shownCalendar(std::uint32_t time) const;
  // The join rule on the recorder's clock; false for a brand without one.
  bool joins(std::uint32_t entryStart, std::uint32_t recordEnd) const;
  // The same convention showing the times as the recorder wrote them.
  TimeConvention asRecorded() const {
    TimeConvention c = *this;
    c.correction = 0;
    return c;
  }
};

// "%04d年%02d月%02d日 %02d时%02d分%02d秒" of the shown time, or "未知日期" when the brand has no date.
std::string timeText(const TimeConvention& convention, std::uint32_t time);
// Day code (year<<14|month<<10|day<<5) of a shown start time; 0 (all dates) when it has no date.
std::uint32_t dayCode(const TimeConvention& convention, std::uint32_t start);
// "%04d年%02d月%02d日", or "所有日期" for day code 0.
std::string dayText(std::uint32_t dayCode);
// "YYYY-MM-DD" of a day code; empty for 0 (no date).
std::string dayIsoText(std::uint32_t dayCode);
// Compact form of the shown time for file names: "YYYYMMDD-HHMMSS", or "unknown".
std::string fileNameTime(const TimeConvention& convention, std::uint32_t time);

// The join rule's field difference in seconds with a month counted as 12 days, years ignored:
// later minus earlier.
std::int64_t twelveDayMonthSeconds(const CalendarTime& later, const CalendarTime& earlier);

// Calendar fields moved by a number of seconds on the plain Gregorian calendar (no zone).
CalendarTime shiftCalendar(const CalendarTime& c, std::int64_t seconds);

// "+3600 秒" / "-120 秒" / "0 秒": a clock correction as the report and the views show it.
std::string correctionText(std::int64_t seconds);

}  // namespace norvale
