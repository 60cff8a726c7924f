#include "format/year_window.h"

#include <algorithm>
#include <charconv>

#include "format/utc_time.h"

namespace norvale {

YearWindow YearWindow::forNewScan(std::time_t now) {
  const CalendarTime today = civilCalendar(static_cast<std::int64_t>(now));
  YearWindow window;
  window.last = std::max(window.first, std::min(today.year + 1, kLatestYear));
  return window;
}

namespace {
std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::optional<int> year(std::string_view text) {
  text = trimmed(text);
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}
}  // namespace

std::optional<YearWindow> YearWindow::parse(std::string_view text) {
  const auto dash = text.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const auto first = year(text.substr(0, dash));
  const auto last = year(text.substr(dash + 1));
  if (!first || !last) return std::nullopt;
  const YearWindow window{*first, *last};
  if (!window.valid()) return std::nullopt;
  return window;
}

std::int64_t YearWindow::firstSecond() const { return civilSeconds(CalendarTime{first, 1, 1, 0, 0, 0}); }
std::int64_t YearWindow::endSecond() const { return civilSeconds(CalendarTime{last + 1, 1, 1, 0, 0, 0}); }

std::string YearWindow::text() const { return std::to_string(first) + "-" + std::to_string(last); }

std::string yearWindowText(const YearWindow& years) {
  return std::to_string(years.first) + "年至" + std::to_string(years.last) + "年";
}

}  // namespace norvale
