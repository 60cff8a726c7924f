#pragma once
// Seconds since 1970 read in the recorder's local time zone, as most recorders write them.
#include <cstdint>
#include <optional>

#include "format/time_convention.h"
#include "format/time_zone.h"
#include "format/year_window.h"

namespace norvale {

std::optional<CalendarTime> localCalendar(const TimeZone& zone, std::uint32_t epochSeconds);
// Hour code ((year*16+month)*32+day)*32+hour of the local calendar time; 0 when unconvertible.
std::uint32_t localHourCode(const TimeZone& zone, std::uint32_t epochSeconds);
// The local year lies in the window (the other fields are in range by construction).
bool plausibleLocalEpoch(const TimeZone& zone, const YearWindow& years, std::uint32_t epochSeconds);
// Local calendar, join when the record ends 0..3600 s after the file starts (12-day months).
TimeConvention localEpochConvention();

}  // namespace norvale
