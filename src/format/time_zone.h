#pragma once
// A recorder's time zone: an IANA zone of the system's zone database, read without touching the
// process's TZ, or the workstation's own zone (the process's TZ through the C library), which is
// how tasks that stored no zone read their times.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/error.h"
#include "format/time_convention.h"

namespace norvale {

inline constexpr std::size_t kMaxZoneNameLength = 63;

class TimeZone {
 public:
  // The zone of an IANA name ("Asia/Shanghai", "UTC"), loaded once and kept for the life of the
  // process, so the pointer stays valid and may be shared by any number of threads. Refuses
  // names that are no zone name (paths, "localtime", POSIX rule strings) and unknown zones.
  static Result<const TimeZone*> named(std::string_view name);
  // The workstation's zone: the process's TZ, as the C library reads it.
  static const TimeZone& workstation();

  // The IANA name; empty for the workstation's zone.
  const std::string& name() const { return m_name; }
  bool isWorkstation() const { return m_rules == nullptr; }
  // Calendar fields of an instant in this zone; empty when the instant has none (out of the
  // C library's range).
  std::optional<CalendarTime> calendar(std::int64_t epochSeconds) const;

  ~TimeZone();
  TimeZone(const TimeZone&) = delete;
  TimeZone& operator=(const TimeZone&) = delete;

  struct Rules;

 private:
  TimeZone(std::string name, std::unique_ptr<const Rules> rules);
  std::optional<CalendarTime> convert(std::int64_t epochSeconds) const;

  std::string m_name;
  std::unique_ptr<const Rules> m_rules;  // null: the C library's local time
};

// The workstation's zone or the given one.
inline const TimeZone& zoneOrWorkstation(const TimeZone* zone) { return zone ? *zone : TimeZone::workstation(); }

// Is this text shaped like an IANA zone name: 1..63 characters of letters, digits, '_', '-',
// '+' and '/', no empty, "." or ".." part, and not "localtime"? Says nothing of whether the zone
// exists.
bool isZoneName(std::string_view name);

// The IANA name of the workstation's zone: from TZ when it names a zone of the database, else
// from /etc/localtime or /etc/timezone; empty when it cannot be told (a POSIX rule string in
// TZ, no zone database), which keeps meaning "the workstation's zone".
std::string workstationZoneName();

// A task's zone as the report and the views show it: the name, or "本机时区" (with the
// workstation's zone name when it is known) for a task that keeps none.
std::string zoneText(const std::string& name);

// Forgets the memo of the last converted hours (after the process's TZ changed, e.g. in tests).
void resetLocalTimeMemo();

}  // namespace norvale
