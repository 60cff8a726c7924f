#pragma once
// How a brand's 32-bit times read as calendar dates: its time text, the day of the file map and
// the rule that joins segments into one file.
#include <cstdint>
#include <optional>
#include <string>

namespace norvale {

struct CalendarTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct TimeConvention {
  // Calendar fields of a time value; empty when the brand has no date for it.
  std::optional<CalendarTime> (*calendar)(std::uint32_t time) = nullptr;
  // May a segment ending at recordEnd extend a file that started at entryStart?
  bool (*joins)(std::uint32_t entryStart, std::uint32_t recordEnd) = nullptr;
  // Brands with a time text of their own set this; others format the calendar fields.
  std::string (*text)(std::uint32_t time) = nullptr;
};

// "%04d年%02d月%02d日 %02d时%02d分%02d秒", or "未知日期" when the brand has no date.
std::string timeText(const TimeConvention& convention, std::uint32_t time);
// Day code (year<<14|month<<10|day<<5) of a start time; 0 (all dates) when it has no date.
std::uint32_t dayCode(const TimeConvention& convention, std::uint32_t start);
// "%04d年%02d月%02d日", or "所有日期" for day code 0.
std::string dayText(std::uint32_t dayCode);
// Compact form for file names: "YYYYMMDD-HHMMSS", or "unknown".
std::string fileNameTime(const TimeConvention& convention, std::uint32_t time);

// The join rule's field difference in seconds with a month counted as 12 days, years ignored:
// later minus earlier.
std::int64_t twelveDayMonthSeconds(const CalendarTime& later, const CalendarTime& earlier);

}  // namespace norvale
