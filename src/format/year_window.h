#pragma once
// The years a recorder's clock may plausibly show. Every design's time test reads its times
// against one window: a time outside it marks bytes that are no recording. A task keeps its
// window, so a rescan or a resumed scan judges times as the first scan did.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace norvale {

struct YearWindow {
  // Default-constructed: the window of every task written before tasks kept one.
  int first = 2010;
  int last = 2020;

  // The widest window a task may keep: every year a 32-bit count of seconds since 1970 reaches.
  static constexpr int kEarliestYear = 1970;
  static constexpr int kLatestYear = 2099;

  static constexpr YearWindow legacy() { return YearWindow{}; }
  // A new scan's window: 2010 up to the year after the workstation's current year, so that a
  // recorder whose clock runs somewhat ahead is still read.
  static YearWindow forNewScan(std::time_t now = std::time(nullptr));
  // "FIRST-LAST" (blanks around either ignored); empty when it does not parse, FIRST > LAST,
  // or a year lies outside kEarliestYear..kLatestYear.
  static std::optional<YearWindow> parse(std::string_view text);

  bool valid() const { return kEarliestYear <= first && first <= last && last <= kLatestYear; }
  // For the designs that test both bounds.
  bool contains(int year) const { return year >= first && year <= last; }
  // For the designs that test no lower year.
  bool notPast(int year) const { return year <= last; }
  // Seconds since 1970 (no zone) of January 1 of the first year, and of the year after the last.
  std::int64_t firstSecond() const;
  std::int64_t endSecond() const;
  // A time on a calendar without a zone (seconds since 1970): non-zero and not past the last year.
  bool plainSecondsNotPast(std::uint32_t seconds) const {
    return seconds != 0 && static_cast<std::int64_t>(seconds) < endSecond();
  }
  // "2010-2027"
  std::string text() const;

  bool operator==(const YearWindow&) const = default;
};

// "2010年至2027年": the window as the task information and the report show it.
std::string yearWindowText(const YearWindow& years);

}  // namespace norvale
