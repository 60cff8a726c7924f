#include "format/time_zone.h"

#include <absl/time/time.h>

#include <ctime>
#include <limits>
#include <map>
#include <mutex>

namespace norvale {

struct TimeZone::Rules {
  absl::TimeZone zone;
};

namespace {

// The last local hours converted, per thread (a pure memo). Scans and the grouping pass convert
// millions of times that mostly fall in the same hour; within an hour without a zone change the
// fields follow from the offset. An hour is kept only when its first and last seconds read as
// that hour, so an hour that holds a zone change is always converted in full. Two hours are
// kept, since the join rule compares times of neighbouring hours in turn.
struct HourMemo {
  const TimeZone* zone = nullptr;  // null: empty slot
  std::int64_t start = 0;
  CalendarTime base;
};
thread_local HourMemo t_hours[2];
thread_local int t_nextSlot = 0;

bool sameHour(const std::optional<CalendarTime>& x, const CalendarTime& c, int minute, int second) {
  return x && x->year == c.year && x->month == c.month && x->day == c.day && x->hour == c.hour && x->minute == minute &&
         x->second == second;
}

std::optional<CalendarTime> libraryLocalTime(std::int64_t epochSeconds) {
  if (epochSeconds < std::numeric_limits<std::time_t>::min() || epochSeconds > std::numeric_limits<std::time_t>::max())
    return std::nullopt;
  const std::time_t t = static_cast<std::time_t>(epochSeconds);
  std::tm tm{};
#ifdef _WIN32
  if (localtime_s(&tm, &t) != 0) return std::nullopt;
#else
  if (!localtime_r(&t, &tm)) return std::nullopt;
#endif
  return CalendarTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

}  // namespace

std::string zoneText(const std::string& name) {
  if (!name.empty()) return name;
  const std::string workstation = workstationZoneName();
  return workstation.empty() ? "本机时区" : "本机时区 (" + workstation + ")";
}

void resetLocalTimeMemo() { t_hours[0] = t_hours[1] = HourMemo{}; }

TimeZone::TimeZone(std::string name, std::unique_ptr<const Rules> rules)
    : m_name(std::move(name)), m_rules(std::move(rules)) {}

TimeZone::~TimeZone() = default;

const TimeZone& TimeZone::workstation() {
  static const TimeZone zone({}, nullptr);
  return zone;
}

bool isZoneName(std::string_view name) {
  if (name.empty() || name.size() > kMaxZoneNameLength || name == "localtime") return false;
  std::size_t partStart = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '/') {
      const std::string_view part = name.substr(partStart, i - partStart);
      if (part.empty() || part == "." || part == "..") return false;
      partStart = i + 1;
      continue;
    }
    const char c = name[i];
    const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                         c == '-' || c == '+';
    if (!allowed) return false;
  }
  return true;
}

Result<const TimeZone*> TimeZone::named(std::string_view name) {
  if (!isZoneName(name))
    return fail(ErrorCode::InvalidArgument,
                "\"" + std::string(name) + "\" is not a time zone name (such as Asia/Shanghai)");
  // Loaded zones are never freed: tasks, views and worker threads keep plain pointers to them.
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<TimeZone>, std::less<>> loaded;
  const std::lock_guard lock(mutex);
  if (auto it = loaded.find(name); it != loaded.end()) return it->second.get();
  absl::TimeZone zone;
  if (!absl::LoadTimeZone(std::string(name), &zone))
    return fail(ErrorCode::NotFound,
                "the time zone " + std::string(name) + " is not in this workstation's zone database");
  auto rules = std::make_unique<const Rules>(Rules{zone});
  auto made = std::unique_ptr<TimeZone>(new TimeZone(std::string(name), std::move(rules)));
  const TimeZone* result = made.get();
  loaded.emplace(std::string(name), std::move(made));
  return result;
}

std::optional<CalendarTime> TimeZone::convert(std::int64_t epochSeconds) const {
  if (!m_rules) return libraryLocalTime(epochSeconds);
  const absl::TimeZone::CivilInfo info = m_rules->zone.At(absl::FromUnixSeconds(epochSeconds));
  const auto year = info.cs.year();
  if (year < std::numeric_limits<int>::min() / 2 || year > std::numeric_limits<int>::max() / 2) return std::nullopt;
  return CalendarTime{static_cast<int>(year), info.cs.month(), info.cs.day(), info.cs.hour(), info.cs.minute(),
                      info.cs.second()};
}

std::optional<CalendarTime> TimeZone::calendar(std::int64_t t) const {
  for (const HourMemo& hour : t_hours) {
    if (hour.zone == this && t >= hour.start && t - hour.start < 3600) {
      CalendarTime c = hour.base;
      c.minute = static_cast<int>((t - hour.start) / 60);
      c.second = static_cast<int>((t - hour.start) % 60);
      return c;
    }
  }
  auto c = convert(t);
  if (!c || c->second > 59) return c;  // leap seconds are left to the library
  const std::int64_t start = t - c->minute * 60 - c->second;
  // Both ends of the hour must read as that hour: a zone change anywhere inside it shifts one.
  if (sameHour(convert(start), *c, 0, 0) && sameHour(convert(start + 3599), *c, 59, 59)) {
    HourMemo& slot = t_hours[t_nextSlot];
    t_nextSlot ^= 1;
    slot.zone = this;
    slot.start = start;
    slot.base = *c;
    slot.base.minute = 0;
    slot.base.second = 0;
  }
  return c;
}

}  // namespace norvale
