#include <gtest/gtest.h>

#include "format/packed_time.h"
#include "parsers/run_accumulator.h"

namespace norvale {
namespace {

PackedTime pt(int y, int mo, int d, int h, int mi, int s) { return PackedTime::fromFields(y, mo, d, h, mi, s); }

TEST(PackedTimeTest, PlausibilityUsesTheRecordersOwnBounds) {
  EXPECT_FALSE(PackedTime{0}.plausible(YearWindow::legacy()));
  EXPECT_TRUE(pt(2020, 12, 31, 23, 59, 59).plausible(YearWindow::legacy()));
  EXPECT_FALSE(pt(2021, 1, 1, 0, 0, 0).plausible(YearWindow::legacy())) << "year offset 21";
  for (int month = 13; month <= 15; ++month) EXPECT_FALSE(pt(2016, month, 1, 0, 0, 0).plausible(YearWindow::legacy()));
  EXPECT_TRUE(pt(2016, 0, 0, 1, 0, 0).plausible(YearWindow::legacy())) << "month 0 and day 0 pass";
  EXPECT_TRUE(pt(2016, 5, 1, 24, 60, 60).plausible(YearWindow::legacy())) << "hour 24, minute and second 60 pass";
  EXPECT_FALSE(pt(2016, 5, 1, 25, 0, 0).plausible(YearWindow::legacy()));
  EXPECT_FALSE(pt(2016, 5, 1, 0, 61, 0).plausible(YearWindow::legacy()));
  EXPECT_FALSE(pt(2016, 5, 1, 0, 0, 61).plausible(YearWindow::legacy()));
}

TEST(PackedTimeTest, HourCodeIsTheFullYearCalendarCode) {
  const PackedTime t = pt(2016, 5, 17, 8, 30, 0);
  EXPECT_EQ(t.hourCode(), 33035816u);
  EXPECT_EQ(t.year(), 2016);
  EXPECT_EQ(t.minute(), 30);
}

TEST(PackedTimeTest, GapTestAllowsZeroToFiftyNineSeconds) {
  const PackedTime b = pt(2016, 5, 17, 8, 0, 0);
  EXPECT_TRUE(packedGapContinues(b, b));
  EXPECT_TRUE(packedGapContinues(pt(2016, 5, 17, 8, 0, 59), b));
  EXPECT_FALSE(packedGapContinues(pt(2016, 5, 17, 8, 1, 0), b));
  EXPECT_FALSE(packedGapContinues(pt(2016, 5, 17, 7, 59, 59), b)) << "earlier times never continue";
  EXPECT_TRUE(packedGapContinues(pt(2019, 5, 17, 8, 0, 1), b)) << "years are ignored";
}

TEST(PackedTimeTest, TimeTextAndDayCode) {
  const auto c = packedTimeConvention();
  EXPECT_EQ(timeText(c, pt(2016, 5, 17, 8, 3, 9).raw), "2016年05月17日 08时03分09秒");
  EXPECT_EQ(dayCode(c, pt(2016, 5, 17, 8, 3, 9).raw), calendarCode(2016, 5, 17));
  EXPECT_EQ(dayText(calendarCode(2016, 5, 17)), "2016年05月17日");
  EXPECT_EQ(dayText(0), "所有日期");
}

struct RunFixture {
  std::vector<SegmentRecord> added;
  RunAccumulator runs;
  explicit RunFixture(RunRules rules) : runs(rules, [this](const SegmentRecord& r) { added.push_back(r); }) {}
};

Packet packet(SegmentKind kind, std::uint32_t channel, PackedTime t, std::uint64_t offset, std::uint64_t length) {
  return Packet{kind, channel, t.raw, offset, length, length};
}

RunRules channelAndGap(std::uint64_t minimum) {
  RunRules r;
  r.breakRule = RunBreakRule::ChannelAndGap;
  r.minimumLength = minimum;
  r.continues = &packedRunContinues;
  return r;
}

TEST(RunAccumulatorTest, ChannelAndGapJoinsFramesAndRecordsTheFirstKeyOffset) {
  RunFixture f(channelAndGap(0));
  const auto t0 = pt(2016, 5, 17, 8, 0, 0);
  f.runs.accept(packet(SegmentKind::Other, 1, t0, 1000, 100));
  f.runs.accept(packet(SegmentKind::Key, 1, pt(2016, 5, 17, 8, 0, 30), 1100, 50));
  f.runs.accept(packet(SegmentKind::Other, 2, t0, 1150, 10));  // another channel breaks
  f.runs.finish();
  ASSERT_EQ(f.added.size(), 2u);
  EXPECT_EQ(f.added[0].kind, SegmentKind::Key);
  EXPECT_EQ(f.added[0].firstKeyOffset, 100);
  EXPECT_EQ(f.added[0].size, 150u);
  EXPECT_EQ(f.added[0].endTime, pt(2016, 5, 17, 8, 0, 30).raw);
  EXPECT_EQ(f.added[1].firstKeyOffset, -1) << "a run opened by a non-key packet has no key yet";
}

TEST(RunAccumulatorTest, GapOfAMinuteBreaksTheRun) {
  RunFixture f(channelAndGap(0));
  f.runs.accept(packet(SegmentKind::Key, 1, pt(2016, 5, 17, 8, 0, 0), 0, 10));
  f.runs.accept(packet(SegmentKind::Key, 1, pt(2016, 5, 17, 8, 1, 0), 10, 10));
  f.runs.finish();
  EXPECT_EQ(f.added.size(), 2u);
}

TEST(RunAccumulatorTest, RejectedPositionEndsTheRunAndTheAddRuleFiltersShortRuns) {
  RunFixture f(channelAndGap(1024));
  f.runs.accept(packet(SegmentKind::Key, 1, pt(2016, 5, 17, 8, 0, 0), 0, 1024));
  f.runs.reject();
  f.runs.accept(packet(SegmentKind::Key, 1, pt(2016, 5, 17, 8, 0, 0), 5000, 1025));
  f.runs.reject();
  f.runs.reject();
  f.runs.finish();
  ASSERT_EQ(f.added.size(), 1u) << "1024 bytes are dropped, 1025 kept, and nothing is added twice";
  EXPECT_EQ(f.added[0].deviceOffset, 5000u);
}

TEST(RunAccumulatorTest, GapOnlyVariantPassesTimeZeroAndAddsOnlyKeyRuns) {
  RunRules rules;
  rules.breakRule = RunBreakRule::GapOnly;
  rules.onlyKeyPacketsSetEnd = true;
  rules.keyPacketSetsStart = true;
  rules.addOnlyKeyRuns = true;
  rules.continues = &packedRunContinues;
  RunFixture f(rules);
  f.runs.accept(packet(SegmentKind::Other, 1, PackedTime{0}, 0, 10));
  f.runs.accept(packet(SegmentKind::Key, 2, pt(2016, 5, 17, 8, 0, 5), 10, 10));  // channel does not matter
  f.runs.accept(packet(SegmentKind::Other, 1, PackedTime{0}, 20, 10));
  f.runs.accept(packet(SegmentKind::Other, 1, pt(2016, 5, 17, 8, 0, 9), 30, 10));
  f.runs.finish();
  ASSERT_EQ(f.added.size(), 1u);
  EXPECT_EQ(f.added[0].size, 40u);
  EXPECT_EQ(f.added[0].startTime, pt(2016, 5, 17, 8, 0, 5).raw) << "the first key packet sets the start";
  EXPECT_EQ(f.added[0].endTime, pt(2016, 5, 17, 8, 0, 5).raw) << "only key packets move the end";

  RunFixture noKey(rules);
  noKey.runs.accept(packet(SegmentKind::Other, 1, pt(2016, 5, 17, 8, 0, 0), 0, 10));
  noKey.runs.finish();
  EXPECT_TRUE(noKey.added.empty());
}

}  // namespace
}  // namespace norvale

#include <ctime>

#include "format/local_time.h"
#include "support/test_support.h"

namespace norvale {
namespace {

// The memo of converted hours must give what the library gives, across zone changes too.
TEST(LocalCalendar, MatchesTheLibraryAcrossDaylightSavingChanges) {
  for (const char* zone : {"America/New_York", "Australia/Lord_Howe", "Asia/Kolkata", "UTC"}) {
    test::ZoneGuard guard(zone);
    // Around the 2016 changes in both hemispheres, every 97 seconds, in and out of order.
    for (std::uint32_t base : {1457848800u, 1478408400u, 1459605600u, 1475330400u}) {
      for (std::int64_t d = -20000; d < 20000; d += 97) {
        const std::uint32_t t = static_cast<std::uint32_t>(base + d * (d % 2 ? 1 : -1));
        const std::time_t tt = t;
        std::tm tm{};
        localtime_r(&tt, &tm);
        const auto c = localCalendar(TimeZone::workstation(), t);
        ASSERT_TRUE(c);
        ASSERT_EQ(c->hour, tm.tm_hour) << zone << " " << t;
        ASSERT_EQ(c->minute, tm.tm_min) << zone << " " << t;
        ASSERT_EQ(c->second, tm.tm_sec) << zone << " " << t;
        ASSERT_EQ(c->day, tm.tm_mday) << zone << " " << t;
      }
    }
  }
}

}  // namespace
}  // namespace norvale
