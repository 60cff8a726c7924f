// The recorder's clock: the correction moves what is shown and nothing the recorder wrote, and
// the task header keeps zone and correction in its clock block.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "base/byte_reader.h"
#include "format/local_time.h"
#include "format/packed_time.h"
#include "format/records.h"
#include "format/task_header.h"
#include "format/time_zone.h"
#include "format/utc_time.h"
#include "support/test_support.h"

namespace norvale {
namespace {

const TimeZone* zone(const char* name) { return *TimeZone::named(name); }

TimeConvention epochIn(const char* name, std::int64_t correction) {
  TimeConvention c = localEpochConvention();
  c.zone = zone(name);
  c.correction = correction;
  return c;
}

TEST(CivilCalendar, RoundTripsAndCarriesFieldsOutOfRange) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    const auto t = static_cast<std::int64_t>(rng() % 20'000'000'000ULL) - 10'000'000'000LL;  // 1653..2286
    ASSERT_EQ(civilSeconds(civilCalendar(t)), t) << t;
  }
  for (std::uint32_t t : {0u, 951782400u, 1456790399u, 0xFFFFFFFFu}) EXPECT_EQ(civilCalendar(t), utcCalendar(t));
  EXPECT_EQ(civilCalendar(-1), (CalendarTime{1969, 12, 31, 23, 59, 59}));
  // Day 0 is the month before's last, hour 24 the next midnight, month 13 the next January.
  EXPECT_EQ(civilCalendar(civilSeconds({2016, 3, 0, 24, 0, 0})), (CalendarTime{2016, 3, 1, 0, 0, 0}));
  EXPECT_EQ(civilCalendar(civilSeconds({2015, 13, 1, 0, 60, 0})), (CalendarTime{2016, 1, 1, 1, 0, 0}));
  EXPECT_EQ(civilCalendar(civilSeconds({2016, 0, 31, 0, 0, 0})), (CalendarTime{2015, 12, 31, 0, 0, 0}));
}

TEST(ClockCorrection, MovesShownTimesOfEpochBrandsAsInstants) {
  // 2016-03-13 01:30 EST; an hour later the clocks of New York read 03:30 EDT.
  const std::uint32_t t = 1457850600;
  const TimeConvention plain = epochIn("America/New_York", 0);
  const TimeConvention ahead = epochIn("America/New_York", 3600);
  EXPECT_EQ(timeText(plain, t), "2016年03月13日 01时30分00秒");
  EXPECT_EQ(timeText(ahead, t), "2016年03月13日 03时30分00秒");
  EXPECT_EQ(fileNameTime(ahead, t), "20160313-033000");
  EXPECT_EQ(timeText(ahead.asRecorded(), t), "2016年03月13日 01时30分00秒");
  // Days follow the shown time, across a year's end too.
  const std::uint32_t shanghaiNewYear = 1451577600;  // 2016-01-01 00:00 Shanghai
  EXPECT_EQ(dayCode(epochIn("Asia/Shanghai", 0), shanghaiNewYear), calendarCode(2016, 1, 1));
  EXPECT_EQ(dayCode(epochIn("Asia/Shanghai", -1), shanghaiNewYear), calendarCode(2015, 12, 31));
  EXPECT_EQ(timeText(epochIn("Asia/Shanghai", -1), shanghaiNewYear), "2015年12月31日 23时59分59秒");
  // A century either way still has a calendar.
  EXPECT_EQ(timeText(epochIn("UTC", -kMaxClockCorrection), 0), "1869年10月17日 00时00分00秒");
  EXPECT_EQ(timeText(epochIn("UTC", kMaxClockCorrection), 0xFFFFFFFFu), "2206年04月24日 06时28分15秒");
}

TEST(ClockCorrection, MovesPackedFieldsAndKeepsUnknownDatesUnknown) {
  TimeConvention packed = packedTimeConvention();
  packed.zone = zone("Pacific/Auckland");  // wall-clock fields: the zone does not apply
  const std::uint32_t leapEve = PackedTime::fromFields(2016, 2, 29, 23, 59, 30).raw;
  EXPECT_EQ(timeText(packed, leapEve), "2016年02月29日 23时59分30秒");
  packed.correction = 45;
  EXPECT_EQ(timeText(packed, leapEve), "2016年03月01日 00时00分15秒");
  EXPECT_EQ(dayCode(packed, leapEve), calendarCode(2016, 3, 1));
  packed.correction = -(30 + 59 * 60 + 23 * 3600 + 29 * 86400 + 31 * 86400);
  EXPECT_EQ(timeText(packed, leapEve), "2015年12月31日 00时00分00秒");

  // Brands that write 0 where they have no date keep "no date" whatever the correction.
  TimeConvention none;
  none.correction = 3600;
  EXPECT_EQ(timeText(none, 1463443200), "未知日期");
  EXPECT_EQ(dayCode(none, 1463443200), 0u);
  EXPECT_EQ(fileNameTime(none, 1463443200), "unknown");
  EXPECT_FALSE(none.joins(1, 2));
}

TEST(ClockCorrection, LeavesTheRecordersClockToTheJoinRuleAndCalendar) {
  // A record ending an hour after the file's start joins it, a second later not, whatever the
  // correction: the rule reads the recorder's clock.
  const std::uint32_t start = 1463417999;  // 2016-05-17 00:59:59 Shanghai
  for (std::int64_t correction : {0LL, 1LL, -3600LL, 86400LL * 20}) {
    const TimeConvention c = epochIn("Asia/Shanghai", correction);
    EXPECT_TRUE(c.joins(start, start + 3600)) << correction;
    EXPECT_FALSE(c.joins(start, start + 3601)) << correction;
    EXPECT_EQ(c.calendar(start), (CalendarTime{2016, 5, 17, 0, 59, 59})) << correction;
  }
  EXPECT_EQ(correctionText(0), "0 秒");
  EXPECT_EQ(correctionText(3600), "+3600 秒");
  EXPECT_EQ(correctionText(-75), "-75 秒");
}

TEST(ClockCorrection, TheZoneDecidesJoinsAndTheProcessZoneDoesNot) {
  // 2016-01-31 23:30 and 2016-02-01 00:10 in Shanghai: another month, and months count 12 days.
  const std::uint32_t january = 1454254200, february = 1454256600;
  test::ZoneGuard guard("UTC");
  EXPECT_FALSE(epochIn("Asia/Shanghai", 0).joins(january, february));
  EXPECT_TRUE(epochIn("UTC", 0).joins(january, february));
  TimeConvention workstation = localEpochConvention();
  EXPECT_TRUE(workstation.joins(january, february));
}

using namespace task_header;

std::array<std::uint8_t, kTaskHeaderSize> headerWith(const std::string& zoneName, std::int64_t correction) {
  TaskHeader h{1, 18, 1024, 4096, 10, zoneName, correction};
  return h.encode();
}

TEST(TaskHeaderClock, KeepsZoneAndCorrectionAtTheirOffsets) {
  const auto bytes = headerWith("America/Argentina/Buenos_Aires", -86400 * 400 - 7);
  EXPECT_EQ(bytes[kClockTagAt], 1);
  EXPECT_EQ(bytes[kClockTagAt + 1], 0);
  EXPECT_EQ(std::memcmp(&bytes[kZoneAt], "America/Argentina/Buenos_Aires\0", 31), 0);
  EXPECT_EQ(static_cast<std::int64_t>(le64(&bytes[kCorrectionAt])), -86400 * 400 - 7);
  for (std::size_t i = kReservedAt; i < kTaskHeaderSize; ++i) ASSERT_EQ(bytes[i], 0) << i;
  const auto decoded = TaskHeader::decode(bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->zone, "America/Argentina/Buenos_Aires");
  EXPECT_EQ(decoded->clockCorrection, -86400 * 400 - 7);
  EXPECT_EQ(decoded->brand, 18);
  EXPECT_EQ(decoded->endSector, 10u);

  const auto correctionOnly = TaskHeader::decode(headerWith("", kMaxClockCorrection));
  ASSERT_TRUE(correctionOnly);
  EXPECT_EQ(correctionOnly->zone, "");
  EXPECT_EQ(correctionOnly->clockCorrection, kMaxClockCorrection);
}

TEST(TaskHeaderClock, NoZoneAndNoCorrectionWriteTheHeaderOfOlderTasks) {
  const auto bytes = headerWith("", 0);
  for (std::size_t i = kClockTagAt; i < kTaskHeaderSize; ++i) ASSERT_EQ(bytes[i], 0) << i;
  const auto decoded = TaskHeader::decode(bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->zone, "");
  EXPECT_EQ(decoded->clockCorrection, 0);
}

TEST(TaskHeaderClock, RefusesClockBlocksNoTaskOfThisProgramWrites) {
  const auto good = headerWith("Asia/Shanghai", 30);
  ASSERT_TRUE(TaskHeader::decode(good));
  auto refused = [&](const char* why, auto change) {
    auto bytes = good;
    change(bytes);
    const auto decoded = TaskHeader::decode(bytes);
    EXPECT_FALSE(decoded) << why;
    if (!decoded) {
      EXPECT_EQ(decoded.error().code, ErrorCode::Corrupt) << why;
    }
  };
  using Bytes = std::array<std::uint8_t, kTaskHeaderSize>;
  refused("an unknown tag", [](Bytes& b) { b[kClockTagAt] = 2; });
  refused("a tag in the high byte", [](Bytes& b) { b[kClockTagAt + 1] = 1; });
  refused("a zone behind a zero tag", [](Bytes& b) { b[kClockTagAt] = 0; });
  refused("a correction behind a zero tag", [](Bytes& b) {
    std::fill(b.begin() + kClockTagAt, b.end(), 0);
    b[kCorrectionAt] = 1;
  });
  refused("bytes after the zone's NUL", [](Bytes& b) { b[kZoneAt + 40] = 'x'; });
  refused("a zone without its NUL", [](Bytes& b) { std::fill_n(b.begin() + kZoneAt, kZoneBytes, 'A'); });
  refused("a path for a zone", [](Bytes& b) { std::memcpy(&b[kZoneAt], "../../etc/passwd", 16); });
  refused("a blank in the zone", [](Bytes& b) { b[kZoneAt + 4] = ' '; });
  refused("a correction past a century",
          [](Bytes& b) { putLe64(&b[kCorrectionAt], static_cast<std::uint64_t>(kMaxClockCorrection + 1)); });
  refused("the most negative correction", [](Bytes& b) { putLe64(&b[kCorrectionAt], 0x8000000000000000ULL); });
  refused("reserved bytes after the block", [](Bytes& b) { b[kTaskHeaderSize - 1] = 1; });
  refused("reserved bytes right after the block", [](Bytes& b) { b[kReservedAt] = 1; });
}

using HeaderBytes = std::array<std::uint8_t, kTaskHeaderSize>;

// The header decodes as it is and is refused once changed.
template <typename Change>
void expectRefused(const HeaderBytes& good, const char* why, Change change) {
  ASSERT_TRUE(TaskHeader::decode(good));
  HeaderBytes bytes = good;
  change(bytes);
  EXPECT_FALSE(TaskHeader::decode(bytes)) << why;
}

TEST(TaskHeaderCheckpoint, KeepsAnUnfinishedScansPositionBesideTheClock) {
  TaskHeader h{1, 18, 1024, 1 << 20, 0, "Asia/Shanghai", 30};
  h.checkpoint = TaskCheckpoint{2000, 1023 * 512 + 7, 256 + 37 * 9, 9, 123456};
  const auto bytes = h.encode();
  EXPECT_EQ(le16(&bytes[kCheckpointTagAt]), 1);
  EXPECT_EQ(le64(&bytes[kCheckpointSectorAt]), 2000u);
  EXPECT_EQ(le64(&bytes[kResumeOffsetAt]), 1023u * 512 + 7);
  EXPECT_EQ(le64(&bytes[kRawBytesAt]), 256u + 37 * 9);
  EXPECT_EQ(le64(&bytes[kFoundBytesAt]), 123456u);
  for (std::size_t i = kReservedAt; i < kTaskHeaderSize; ++i) ASSERT_EQ(bytes[i], 0) << i;
  const auto decoded = TaskHeader::decode(bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->checkpoint, h.checkpoint);
  EXPECT_EQ(decoded->zone, "Asia/Shanghai");

  // A finished scan clears the block: the header is the one of a scan never interrupted.
  h.checkpoint.reset();
  h.endSector = 2048;
  EXPECT_EQ(h.encode(), (TaskHeader{1, 18, 1024, 1 << 20, 2048, "Asia/Shanghai", 30}.encode()));
  ASSERT_TRUE(TaskHeader::decode(h.encode()));
  EXPECT_FALSE(TaskHeader::decode(h.encode())->checkpoint);

  // A checkpoint without a clock block: the zero clock tag does not cover the checkpoint.
  TaskHeader plain{0, 4, 0, 4096, 0};
  plain.checkpoint = TaskCheckpoint{8, 4096, 256, 0, 0};
  const auto plainDecoded = TaskHeader::decode(plain.encode());
  ASSERT_TRUE(plainDecoded);
  EXPECT_EQ(plainDecoded->checkpoint, plain.checkpoint);
}

TEST(TaskHeaderCheckpoint, RefusesCheckpointsNoScanWrites) {
  TaskHeader h{1, 18, 0, 1 << 20, 0};
  h.checkpoint = TaskCheckpoint{100, 100 * 512, 256, 0, 0};
  const auto good = h.encode();
  ASSERT_TRUE(TaskHeader::decode(good));
  using Bytes = HeaderBytes;
  auto refused = [&](const char* why, auto change) { expectRefused(good, why, change); };
  refused("an unknown tag", [](Bytes& b) { b[kCheckpointTagAt] = 2; });
  refused("fields behind a zero tag", [](Bytes& b) { b[kCheckpointTagAt] = 0; });
  refused("bytes between the tag and the fields", [](Bytes& b) { b[kCheckpointTagAt + 2] = 1; });
  refused("a resume point past the position", [](Bytes& b) { putLe64(&b[kResumeOffsetAt], 100 * 512 + 1); });
  refused("a raw file shorter than its header", [](Bytes& b) { putLe64(&b[kRawBytesAt], 255); });
  refused("a position no device has", [](Bytes& b) { putLe64(&b[kCheckpointSectorAt], ~0ULL); });
}

TEST(TaskHeaderYears, KeepsTheWindowAndReadsOldHeadersAs2010To2020) {
  TaskHeader h{1, 3, 0, 1 << 20, 2048, "Asia/Shanghai", 30};
  h.years = YearWindow{2000, 2030};
  const auto bytes = h.encode();
  EXPECT_EQ(le16(&bytes[kYearsTagAt]), 1);
  EXPECT_EQ(le16(&bytes[kFirstYearAt]), 2000);
  EXPECT_EQ(le16(&bytes[kLastYearAt]), 2030);
  for (std::size_t i = kReservedAt; i < kTaskHeaderSize; ++i) ASSERT_EQ(bytes[i], 0) << i;
  const auto decoded = TaskHeader::decode(bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->years, h.years);
  EXPECT_EQ(decoded->zone, "Asia/Shanghai");

  // The window every task had before tasks kept one is written as those tasks were: without a
  // block, so a task of it is byte for byte what an earlier version wrote.
  h.years = YearWindow::legacy();
  for (std::size_t i = kYearsTagAt; i < kTaskHeaderSize; ++i) ASSERT_EQ(h.encode()[i], 0) << i;
  ASSERT_TRUE(TaskHeader::decode(h.encode()));
  EXPECT_EQ(TaskHeader::decode(h.encode())->years, (YearWindow{2010, 2020}));
}

TEST(TaskHeaderYears, RefusesWindowsNoScanWrites) {
  TaskHeader h{1, 18, 0, 1 << 20, 0};
  h.years = YearWindow{2010, 2027};
  const auto good = h.encode();
  ASSERT_TRUE(TaskHeader::decode(good));
  using Bytes = HeaderBytes;
  auto refused = [&](const char* why, auto change) { expectRefused(good, why, change); };
  refused("an unknown tag", [](Bytes& b) { b[kYearsTagAt] = 2; });
  refused("years behind a zero tag", [](Bytes& b) { b[kYearsTagAt] = 0; });
  refused("a first year after the last", [](Bytes& b) { putLe16(&b[kFirstYearAt], 2028); });
  refused("a year before 1970", [](Bytes& b) { putLe16(&b[kFirstYearAt], 1969); });
  refused("a year no 32-bit time reaches", [](Bytes& b) { putLe16(&b[kLastYearAt], 2100); });
}

}  // namespace
}  // namespace norvale
