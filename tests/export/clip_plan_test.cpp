// The plan of a clip: which file entries of each channel fill a time window, what they cover,
// the gaps between them and the wrong windows refused.
#include "export/clip_plan.h"

#include <gtest/gtest.h>

#include "format/local_time.h"
#include "format/time_zone.h"
#include "format/utc_time.h"

namespace norvale {
namespace {

constexpr std::int64_t kShanghai = 8 * 3600;

TimeConvention shanghai(std::int64_t correction = 0) {
  TimeConvention c = localEpochConvention();
  c.zone = *TimeZone::named("Asia/Shanghai");
  c.correction = correction;
  return c;
}

// Recorder time of a Shanghai wall-clock time "DD HH:MM:SS" in March 2024.
std::uint32_t at(const std::string& dayAndTime) {
  CalendarTime c{2024, 3, 0, 0, 0, 0};
  std::sscanf(dayAndTime.c_str(), "%d %d:%d:%d", &c.day, &c.hour, &c.minute, &c.second);
  return static_cast<std::uint32_t>(civilSeconds(c) - kShanghai);
}

struct Recording {
  std::uint8_t channel;
  std::string start, end;  // "DD HH:MM:SS", recorder's clock
};

FileMap fileMapOf(const std::vector<Recording>& recordings, const TimeConvention& convention) {
  FileMap map;
  for (const auto& r : recordings) {
    FileEntry e;
    e.channel = r.channel;
    e.startTime = at(r.start);
    e.endTime = at(r.end);
    e.size = 1000;
    map.emplace(fileMapKey(r.channel, dayCode(convention, e.startTime)), e);
  }
  return map;
}

// "DD HH:MM:SS-DD HH:MM:SS" of a span.
std::string text(ClipSpan s) {
  auto one = [](std::int64_t t) {
    const CalendarTime c = civilCalendar(t);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d %02d:%02d:%02d", c.day, c.hour, c.minute, c.second);
    return std::string(buf);
  };
  return one(s.from) + "-" + one(s.to);
}
std::vector<std::string> texts(const std::vector<ClipSpan>& spans) {
  std::vector<std::string> out;
  for (auto s : spans) out.push_back(text(s));
  return out;
}
// Start times of the used entries, recorder's clock as given.
std::vector<std::string> usedStarts(const ClipPlan& plan, const std::vector<Recording>& recordings) {
  std::vector<std::string> out;
  for (const auto& e : plan.entries)
    for (const auto& r : recordings)
      if (at(r.start) == e.entry.startTime && r.channel == e.entry.channel) out.push_back(r.start);
  return out;
}

struct PlanCase {
  const char* name;
  std::vector<Recording> recordings;
  std::string from, to;
  std::int64_t correction;
  // Channel 1's plan.
  std::vector<std::string> used;  // start times of the entries used, in order
  std::vector<std::string> covered;
  std::vector<std::string> gaps;
  std::vector<std::string> setAside;
};

class ClipPlanCases : public ::testing::TestWithParam<PlanCase> {};

TEST_P(ClipPlanCases, ChoosesEntriesCoveredAndGaps) {
  const PlanCase& c = GetParam();
  const TimeConvention convention = shanghai(c.correction);
  const FileMap map = fileMapOf(c.recordings, convention);
  auto plans = planClips(map, convention, ClipRequest{c.from, c.to, {1}});
  ASSERT_TRUE(plans) << plans.error().message;
  ASSERT_EQ(plans->size(), 1u);
  const ClipPlan& plan = plans->front();
  EXPECT_EQ(usedStarts(plan, c.recordings), c.used);
  EXPECT_EQ(texts(plan.covered), c.covered);
  EXPECT_EQ(texts(plan.gaps), c.gaps);
  std::vector<ClipSpan> setAside;
  for (const auto& s : plan.setAside) setAside.push_back(s.span);
  EXPECT_EQ(texts(setAside), c.setAside);
  EXPECT_EQ(plan.hasRecordings(), !c.used.empty());
  // The used spans tile the covered ones; covered and gaps tile the window.
  std::int64_t usedSeconds = 0, coveredSeconds = 0, gapSeconds = 0;
  for (const auto& e : plan.entries) usedSeconds += e.used.seconds();
  for (auto s : plan.covered) coveredSeconds += s.seconds();
  for (auto s : plan.gaps) gapSeconds += s.seconds();
  EXPECT_EQ(usedSeconds, coveredSeconds);
  EXPECT_EQ(coveredSeconds + gapSeconds, plan.window.seconds());
}

INSTANTIATE_TEST_SUITE_P(
    Windows, ClipPlanCases,
    ::testing::Values(
        PlanCase{"InsideOneFile", {{1, "05 13:00:00", "05 15:59:59"}}, "2024-03-05 14:00:00", "2024-03-05 15:00:00", 0,
                 {"05 13:00:00"}, {"05 14:00:00-05 15:00:00"}, {}, {}},
        PlanCase{"TwoFilesWithAGap",
                 {{1, "05 14:10:00", "05 14:29:59"}, {1, "05 14:40:00", "05 14:49:59"}, {2, "05 14:00:00", "05 14:59:59"}},
                 "2024-03-05 14:00:00", "2024-03-05 15:00:00", 0, {"05 14:10:00", "05 14:40:00"},
                 {"05 14:10:00-05 14:30:00", "05 14:40:00-05 14:50:00"},
                 {"05 14:00:00-05 14:10:00", "05 14:30:00-05 14:40:00", "05 14:50:00-05 15:00:00"}, {}},
        // The file map keeps the two under different days; the plan joins them in time order.
        PlanCase{"AcrossMidnight",
                 {{1, "06 00:00:00", "06 00:59:59"}, {1, "05 23:00:00", "05 23:59:59"}},
                 "2024-03-05 23:30:00", "2024-03-06 00:30:00", 0, {"05 23:00:00", "06 00:00:00"},
                 {"05 23:30:00-06 00:30:00"}, {}, {}},
        PlanCase{"BeforeFirstAfterLast",
                 {{1, "05 10:00:00", "05 10:59:59"}, {1, "05 11:00:00", "05 11:29:59"}},
                 "2024-03-05 09:00:00", "2024-03-05 12:00:00", 0, {"05 10:00:00", "05 11:00:00"},
                 {"05 10:00:00-05 11:30:00"}, {"05 09:00:00-05 10:00:00", "05 11:30:00-05 12:00:00"}, {}},
        PlanCase{"NothingInTheWindow",
                 {{1, "05 10:00:00", "05 10:59:59"}, {1, "05 12:00:00", "05 12:59:59"}},
                 "2024-03-05 11:00:00", "2024-03-05 12:00:00", 0, {}, {}, {"05 11:00:00-05 12:00:00"}, {}},
        // The earlier start keeps its time: the second is used only past the first's end, the
        // third (inside the first) not at all.
        PlanCase{"OverlappingRecordings",
                 {{1, "05 14:00:00", "05 14:29:59"}, {1, "05 14:20:00", "05 14:44:59"}, {1, "05 14:05:00", "05 14:09:59"}},
                 "2024-03-05 14:00:00", "2024-03-05 15:00:00", 0, {"05 14:00:00", "05 14:20:00"},
                 {"05 14:00:00-05 14:45:00"}, {"05 14:45:00-05 15:00:00"},
                 {"05 14:05:00-05 14:10:00", "05 14:20:00-05 14:30:00"}},
        // The recorder ran an hour slow: 13:30 on its clock is 14:30 shown.
        PlanCase{"ClockCorrection", {{1, "05 13:30:00", "05 14:29:59"}}, "2024-03-05 14:00:00", "2024-03-05 15:00:00",
                 3600, {"05 13:30:00"}, {"05 14:30:00-05 15:00:00"}, {"05 14:00:00-05 14:30:00"}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ClipPlan, EveryChannelGetsAPlanAndOnlyThoseWithRecordingsAFile) {
  const TimeConvention convention = shanghai();
  const FileMap map =
      fileMapOf({{3, "05 14:00:00", "05 14:59:59"}, {1, "05 09:00:00", "05 09:59:59"}, {2, "05 14:30:00", "05 16:00:00"}},
                convention);
  auto plans = planClips(map, convention, ClipRequest{"2024-03-05 14:00:00", "2024-03-05 15:00:00", {}});
  ASSERT_TRUE(plans) << plans.error().message;
  ASSERT_EQ(plans->size(), 3u);
  EXPECT_EQ((*plans)[0].channel, 1);
  EXPECT_FALSE((*plans)[0].hasRecordings());
  EXPECT_TRUE((*plans)[1].hasRecordings());
  EXPECT_EQ((*plans)[2].fileName, "CH03_20240305-140000_20240305-150000.mp4");
  EXPECT_EQ((*plans)[1].entries.front().position, 1u);  // file-map order: channel 1, 2, 3
}

TEST(ClipPlan, RefusesWrongWindowsAndChannelsWithAClearMessage) {
  const TimeConvention convention = shanghai();
  const FileMap map = fileMapOf({{1, "05 14:00:00", "05 14:59:59"}}, convention);
  struct Wrong {
    ClipRequest request;
    const char* says;
  };
  for (const Wrong& w : std::vector<Wrong>{
           {{"2024-03-05 15:00:00", "2024-03-05 14:00:00", {}}, "must be later than --from"},
           {{"2024-03-05 14:00:00", "2024-03-05 14:00:00", {}}, "must be later than --from"},
           {{"2024-03-05 14:00", "2024-03-05 15:00:00", {}}, "--from: \"2024-03-05 14:00\" is not a time"},
           {{"2024-03-05 14:00:00", "2024-02-30 15:00:00", {}}, "--to: \"2024-02-30 15:00:00\" is not a time"},
           {{"2024-03-05 24:00:00", "2024-03-06 15:00:00", {}}, "--from:"},
           {{"2024-03-05 14:00:00x", "2024-03-06 15:00:00", {}}, "--from:"},
           {{"yesterday", "2024-03-06 15:00:00", {}}, "--from:"},
           {{"2024-03-05 14:00:00", "2024-03-05 15:00:00", {1, 7}}, "the task has no channel 7 (its channels: 1)"},
       }) {
    auto plans = planClips(map, convention, w.request);
    ASSERT_FALSE(plans) << w.request.from << " / " << w.request.to;
    EXPECT_EQ(plans.error().code, ErrorCode::InvalidArgument);
    EXPECT_NE(plans.error().message.find(w.says), std::string::npos) << plans.error().message;
  }
}

}  // namespace
}  // namespace norvale
