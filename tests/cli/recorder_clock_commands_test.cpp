// The recorder's zone and clock correction through the commands: a task scanned with its zone
// lists, exports and reports the same on any workstation; a task written before the header kept
// a zone lists what it always did; bad --zone and --clock-offset values are usage errors.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>

#include "cli/command_run.h"
#include "cli/commands.h"
#include "format/year_window.h"
#include "sample/sample_image.h"
#include "support/test_support.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::ZoneGuard;

using test::CommandRun;
using test::run;

std::string readText(const std::string& path) {
  const auto bytes = test::readFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// The listing without the keys this version added, as earlier versions printed it.
std::string withoutRecorderTimes(const std::string& json) {
  static const std::regex added(R"re(, "recorder_start": "[^"]*", "recorder_end": "[^"]*")re");
  return std::regex_replace(json, added, "");
}

// Every recorder time equals the shown one: the task holds no correction.
void expectRecorderTimesAsShown(const std::string& json) {
  static const std::regex entry(
      R"re("start": ("[^"]*"), "end": ("[^"]*"), "recorder_start": ("[^"]*"), "recorder_end": ("[^"]*"))re");
  int entries = 0;
  for (auto it = std::sregex_iterator(json.begin(), json.end(), entry); it != std::sregex_iterator(); ++it, ++entries) {
    EXPECT_EQ((*it)[1], (*it)[3]);
    EXPECT_EQ((*it)[2], (*it)[4]);
  }
  EXPECT_GT(entries, 0);
}

TEST(TaskWithoutZone, ListsWhatItListedBeforeTheHeaderKeptAZone) {
  TempDir dir;
  const fs::path fixture = fs::path(NORVALE_FIXTURES) / "task_without_zone";
  const std::string task = dir.file("task");
  fs::create_directories(task);
  for (const char* name : {"Attr001.map", "Attr002.map", "Attr003.map", "Attr004.map"})
    fs::copy_file(fixture / name, fs::path(task) / name);
  // Listed in the zone of the workstation, whichever it is, exactly as then.
  for (const auto& [zone, expected] : {std::pair{"Asia/Shanghai", "files_asia_shanghai.json"},
                                       std::pair{"UTC", "files_utc.json"}}) {
    ZoneGuard guard(zone);
    const CommandRun files = run(cli::runFilesCommand, {"files", "--task", task, "--json"});
    ASSERT_EQ(files.status, 0) << files.err;
    EXPECT_EQ(withoutRecorderTimes(files.out), readText((fixture / expected).string())) << zone;
    expectRecorderTimesAsShown(files.out);
    const CommandRun text = run(cli::runFilesCommand, {"files", "--task", task});
    EXPECT_NE(text.err.find(std::string("时区: 本机时区 (") + zone + ")  时钟校正: 0 秒"), std::string::npos) << text.err;
  }
  // Its times were judged in 2010-2020, and that is the window it keeps.
  const CommandRun info = run(cli::runInfoCommand, {"info", "--task", task, "--json"});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find(R"("years": {"first": 2010, "last": 2020})"), std::string::npos) << info.out;
  for (const char* name : {"Attr001.map", "Attr003.map", "Attr004.map"})
    EXPECT_EQ(test::readFile((fs::path(task) / name).string()), test::readFile((fixture / name).string()))
        << name << " is read, never rewritten";
}


// scan of the sample as brand 18, deep, quietly, with the options given.
CommandRun scanSample(const std::string& source, const std::string& task, std::vector<std::string> options = {}) {
  std::vector<std::string> args{"scan", "--source", source, "--brand", "18", "--mode", "deep", "--task", task, "--quiet"};
  args.insert(args.end(), options.begin(), options.end());
  return run(cli::runScanCommand, args);
}

// What a user takes away from a task: the listing, the exported files by name and content, and
// the report.
struct Shown {
  std::string files, exported, report;
  std::map<std::string, std::vector<std::uint8_t>> tree;
};

Shown shown(const TempDir& dir, const std::string& task, const std::string& source, const std::string& name) {
  Shown s;
  const std::string out = dir.file("out-" + name);
  const CommandRun files = run(cli::runFilesCommand, {"files", "--task", task, "--json"});
  EXPECT_EQ(files.status, 0) << files.err;
  s.files = files.out;
  const CommandRun exported =
      run(cli::runExportCommand, {"export", "--task", task, "--source", source, "--out", out, "--json", "--quiet"});
  EXPECT_EQ(exported.status, 0) << exported.err;
  s.exported = std::regex_replace(exported.out, std::regex(out), "OUT");
  for (const auto& e : fs::recursive_directory_iterator(out))
    // report.dfxml names the command line and its time: the other files must be the same.
    if (e.is_regular_file() && e.path().filename() != "report.dfxml")
      s.tree[fs::relative(e.path(), out).string()] = test::readFile(e.path().string());
  const CommandRun report = run(cli::runReportCommand, {"report", "--task", task, "--source", source, "--no-open"});
  EXPECT_EQ(report.status, 0) << report.err;
  s.report = readText(task + "/日志报表.html");
  // The section on how the result was made names this run's paths and times: what must not
  // depend on the workstation is what comes before it.
  std::string caption;
  for (char16_t c : std::u16string(u"<FONT size=\"5\">生成过程")) caption += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  const auto section = s.report.find(caption);
  EXPECT_NE(section, std::string::npos);
  s.report.resize(std::min(section, s.report.size()));
  return s;
}

TEST(TaskWithZone, ListsExportsAndReportsTheSameOnAnyWorkstation) {
  TempDir dir;
  const std::string source = dir.file("sample.img");
  {
    ZoneGuard shanghai("Asia/Shanghai");  // the sample's recordings are at 08:00 and 20:00 there
    ASSERT_TRUE(sample::writeSampleImage(source).has_value());
  }
  const std::string here = dir.file("here"), away = dir.file("away");
  Shown scannedHere, scannedAway, reloadedElsewhere;
  {
    ZoneGuard shanghai("Asia/Shanghai");
    const CommandRun scan = scanSample(source, here);
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_NE(scan.out.find("zone: Asia/Shanghai  clock correction: 0 秒"), std::string::npos) << scan.out;
    scannedHere = shown(dir, here, source, "here");
  }
  {
    ZoneGuard utc("UTC");
    const CommandRun scan = scanSample(source, away, {"--zone", "Asia/Shanghai"});
    ASSERT_EQ(scan.status, 0) << scan.err;
    scannedAway = shown(dir, away, source, "away");
  }
  {
    ZoneGuard newYork("America/New_York");
    reloadedElsewhere = shown(dir, away, source, "elsewhere");
  }
  EXPECT_EQ(scannedAway.files, scannedHere.files);
  EXPECT_EQ(reloadedElsewhere.files, scannedHere.files);
  EXPECT_EQ(scannedAway.exported, scannedHere.exported);
  EXPECT_EQ(reloadedElsewhere.exported, scannedHere.exported);
  EXPECT_EQ(scannedAway.tree, scannedHere.tree);
  EXPECT_EQ(reloadedElsewhere.tree, scannedHere.tree);
  EXPECT_EQ(scannedAway.report, scannedHere.report);
  EXPECT_EQ(reloadedElsewhere.report, scannedHere.report);
  EXPECT_EQ(scannedHere.tree.size(), 25u);  // 24 files and their SHA256SUMS
  EXPECT_TRUE(scannedHere.tree.count("SHA256SUMS"));
  EXPECT_TRUE(scannedHere.tree.count("CH01/2016-05-17/CH01_20160517-080000_20160517-080007.h264"));
}

TEST(TaskWithZone, ClockOffsetMovesTimesDaysAndNamesButKeepsTheRecordersTimes) {
  TempDir dir;
  const std::string source = dir.file("sample.img");
  ZoneGuard shanghai("Asia/Shanghai");
  ASSERT_TRUE(sample::writeSampleImage(source).has_value());
  const std::string task = dir.file("task");
  const CommandRun scan = scanSample(source, task, {"--zone", "Asia/Tokyo", "--clock-offset", "-32400"});
  ASSERT_EQ(scan.status, 0) << scan.err;
  const Shown s = shown(dir, task, source, "moved");
  // Read in Tokyo the first recording is at 09:00 on the recorder; nine hours slow gives 00:00.
  EXPECT_NE(s.files.find(R"("day": "2016-05-17", "day_text": "2016年05月17日", "start": "2016年05月17日 00时00分00秒", )"
                         R"("end": "2016年05月17日 00时00分07秒", "recorder_start": "2016年05月17日 09时00分00秒", )"
                         R"("recorder_end": "2016年05月17日 09时00分07秒", )"
                         R"("start_time": 1463443200, "end_time": 1463443207)"),
            std::string::npos)
      << s.files;
  EXPECT_TRUE(s.tree.count("CH01/2016-05-17/CH01_20160517-000000_20160517-000007.h264"));
  EXPECT_TRUE(s.tree.count("CH04/2016-05-19/CH04_20160519-120000_20160519-120007.h264"));
  // The MP4s take the export's corrected names.
  const std::string mp4 = dir.file("mp4");
  const CommandRun converted = run(cli::runConvertCommand, {"convert", "--task", task, "--source", source, "--out", mp4,
                                                            "--channel", "1", "--day", "2016-05-17", "--json"});
  EXPECT_EQ(converted.status, 0) << converted.err;
  EXPECT_TRUE(fs::exists(mp4 + "/CH01/2016-05-17/CH01_20160517-000000_20160517-000007.mp4")) << converted.out;
  // The report is UTF-16: its task table names the zone and the correction.
  const auto utf16 = [](const std::string& ascii) {
    std::string out;
    for (char c : ascii) out += {c, '\0'};
    return out;
  };
  EXPECT_NE(s.report.find(utf16("Asia/Tokyo")), std::string::npos);
  EXPECT_NE(s.report.find(utf16("-32400")), std::string::npos);
  const CommandRun text = run(cli::runFilesCommand, {"files", "--task", task});
  EXPECT_NE(text.err.find("时区: Asia/Tokyo  时钟校正: -32400 秒"), std::string::npos) << text.err;
  // The days the export filter names are the corrected ones.
  const CommandRun filtered =
      run(cli::runExportCommand, {"export", "--task", task, "--source", source, "--out", dir.file("day"), "--day",
                                  "2016-05-17", "--channel", "1", "--json", "--quiet"});
  EXPECT_EQ(filtered.status, 0);
  EXPECT_NE(filtered.out.find("CH01_20160517-000000_20160517-000007"), std::string::npos) << filtered.out;
  EXPECT_NE(filtered.out.find("CH01_20160517-120000_20160517-120007"), std::string::npos) << filtered.out;
}

TEST(TaskWithZone, BadZonesAndOffsetsAreUsageErrors) {
  TempDir dir;
  const std::string source = dir.file("sample.img");
  ASSERT_TRUE(sample::writeSampleImage(source).has_value());
  auto scan = [&](std::vector<std::string> options) { return scanSample(source, dir.file("t"), options); };
  for (const char* zone : {"Nowhere/City", "/etc/localtime", "localtime", "CST-8"}) {
    const CommandRun r = scan({"--zone", zone});
    EXPECT_EQ(r.status, 2) << zone;
    EXPECT_NE(r.err.find(zone), std::string::npos) << r.err;
  }
  for (const char* offset : {"abc", "1.5", "", "--", "+-5", "3162240001", "-99999999999999999999"}) {
    const CommandRun r = scan({"--clock-offset", offset});
    EXPECT_EQ(r.status, 2) << offset;
    EXPECT_NE(r.err.find("--clock-offset"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(dir.file("t") + "/Attr001.map")) << "a refused command line scans nothing";
  const CommandRun accepted = scan({"--clock-offset", "+3162240000", "--zone", "UTC"});
  EXPECT_EQ(accepted.status, 0) << accepted.err;
}

TEST(TaskYears, TheWindowIsChosenKeptAndShown) {
  TempDir dir;
  ZoneGuard shanghai("Asia/Shanghai");
  const std::string source = dir.file("sample.img");
  ASSERT_TRUE(sample::writeSampleImage(source).has_value());
  const std::string task = dir.file("task");
  const CommandRun scan = scanSample(source, task, {"--years", "2000-2030"});
  ASSERT_EQ(scan.status, 0) << scan.err;
  EXPECT_NE(scan.out.find("years: 2000-2030"), std::string::npos) << scan.out;
  const CommandRun info = run(cli::runInfoCommand, {"info", "--task", task});
  EXPECT_NE(info.out.find("年份范围：2000年至2030年"), std::string::npos) << info.out;
  const CommandRun report = run(cli::runReportCommand, {"report", "--task", task, "--source", source, "--no-open"});
  ASSERT_EQ(report.status, 0) << report.err;
  const auto html = test::readFile(task + "/日志报表.html");
  const std::u16string window = u"年份范围<TD BGCOLOR=\"#FFFFFF\">2000年至2030年";
  const std::string windowBytes(reinterpret_cast<const char*>(window.data()), window.size() * 2);
  EXPECT_NE(std::string(html.begin(), html.end()).find(windowBytes), std::string::npos);

  // By default a scan reads up to the year after this one.
  const std::string fresh = dir.file("fresh");
  ASSERT_EQ(scanSample(source, fresh).status, 0);
  const CommandRun freshInfo = run(cli::runInfoCommand, {"info", "--task", fresh, "--json"});
  const YearWindow today = YearWindow::forNewScan();
  EXPECT_NE(freshInfo.out.find("\"years\": {\"first\": 2010, \"last\": " + std::to_string(today.last) + "}"),
            std::string::npos)
      << freshInfo.out;

  for (const char* bad : {"2030-2000", "1900-2020", "2020", "soon"}) {
    EXPECT_EQ(scanSample(source, dir.file(std::string("bad-") + bad), {"--years", bad}).status, 2) << bad;
    EXPECT_EQ(run(cli::runIdentifyCommand, {"identify", "--source", source, "--years", bad}).status, 2) << bad;
  }
  EXPECT_EQ(run(cli::runScanCommand, {"scan", "--resume", "--task", task, "--years", "2000-2030"}).status, 2);
}

}  // namespace
}  // namespace norvale
