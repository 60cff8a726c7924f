// The plausible-year window: every design's time test reads its times against the task's window,
// so recordings of recent years are found by default, and the window moves both bounds.
#include <gtest/gtest.h>

#include "corpus/recorder_stream.h"
#include "format/local_time.h"
#include "format/packed_time.h"
#include "format/time_zone.h"
#include "format/utc_time.h"
#include "format/year_window.h"
#include "parsers/program_stream_parser.h"
#include "support/frame_parser_support.h"
#include "support/index_table_images.h"
#include "task/task_context.h"

namespace norvale::test {
namespace {

TEST(YearWindow, ParsesOnlyOrderedYearsItCanHold) {
  EXPECT_EQ(YearWindow::parse("2000-2030"), (YearWindow{2000, 2030}));
  EXPECT_EQ(YearWindow::parse(" 2015 - 2015 "), (YearWindow{2015, 2015}));
  for (const char* bad : {"", "2020", "2030-2000", "1969-2020", "2010-2100", "2010-", "-2020", "20x0-2020",
                          "2010-2020-2030", "+2010-2020"})
    EXPECT_FALSE(YearWindow::parse(bad)) << bad;
  EXPECT_EQ(YearWindow{}, YearWindow::legacy());
  EXPECT_EQ(YearWindow::legacy(), (YearWindow{2010, 2020}));
}

TEST(YearWindow, ANewScanReadsUpToTheYearAfterToday) {
  EXPECT_EQ(YearWindow::forNewScan(utcEpoch(2026, 12, 8, 17, 0, 0)), (YearWindow{2010, 2027}));
  EXPECT_EQ(YearWindow::forNewScan(utcEpoch(2024, 1, 1, 0, 0, 0)), (YearWindow{2010, 2025}));
  // A workstation clock set far back still reads the years a task always could.
  EXPECT_EQ(YearWindow::forNewScan(0), (YearWindow{2010, 2010}));
  EXPECT_EQ((YearWindow{2021, 2026}.firstSecond()), utcEpoch(2021, 1, 1, 0, 0, 0));
  EXPECT_EQ((YearWindow{2021, 2026}.endSecond()), utcEpoch(2027, 1, 1, 0, 0, 0));
}

// Each form of time a design tests, asked whether a time of the given year passes the window.
struct TimeForm {
  const char* name;
  bool testsFirstYear;
  bool (*accepts)(int year, const YearWindow& years);
};

bool packedAccepts(int year, const YearWindow& years) {
  return PackedTime::fromFields(year, 6, 15, 12, 0, 0).plausible(years);
}
bool localEpochAccepts(int year, const YearWindow& years) {
  const TimeZone& shanghai = **TimeZone::named("Asia/Shanghai");
  // Just inside the year on the recorder's clock: a UTC reading would put it in the year before.
  return plausibleLocalEpoch(shanghai, years, utcEpoch(year, 1, 1, 0, 30, 0) - 8 * 3600);
}
bool plainCalendarAccepts(int year, const YearWindow& years) {
  return years.plainSecondsNotPast(utcEpoch(year, 12, 31, 23, 59, 59));
}
bool utcIndexAccepts(int year, const YearWindow& years) {
  return plausibleIndexTime(utcEpoch(year, 12, 31, 23, 59, 59), years);
}
bool streamMapAccepts(int year, const YearWindow& years) {
  std::vector<std::uint8_t> map(24, 0);
  // The packed time big-endian from bit 2 of byte 16.
  const std::uint32_t t = PackedTime::fromFields(year, 6, 15, 12, 0, 0).raw;
  const std::uint32_t high = t >> 2;
  map[16] = static_cast<std::uint8_t>(high >> 24), map[17] = static_cast<std::uint8_t>(high >> 16);
  map[18] = static_cast<std::uint8_t>(high >> 8), map[19] = static_cast<std::uint8_t>(high);
  map[20] = static_cast<std::uint8_t>((t & 3) << 6);
  return streamMapTime(map.data(), years).has_value();
}

const TimeForm kForms[] = {
    {"packed (brands 2, 3, 7, 9-11 and 8's bit order)", false, &packedAccepts},
    {"seconds in the recorder's zone", true, &localEpochAccepts},
    {"plain calendar (brands 4, 17)", false, &plainCalendarAccepts},
    {"brand 1's UTC index", true, &utcIndexAccepts},
    {"brand 1's stream map", true, &streamMapAccepts},
};

TEST(YearWindow, EveryTimeFormReadsRecentYearsByDefaultAndHonoursBothBounds) {
  const YearWindow today = YearWindow::forNewScan(utcEpoch(2026, 12, 8, 12, 0, 0));
  for (const TimeForm& form : kForms) {
    SCOPED_TRACE(form.name);
    for (int year = 2021; year <= 2027; ++year) {
      EXPECT_TRUE(form.accepts(year, today)) << year;
      EXPECT_FALSE(form.accepts(year, YearWindow::legacy())) << year;
    }
    EXPECT_TRUE(form.accepts(2020, YearWindow::legacy()));
    EXPECT_FALSE(form.accepts(2028, today));
    const YearWindow moved{2000, 2030};
    EXPECT_TRUE(form.accepts(2030, moved));
    EXPECT_FALSE(form.accepts(2031, moved));
    // Designs that test no lower year read a reset clock's 2003 whatever the window says.
    EXPECT_EQ(form.accepts(2003, moved), true);
    EXPECT_EQ(form.accepts(2009, YearWindow::legacy()), !form.testsFirstYear);
  }
}

// The designs whose packet scan judges no time at all: their packets carry none.
bool deepScanIsUntimed(std::uint8_t brand) { return brand == 4 || brand == 13 || brand == 14 || brand == 15; }
// The designs whose deep scan tests no first year.
bool deepScanTestsNoFirstYear(std::uint8_t brand) {
  return brand == 2 || brand == 3 || brand == 8 || brand == 17;
}

std::vector<std::uint8_t> recordingOf(std::uint8_t brand, int year) {
  corpus::StreamLayout layout;
  layout.channels = 3;
  layout.seed = brand;
  layout.recordingSeconds = 4;
  layout.pauseSeconds = 60;
  layout.clockStart = utcEpoch(year, 3, 14, 9, 0, 0);
  corpus::MemoryImageWriter out;
  EXPECT_TRUE(corpus::writeRecorderImage(brand, layout, brand == 5 ? 6u << 20 : 3u << 20, out));
  return std::move(out.bytes());
}

std::size_t filesFound(const TempDir& dir, const std::vector<std::uint8_t>& image, std::uint8_t brand,
                       std::uint8_t mode, const YearWindow& years) {
  ScanRequest request = scanRequest(brand, mode);
  request.years = years;
  const auto out = scanImage(dir, image, request);
  EXPECT_TRUE(out.ok) << int(brand) << " " << out.error;
  return out.files.size();
}

// Every design's recordings of 2024, scanned in both modes where the mode reads the packets.
TEST(YearWindow, RecordingsOfRecentYearsAreFoundInEveryDesign) {
  ZoneGuard zone("Asia/Shanghai");
  // What a scan made today reads by default.
  const YearWindow today = YearWindow::forNewScan();
  TempDir dir;
  for (const std::uint8_t brand : corpus::distinctLayoutBrands()) {
    SCOPED_TRACE("brand " + std::to_string(brand));
    const auto image = recordingOf(brand, 2024);
    for (const std::uint8_t mode : {kParseQuick, kParseDeep}) {
      // The index designs' quick modes have tests of their own, with index images.
      const bool readsPackets =
          mode == kParseDeep || !(brand == 1 || brand == 2 || brand == 3 || brand == 4 || brand == 5 || brand == 15);
      if (!readsPackets) continue;
      SCOPED_TRACE(mode == kParseQuick ? "quick" : "deep");
      EXPECT_GT(filesFound(dir, image, brand, mode, today), 0u);
      if (deepScanIsUntimed(brand)) continue;
      EXPECT_EQ(filesFound(dir, image, brand, mode, YearWindow::legacy()), 0u);
      EXPECT_EQ(filesFound(dir, image, brand, mode, YearWindow{2010, 2023}), 0u);
      const std::size_t fromLater = filesFound(dir, image, brand, mode, YearWindow{2025, 2030});
      if (deepScanTestsNoFirstYear(brand))
        EXPECT_GT(fromLater, 0u);
      else
        EXPECT_EQ(fromLater, 0u);
    }
  }
}

}  // namespace
}  // namespace norvale::test
