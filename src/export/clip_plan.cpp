#include "export/clip_plan.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>
#include <set>

#include "format/utc_time.h"

namespace norvale {

Result<CalendarTime> parseShownTime(std::string_view text) {
  const std::string s(text);
  CalendarTime c;
  char tail = 0;
  const bool read = s.size() == 19 && std::sscanf(s.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &c.year, &c.month, &c.day,
                                                  &c.hour, &c.minute, &c.second, &tail) == 6;
  // Fields out of range would carry over (day 32 = the next month's 1st): such a time is refused.
  if (!read || c.year < 1970 || c.month < 1 || c.month > 12 || c.day < 1 || c.hour > 23 || c.minute > 59 ||
      c.second > 59 || civilCalendar(civilSeconds(c)) != c)
    return fail(ErrorCode::InvalidArgument, "\"" + s + "\" is not a time as YYYY-MM-DD HH:MM:SS");
  return c;
}

std::optional<std::int64_t> shownSeconds(const TimeConvention& convention, std::uint32_t time) {
  const auto c = convention.shownCalendar(time);
  if (!c) return std::nullopt;
  return civilSeconds(*c);
}

std::optional<ClipSpan> recordedSpan(const TimeConvention& convention, const FileEntry& entry) {
  const auto start = shownSeconds(convention, entry.startTime);
  const auto end = shownSeconds(convention, entry.endTime);
  if (!start || !end) return std::nullopt;
  // A wall clock set back (daylight saving's end) may show the end before the start.
  return ClipSpan{*start, std::max(*start, *end) + 1};
}

std::string compactTime(std::int64_t seconds) {
  return compactDateTimeText(civilCalendar(seconds));
}

std::string windowTimeText(std::int64_t seconds) {
  return dateTimeText(civilCalendar(seconds));
}

namespace {

struct Placed {
  std::uint64_t position;
  FileEntry entry;
  ClipSpan recorded;
};

std::string clipFileName(std::uint8_t channel, ClipSpan window) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "CH%02u_", static_cast<unsigned>(channel));
  return buf + compactTime(window.from) + "_" + compactTime(window.to) + ".mp4";
}

ClipPlan planChannel(std::uint8_t channel, ClipSpan window, std::vector<Placed> placed,
                     std::vector<std::uint64_t> undated) {
  ClipPlan plan;
  plan.channel = channel;
  plan.window = window;
  plan.undated = std::move(undated);
  plan.fileName = clipFileName(channel, window);
  std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
    return a.recorded.from != b.recorded.from ? a.recorded.from < b.recorded.from : a.position < b.position;
  });
  // The earliest-starting recording keeps the time it covers; a later one overlapping it gives
  // up that time and is used only past its end.
  std::int64_t reach = std::numeric_limits<std::int64_t>::min();
  std::uint64_t reachedBy = 0;
  for (const Placed& p : placed) {
    const ClipSpan inWindow{std::max(p.recorded.from, window.from), std::min(p.recorded.to, window.to)};
    if (inWindow.to <= inWindow.from) continue;
    if (inWindow.from < reach) {
      const ClipSpan overlapped{inWindow.from, std::min(reach, inWindow.to)};
      plan.setAside.push_back({p.position, p.entry, overlapped, reachedBy});
    }
    const ClipSpan used{std::max(inWindow.from, reach), inWindow.to};
    if (used.to <= used.from) continue;
    plan.entries.push_back({p.position, p.entry, p.recorded, used});
    if (!plan.covered.empty() && plan.covered.back().to == used.from) plan.covered.back().to = used.to;
    else plan.covered.push_back(used);
    reach = used.to;
    reachedBy = p.position;
  }
  std::int64_t at = window.from;
  for (const ClipSpan& c : plan.covered) {
    if (c.from > at) plan.gaps.push_back({at, c.from});
    at = c.to;
  }
  if (at < window.to) plan.gaps.push_back({at, window.to});
  return plan;
}

std::string channelList(const std::set<std::uint8_t>& channels) {
  std::string text;
  for (auto c : channels) text += (text.empty() ? "" : ", ") + std::to_string(c);
  return text.empty() ? "none" : text;
}

}  // namespace

Result<std::vector<ClipPlan>> planClips(const FileMap& fileMap, const TimeConvention& convention, ClipSpan window,
                                        const std::vector<std::uint8_t>& channels) {
  if (window.to <= window.from)
    return fail(ErrorCode::InvalidArgument, "the window ends at " + windowTimeText(window.to) +
                                                ", not after it starts at " + windowTimeText(window.from));
  std::map<std::uint8_t, std::vector<Placed>> placed;
  std::map<std::uint8_t, std::vector<std::uint64_t>> undated;
  std::set<std::uint8_t> present;
  std::uint64_t position = 0;
  for (const auto& [key, entry] : fileMap) {
    present.insert(entry.channel);
    if (const auto span = recordedSpan(convention, entry)) placed[entry.channel].push_back({position, entry, *span});
    else undated[entry.channel].push_back(position);
    ++position;
  }
  std::vector<std::uint8_t> chosen = channels;
  if (chosen.empty()) chosen.assign(present.begin(), present.end());
  for (auto c : chosen)
    if (!present.count(c))
      return fail(ErrorCode::InvalidArgument, "the task has no channel " + std::to_string(c) +
                                                  " (its channels: " + channelList(present) + ")");
  std::vector<ClipPlan> plans;
  std::set<std::uint8_t> done;
  for (auto c : chosen) {
    if (!done.insert(c).second) continue;
    plans.push_back(planChannel(c, window, std::move(placed[c]), std::move(undated[c])));
  }
  return plans;
}

Result<std::vector<ClipPlan>> planClips(const FileMap& fileMap, const TimeConvention& convention,
                                        const ClipRequest& request) {
  auto from = parseShownTime(request.from);
  if (!from) return fail(ErrorCode::InvalidArgument, "--from: " + from.error().message);
  auto to = parseShownTime(request.to);
  if (!to) return fail(ErrorCode::InvalidArgument, "--to: " + to.error().message);
  const ClipSpan window{civilSeconds(*from), civilSeconds(*to)};
  if (window.to <= window.from)
    return fail(ErrorCode::InvalidArgument,
                "--to " + request.to + " must be later than --from " + request.from + ": the window would be empty");
  return planClips(fileMap, convention, window, request.channels);
}

}  // namespace norvale
