#pragma once
// The recorders' 32-bit packed date and time: second 0-5, minute 6-11, hour 12-16, day 17-21,
// month 22-25, year-2000 26-31.
#include <cstdint>
#include <optional>

#include "format/time_convention.h"
#include "format/time_zone.h"
#include "format/year_window.h"

namespace norvale {

struct PackedTime {
  std::uint32_t raw = 0;

  static PackedTime fromFields(int year, int month, int day, int hour, int minute, int second);
  int year() const { return 2000 + static_cast<int>(raw >> 26); }
  int month() const { return static_cast<int>((raw >> 22) & 0xF); }
  int day() const { return static_cast<int>((raw >> 17) & 0x1F); }
  int hour() const { return static_cast<int>((raw >> 12) & 0x1F); }
  int minute() const { return static_cast<int>((raw >> 6) & 0x3F); }
  int second() const { return static_cast<int>(raw & 0x3F); }
  CalendarTime calendar() const { return {year(), month(), day(), hour(), minute(), second()}; }

  // The recorders' own bounds: non-zero, year not past the window's last, month < 13, hour < 25,
  // minute and second <= 60; the day and a lower year are not tested.
  bool plausible(const YearWindow& years) const;
  // ((year*16 + month)*32 + day)*32 + hour with the full year.
  std::uint32_t hourCode() const { return (raw >> 12) + 32768000u; }
};

// Packet gap test: does packet time a continue a run ending at b (0..59 s, 12-day months)?
bool packedGapContinues(PackedTime a, PackedTime b);
// The same as a run rule: packed times are wall-clock fields, the zone does not apply.
bool packedRunContinues(const TimeZone& zone, std::uint32_t a, std::uint32_t b);

// Time convention of brands that keep PackedTime: calendar from the fields, join within an hour.
TimeConvention packedTimeConvention();

}  // namespace norvale
