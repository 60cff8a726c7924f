#include "format/packed_time.h"

namespace norvale {

PackedTime PackedTime::fromFields(int year, int month, int day, int hour, int minute, int second) {
  return PackedTime{(static_cast<std::uint32_t>(year - 2000) << 26) | (static_cast<std::uint32_t>(month) << 22) |
                    (static_cast<std::uint32_t>(day) << 17) | (static_cast<std::uint32_t>(hour) << 12) |
                    (static_cast<std::uint32_t>(minute) << 6) | static_cast<std::uint32_t>(second)};
}

bool PackedTime::plausible(const YearWindow& years) const {
  return raw != 0 && years.notPast(year()) && month() < 13 && hour() < 25 && minute() <= 60 && second() <= 60;
}

bool packedGapContinues(PackedTime a, PackedTime b) {
  const std::int64_t d = twelveDayMonthSeconds(a.calendar(), b.calendar());
  return d >= 0 && d <= 59;
}

bool packedRunContinues(const TimeZone&, std::uint32_t a, std::uint32_t b) {
  return packedGapContinues(PackedTime{a}, PackedTime{b});
}

TimeConvention packedTimeConvention() {
  TimeConvention c;
  c.calendarIn = [](const TimeZone&, std::uint32_t t) -> std::optional<CalendarTime> {
    return PackedTime{t}.calendar();
  };
  c.joinsIn = [](const TimeZone&, std::uint32_t entryStart, std::uint32_t recordEnd) {
    const std::int64_t d = twelveDayMonthSeconds(PackedTime{recordEnd}.calendar(), PackedTime{entryStart}.calendar());
    return d >= 0 && d <= 3600;
  };
  return c;
}

}  // namespace norvale
