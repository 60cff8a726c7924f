// Named recorder zones: read as the C library reads the same zone, never from the process's TZ,
// safe across threads; the workstation's zone name; plausibility in the recorder's zone.
#include <gtest/gtest.h>

#include <ctime>
#include <thread>
#include <vector>

#include "format/local_time.h"
#include "format/records.h"
#include "format/time_zone.h"
#include "format/utc_time.h"
#include "support/test_support.h"

namespace norvale {
namespace {

const TimeZone& zone(const char* name) {
  auto found = TimeZone::named(name);
  EXPECT_TRUE(found) << name << ": " << (found ? "" : found.error().message);
  return found ? **found : TimeZone::workstation();
}

CalendarTime library(std::int64_t t) {
  const std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
  localtime_r(&tt, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// Zones with whole-hour, half-hour and 30-minute daylight changes, a zone whose rules changed
// (Sao Paulo dropped its summer time in 2019), the zone that skipped 2011-12-30 to sit at UTC+14,
// and one far past the last transition (the POSIX rule of the zone file decides there).
TEST(NamedZone, ReadsAsTheLibraryReadsTheSameZone) {
  const char* names[] = {"America/New_York", "Australia/Lord_Howe", "Asia/Kolkata", "Europe/London",
                         "America/Sao_Paulo", "Pacific/Apia",        "Asia/Shanghai"};
  const std::int64_t bases[] = {1457848800, 1478408400, 1459605600, 1475330400, 1325239200, 1550372400, 4102444800};
  const TimeZone& other = zone("Asia/Tokyo");
  for (const char* name : names) {
    const TimeZone& named = zone(name);
    test::ZoneGuard guard(name);
    for (std::int64_t base : bases) {
      for (std::int64_t d = -20000; d < 20000; d += 97) {
        const std::int64_t t = base + d * (d % 2 ? 1 : -1);
        ASSERT_EQ(named.calendar(t), library(t)) << name << " " << t;
        // Conversions in another zone between those of this one must not leak through the memo.
        ASSERT_EQ(other.calendar(t), civilCalendar(t + 9 * 3600)) << t;
      }
    }
  }
}

TEST(NamedZone, IgnoresTheProcessZone) {
  const TimeZone& shanghai = zone("Asia/Shanghai");
  const CalendarTime eight{2016, 5, 17, 8, 0, 0};
  for (const char* tz : {"UTC", "America/New_York", "Pacific/Kiritimati"}) {
    test::ZoneGuard guard(tz);
    EXPECT_EQ(shanghai.calendar(1463443200), eight) << tz;
    EXPECT_NE(TimeZone::workstation().calendar(1463443200), eight) << tz;
  }
}

TEST(NamedZone, IsLoadedOnceAndSharedByThreads) {
  auto first = TimeZone::named("Europe/Berlin");
  auto second = TimeZone::named("Europe/Berlin");
  ASSERT_TRUE(first && second);
  EXPECT_EQ(*first, *second);
  EXPECT_EQ((*first)->name(), "Europe/Berlin");
  EXPECT_FALSE((*first)->isWorkstation());
  EXPECT_TRUE(TimeZone::workstation().isWorkstation());
  EXPECT_EQ(TimeZone::workstation().name(), "");

  // Each thread keeps converting in its own zone while the others do in theirs.
  const char* names[] = {"Europe/Berlin", "Asia/Shanghai", "America/Los_Angeles", "UTC"};
  std::vector<std::vector<CalendarTime>> expected(4);
  const std::int64_t start = 1451606400;  // 2016-01-01 UTC, every 7 hours and 13 s through the year
  for (int z = 0; z < 4; ++z) {
    test::ZoneGuard guard(names[z]);
    for (int i = 0; i < 1200; ++i) expected[z].push_back(library(start + i * 25213LL));
  }
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int z = 0; z < 4; ++z) {
    threads.emplace_back([&, z] {
      const TimeZone& tz = **TimeZone::named(names[z]);
      for (int round = 0; round < 20; ++round)
        for (int i = 0; i < 1200; ++i)
          if (tz.calendar(start + i * 25213LL) != expected[z][i]) ++mismatches[z];
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches, (std::vector<int>{0, 0, 0, 0}));
}

TEST(NamedZone, RefusesWhatIsNoZoneName) {
  for (const char* good : {"Asia/Shanghai", "UTC", "Etc/GMT+8", "America/Argentina/Buenos_Aires", "EST5EDT"})
    EXPECT_TRUE(isZoneName(good)) << good;
  for (const char* bad : {"", "localtime", "/etc/localtime", "../etc/passwd", "Asia/../Asia/Tokyo", "Asia//Tokyo",
                          "Asia/", "./UTC", ":Asia/Shanghai", "Asia/Shang hai", "Asia/Shanghai\n"})
    EXPECT_FALSE(isZoneName(bad)) << bad;
  EXPECT_FALSE(isZoneName(std::string(64, 'A')));
  EXPECT_TRUE(isZoneName(std::string(63, 'A')));

  for (const char* refused : {"localtime", "/usr/share/zoneinfo/Asia/Tokyo", "../zoneinfo/Asia/Tokyo"}) {
    auto r = TimeZone::named(refused);
    ASSERT_FALSE(r) << refused;
    EXPECT_EQ(r.error().code, ErrorCode::InvalidArgument);
  }
  // Shaped like names, but the database has no such zone: a folder, a POSIX rule, a made-up city.
  for (const char* unknown : {"Asia", "CST-8", "Nowhere/City"}) {
    auto r = TimeZone::named(unknown);
    ASSERT_FALSE(r) << unknown;
    EXPECT_EQ(r.error().code, ErrorCode::NotFound);
    EXPECT_NE(r.error().message.find(unknown), std::string::npos);
  }
}

TEST(WorkstationZone, NameComesFromTZWhenItNamesAZone) {
  const std::pair<const char*, const char*> cases[] = {
      {"Asia/Tokyo", "Asia/Tokyo"},
      {":Europe/Paris", "Europe/Paris"},
      {"/usr/share/zoneinfo/America/Chicago", "America/Chicago"},
      {"CST-8", ""},          // a rule without a name
      {"Nowhere/City", ""},   // not in the database
      {"/tmp/zoneinfo-less", ""},
  };
  for (const auto& [tz, name] : cases) {
    test::ZoneGuard guard(tz);
    EXPECT_EQ(workstationZoneName(), name) << tz;
  }
  EXPECT_EQ(zoneText("Asia/Tokyo"), "Asia/Tokyo");
  {
    test::ZoneGuard guard("Asia/Tokyo");
    EXPECT_EQ(zoneText(""), "本机时区 (Asia/Tokyo)");
  }
  test::ZoneGuard guard("CST-8");
  EXPECT_EQ(zoneText(""), "本机时区");
}

// Recorder times around the bounds of the plausible years, read in the recorder's zone.
TEST(LocalEpoch, PlausibilityIsJudgedInTheRecordersZone) {
  test::ZoneGuard guard("UTC");  // the process's zone must not matter
  const TimeZone& shanghai = zone("Asia/Shanghai");
  const TimeZone& honolulu = zone("Pacific/Honolulu");
  const TimeZone& utc = zone("UTC");
  const std::uint32_t shanghaiNewYear2010 = 1262275200;  // 2010-01-01 00:00 in Shanghai
  EXPECT_TRUE(plausibleLocalEpoch(shanghai, YearWindow::legacy(), shanghaiNewYear2010));
  EXPECT_FALSE(plausibleLocalEpoch(shanghai, YearWindow::legacy(), shanghaiNewYear2010 - 1));
  EXPECT_FALSE(plausibleLocalEpoch(utc, YearWindow::legacy(), shanghaiNewYear2010));
  EXPECT_FALSE(plausibleLocalEpoch(TimeZone::workstation(), YearWindow::legacy(), shanghaiNewYear2010));
  const std::uint32_t honoluluLastSecond = 1609495199;  // 2020-12-31 23:59:59 in Honolulu
  EXPECT_TRUE(plausibleLocalEpoch(honolulu, YearWindow::legacy(), honoluluLastSecond));
  EXPECT_FALSE(plausibleLocalEpoch(honolulu, YearWindow::legacy(), honoluluLastSecond + 1));
  EXPECT_FALSE(plausibleLocalEpoch(utc, YearWindow::legacy(), honoluluLastSecond));
  for (const TimeZone* z : {&shanghai, &honolulu, &utc}) {
    EXPECT_TRUE(plausibleLocalEpoch(*z, YearWindow::legacy(), 1463443200));
    EXPECT_FALSE(plausibleLocalEpoch(*z, YearWindow::legacy(), 0));
    EXPECT_FALSE(plausibleLocalEpoch(*z, YearWindow::legacy(), 0xFFFFFFFFu));
  }
  EXPECT_EQ(localHourCode(shanghai, 1463443200), calendarCode(2016, 5, 17, 8));
  EXPECT_EQ(localHourCode(honolulu, 1463443200), calendarCode(2016, 5, 16, 14));
}

}  // namespace
}  // namespace norvale
