#pragma once
// Seconds since 1970 read in the machine's local time zone, as most recorders write them.
#include <cstdint>
#include <optional>

#include "format/time_convention.h"

namespace norvale {

std::optional<CalendarTime> localCalendar(std::uint32_t epochSeconds);
// Forgets the memo of the last converted hour (after the time zone changed, e.g. in tests).
void resetLocalTimeMemo();
// Hour code ((year*16+month)*32+day)*32+hour of the local calendar time; 0 when unconvertible.
std::uint32_t localHourCode(std::uint32_t epochSeconds);
// Year 2010-2020 in local time (the other fields are in range by construction).
bool plausibleLocalEpoch(std::uint32_t epochSeconds);
// Local calendar, join when the record ends 0..3600 s after the file starts (12-day months).
TimeConvention localEpochConvention();

}  // namespace norvale
