#include "report/log_report.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <chrono>
#include <filesystem>

#include "format/local_time.h"
#include "format/packed_time.h"
#include "sample/sample_image.h"
#include "support/scan_harness.h"
#include "support/test_support.h"
#include "format/records.h"
#include "report/provenance_section.h"
#include "storage/byte_source.h"
#include "task/program_version.h"
#include "task/task_context.h"
#include "task/task_history.h"
#include "task/task_file.h"
#include "format/time_convention.h"

namespace norvale {
namespace {

using test::RecordingObserver;
using test::TempDir;

// The report file as UTF-16 text; the byte-order mark must be there and is dropped.
std::u16string readReport(const std::string& path) {
  const auto bytes = test::readFile(path);
  EXPECT_GE(bytes.size(), 2u);
  if (bytes.size() < 2) return {};
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xFE);
  EXPECT_EQ(bytes.size() % 2, 0u);
  std::u16string text;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
    text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  return text;
}

std::vector<std::uint8_t> utf16leWithMark(std::u16string_view text) {
  std::vector<std::uint8_t> out{0xFF, 0xFE};
  for (char16_t c : text) {
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return out;
}

bool contains(const std::u16string& text, std::u16string_view piece) { return text.find(piece) != std::u16string::npos; }

FileEntry entry(std::uint8_t channel, std::uint32_t start, std::uint32_t end, std::uint64_t size) {
  FileEntry e;
  e.channel = channel;
  e.startTime = start;
  e.endTime = end;
  e.size = size;
  e.recordBytes = kSegmentRecordSize;
  return e;
}

// A task as a scan of brand 18 in deep mode would leave it, built from known values.
struct KnownTask {
  TempDir dir;
  DeviceRecord device;
  RecordingObserver observer;
  TaskContext task;

  KnownTask() {
    device.name = "/evidence/disk.img";
    device.secondName = "disk";
    device.driveNumber = 10;
    device.kind = DeviceKind::Path;
    device.size = 500107862016;
    TaskHead head;
    head.description = TaskDescription{18, 1, 2048 * 512, 4096 * 512, "", 0, YearWindow{}};
    head.device = &device;
    head.taskFolder = dir.str();
    task.describe(head);
  }
  void add(std::uint8_t channel, std::uint32_t start, std::uint32_t end, std::uint64_t size) {
    const auto c = localCalendar(TimeZone::workstation(), start);
    task.fileMap.emplace(fileMapKey(channel, calendarCode(c->year, c->month, c->day)), entry(channel, start, end, size));
  }
  std::string path() const { return dir.file("日志报表.html"); }
};

constexpr std::u16string_view kGolden =
    u"<!DOCTYPE HTML PUBLIC -//W3C//DTD HTML 3.2//EN>\n<HTML>\n<HEAD>\n <TITLE>Norvale日志报告</TITLE>\n</HEAD>\n"
    u"<BODY BACKCOLOR=\"#FFFFFF\" TEXT=\"#000000\">\n"
    u"<TABLE WIDTH=\"100%\" BORDER=1 CELLSPACING=\"0\" ALIGN=\"LEFT\">\n"
    u"<CAPTION ALIGN=\"TOP\"><FONT size=\"5\">任务信息</FONT></CAPTION>\n"
    u"<TR ALIGN=\"LEFT\"><TH BGCOLOR=\"#5065FF\"><FONT COLOR=\"#FFFFFF\">名称<TH BGCOLOR=\"#5065FF\"><FONT COLOR=\"#FFFFFF\">描述\n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">设备名称<TD BGCOLOR=\"#FFFFFF\">/evidence/disk.img\n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">设备序列号<TD BGCOLOR=\"#FFFFFF\">disk\n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">设备序号<TD BGCOLOR=\"#FFFFFF\">#10\n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">设备大小<TD BGCOLOR=\"#FFFFFF\">465.8 GB\n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">监控类型<TD BGCOLOR=\"#FFFFFF\">[18]  中视安防监控录像系统\n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">解析方式<TD BGCOLOR=\"#FFFFFF\">[1] 深度解析(速度慢)\n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">开始位置<TD BGCOLOR=\"#FFFFFF\">2048\n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">结束位置<TD BGCOLOR=\"#FFFFFF\">6144\n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">录像机时区<TD BGCOLOR=\"#FFFFFF\">本机时区 (Asia/Shanghai)\n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">时钟校正<TD BGCOLOR=\"#FFFFFF\">0 秒\n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">年份范围<TD BGCOLOR=\"#FFFFFF\">2010年至2020年\n"
    u"</TABLE><br>\n"
    u"<TABLE WIDTH=\"100%\" BORDER=1 CELLSPACING=\"0\" ALIGN=\"LEFT\">\n"
    u"<CAPTION ALIGN=\"TOP\"><FONT size=\"5\">结果信息</FONT></CAPTION>\n"
    u"<TR ALIGN=\"LEFT\"><TH BGCOLOR=\"#5065FF\"><FONT COLOR=\"#FFFFFF\">名称<TH BGCOLOR=\"#5065FF\"><FONT COLOR=\"#FFFFFF\">描述\n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">通道数目<TD BGCOLOR=\"#FFFFFF\">2\n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">通道信息<TD BGCOLOR=\"#FFFFFF\">[1] [3] \n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">文件数目<TD BGCOLOR=\"#FFFFFF\">3\n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">文件大小<TD BGCOLOR=\"#FFFFFF\">1.5 MB\n"
    u"</TABLE><br>\n"
    u"<TABLE WIDTH=\"100%\" BORDER=1 CELLSPACING=\"0\" ALIGN=\"LEFT\">\n"
    u"<CAPTION ALIGN=\"TOP\"><FONT size=\"5\">文件信息</FONT></CAPTION>\n"
    u"<TR ALIGN=\"LEFT\"><TH BGCOLOR=\"#5065FF\"><FONT COLOR=\"#FFFFFF\">索引<TH BGCOLOR=\"#5065FF\"><FONT COLOR=\"#FFFFFF\">通道"
    u"<TH BGCOLOR=\"#5065FF\"><FONT COLOR=\"#FFFFFF\">大小<TH BGCOLOR=\"#5065FF\"><FONT COLOR=\"#FFFFFF\">开始时间"
    u"<TH BGCOLOR=\"#5065FF\"><FONT COLOR=\"#FFFFFF\">结束时间\n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">1<TD BGCOLOR=\"#FFFFFF\">1<TD BGCOLOR=\"#FFFFFF\">1.0 KB"
    u"<TD BGCOLOR=\"#FFFFFF\">2016年05月17日 08时30分00秒<TD BGCOLOR=\"#FFFFFF\">2016年05月17日 08时59分59秒\n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">2<TD BGCOLOR=\"#FFFFFF\">1<TD BGCOLOR=\"#FFFFFF\">1.5 MB"
    u"<TD BGCOLOR=\"#FFFFFF\">2016年05月18日 20时00分00秒<TD BGCOLOR=\"#FFFFFF\">2016年05月18日 20时10分05秒\n"
    u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">3<TD BGCOLOR=\"#FFFFFF\">3<TD BGCOLOR=\"#FFFFFF\">100.0 Bytes"
    u"<TD BGCOLOR=\"#FFFFFF\">2016年05月17日 09时00分00秒<TD BGCOLOR=\"#FFFFFF\">2016年05月17日 09时00分01秒\n";

// What follows the three tables: the section on how the result was made, then the document end.
constexpr std::u16string_view kSectionStart =
    u"</TABLE><br>\n<TABLE WIDTH=\"100%\" BORDER=1 CELLSPACING=\"0\" ALIGN=\"LEFT\">\n"
    u"<CAPTION ALIGN=\"TOP\"><FONT size=\"5\">生成过程</FONT></CAPTION>\n";
constexpr std::u16string_view kDocumentEnd = u"</TABLE>\n</BODY>\n</HTML>";

TEST(LogReport, SmallTaskGivesTheExactBytes) {
  KnownTask k;
  using sample::localEpoch;
  // Added out of order: the report follows the map's channel and day order.
  k.add(3, localEpoch(2016, 5, 17, 9, 0, 0), localEpoch(2016, 5, 17, 9, 0, 1), 100);
  k.add(1, localEpoch(2016, 5, 18, 20, 0, 0), localEpoch(2016, 5, 18, 20, 10, 5), 1572864);
  k.add(1, localEpoch(2016, 5, 17, 8, 30, 0), localEpoch(2016, 5, 17, 8, 59, 59), 1024);
  auto written = writeLogReport(k.task, k.observer);
  ASSERT_TRUE(written.has_value()) << written.error().message;
  EXPECT_EQ(*written, k.path());
  // The three tables are byte for byte what they always were; the new section follows them.
  const auto bytes = test::readFile(k.path());
  const auto golden = utf16leWithMark(kGolden);
  ASSERT_GE(bytes.size(), golden.size());
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(golden.size())), golden);
  const std::u16string text = readReport(k.path());
  EXPECT_EQ(text.substr(kGolden.size(), kSectionStart.size()), kSectionStart);
  EXPECT_TRUE(text.ends_with(kDocumentEnd));
  EXPECT_EQ(k.observer.messages(), (std::vector<std::string>{"正在生成日志报表...", "生成日志报表完成"}));
}

TEST(LogReport, EmptyTaskHasItsTablesAndNoFileRows) {
  KnownTask k;
  ASSERT_TRUE(writeLogReport(k.task, k.observer).has_value());
  const std::u16string text = readReport(k.path());
  EXPECT_TRUE(contains(text, u"<TD BGCOLOR=\"#FFFFFF\">通道数目<TD BGCOLOR=\"#FFFFFF\">0\n"));
  EXPECT_TRUE(contains(text, u"<TD BGCOLOR=\"#FFFFFF\">通道信息<TD BGCOLOR=\"#FFFFFF\">\n"));
  EXPECT_TRUE(contains(text, u"<TD BGCOLOR=\"#FFFFFF\">文件数目<TD BGCOLOR=\"#FFFFFF\">0\n"));
  EXPECT_TRUE(contains(text, u"<TD BGCOLOR=\"#FFFFFF\">文件大小<TD BGCOLOR=\"#FFFFFF\">0.0 Bytes\n"));
  // The file table ends right after its header row.
  EXPECT_TRUE(contains(text, u"<FONT COLOR=\"#FFFFFF\">结束时间\n" + std::u16string(kSectionStart)));
  EXPECT_TRUE(text.ends_with(u"</HTML>"));
  std::size_t tables = 0;
  for (std::size_t at = text.find(u"<TABLE "); at != std::u16string::npos; at = text.find(u"<TABLE ", at + 1)) ++tables;
  EXPECT_EQ(tables, 5u);  // the three of the result, then how it was made and the files written
}

TEST(LogReport, ChannelInformationBracketsEveryChannelWithATrailingBlank) {
  KnownTask k;
  const std::uint32_t t = sample::localEpoch(2016, 5, 17, 8, 0, 0);
  for (std::uint8_t channel : {1, 2, 2, 3}) k.add(channel, t + channel, t + 60, 10);
  ASSERT_TRUE(writeLogReport(k.task, k.observer).has_value());
  const std::u16string text = readReport(k.path());
  EXPECT_TRUE(contains(text, u"通道数目<TD BGCOLOR=\"#FFFFFF\">3\n"));
  EXPECT_TRUE(contains(text, u"通道信息<TD BGCOLOR=\"#FFFFFF\">[1] [2] [3] \n"));
  EXPECT_TRUE(contains(text, u"文件数目<TD BGCOLOR=\"#FFFFFF\">4\n"));
}

TEST(LogReport, SecondReportReplacesTheFirst) {
  KnownTask k;
  const std::uint32_t t = sample::localEpoch(2016, 5, 17, 8, 0, 0);
  for (int i = 0; i < 50; ++i) k.add(1, t + static_cast<std::uint32_t>(i) * 3600, t + static_cast<std::uint32_t>(i) * 3600 + 60, 1000);
  ASSERT_TRUE(writeLogReport(k.task, k.observer).has_value());
  const auto first = test::readFile(k.path());
  k.task.fileMap.clear();
  ASSERT_TRUE(writeLogReport(k.task, k.observer).has_value());
  const auto second = test::readFile(k.path());
  EXPECT_LT(second.size(), first.size());
  EXPECT_TRUE(contains(readReport(k.path()), u"结束时间\n" + std::u16string(kSectionStart)));
}

TEST(LogReport, TimesUseTheBrandsOwnTimeText) {
  const std::uint32_t raw = PackedTime::fromFields(2016, 5, 17, 8, 30, 0).raw;
  KnownTask packed;
  test::redescribe(packed.task, [](TaskDescription& d) { d.brand = 2; });  // PackedTime recorder
  packed.add(1, raw, raw, 10);
  ASSERT_TRUE(writeLogReport(packed.task, packed.observer).has_value());
  EXPECT_TRUE(contains(readReport(packed.path()), u"<TD BGCOLOR=\"#FFFFFF\">2016年05月17日 08时30分00秒<TD"));

  KnownTask epoch;  // brand 18 reads the same number as seconds since 1970, local time
  epoch.add(1, raw, raw, 10);
  ASSERT_TRUE(writeLogReport(epoch.task, epoch.observer).has_value());
  const std::u16string text = readReport(epoch.path());
  EXPECT_FALSE(contains(text, u"2016年05月17日"));
  EXPECT_TRUE(contains(text, u"年"));
}

TEST(LogReport, NamesFromTheSourceCannotAddMarkup) {
  KnownTask k;
  k.device.name = "<script>alert(1)</script> & \"disk\"";
  ASSERT_TRUE(writeLogReport(k.task, k.observer).has_value());
  const std::u16string text = readReport(k.path());
  EXPECT_FALSE(contains(text, u"<script>"));
  EXPECT_TRUE(contains(text, u"设备名称<TD BGCOLOR=\"#FFFFFF\">&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;disk&quot;\n"));
}

TEST(LogReport, TaskWithoutDeviceStillGetsAReport) {
  KnownTask k;
  k.task.device = nullptr;
  ASSERT_TRUE(writeLogReport(k.task, k.observer).has_value());
  EXPECT_TRUE(contains(readReport(k.path()), u"设备序号<TD BGCOLOR=\"#FFFFFF\">#0\n"));
}

void expectCreateFailure(KnownTask& k) {
  auto written = writeLogReport(k.task, k.observer);
  ASSERT_FALSE(written.has_value());
  EXPECT_NE(written.error().message.find("创建日志报表文件失败,请检查此文件是否存在并且被占用"), std::string::npos);
  EXPECT_EQ(k.observer.messages(), (std::vector<std::string>{"创建日志报表文件失败,请检查此文件是否存在并且被占用"}));
}

TEST(LogReportFailure, MissingFolder) {
  KnownTask k;
  k.task.taskFolder = k.dir.file("no/such/folder");
  expectCreateFailure(k);
  EXPECT_FALSE(std::filesystem::exists(k.dir.file("no")));
}

TEST(LogReportFailure, FolderInTheWayOfTheReport) {
  KnownTask k;
  std::filesystem::create_directories(k.path());
  expectCreateFailure(k);
}

TEST(LogReportFailure, ReportHeldOpenElsewhere) {
  KnownTask k;
  test::writeFile(k.path(), {1, 2, 3});
  TaskFile holder;
  ASSERT_TRUE(holder.open(k.path(), TaskFileMode::Existing).has_value());
  expectCreateFailure(k);
  EXPECT_EQ(test::readFile(k.path()), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(LogReportFailure, TaskWithoutFolderWritesNothing) {
  KnownTask k;
  k.task.taskFolder.clear();
  expectCreateFailure(k);
}

// Holds the file size limit low, as a full disk would, for one scope.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    m_handler = std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
    ::getrlimit(RLIMIT_FSIZE, &m_saved);
    rlimit low = m_saved;
    low.rlim_cur = bytes;
    m_active = ::setrlimit(RLIMIT_FSIZE, &low) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &m_saved);
    std::signal(SIGXFSZ, m_handler);
  }
  bool active() const { return m_active; }

 private:
  rlimit m_saved{};
  void (*m_handler)(int) = nullptr;
  bool m_active = false;
};

TEST(LogReportFailure, ReportCutShortIsNotAnnouncedAsDone) {
  KnownTask k;
  const std::uint32_t t = sample::localEpoch(2016, 5, 17, 8, 0, 0);
  for (int i = 0; i < 2000; ++i) k.add(1, t + static_cast<std::uint32_t>(i), t + static_cast<std::uint32_t>(i), 10);
  Result<std::string> written;
  {
    FileSizeLimit limit(64 * 1024);
    if (!limit.active()) GTEST_SKIP() << "the file size limit cannot be set here";
    written = writeLogReport(k.task, k.observer);
  }
  ASSERT_FALSE(written.has_value());
  EXPECT_NE(written.error().message.find("写入日志报表文件失败"), std::string::npos);
  EXPECT_EQ(k.observer.messages(),
            (std::vector<std::string>{"正在生成日志报表...", "写入日志报表文件失败,请检查任务路径所在磁盘"}));
}

TEST(LogReportScan, LoadedTaskGivesTheSameBytesAsRightAfterItsScan) {
  TempDir dir;
  const auto sample = sample::buildSampleImage();
  std::vector<std::uint8_t> afterScan;
  test::ScanRequest request;
  request.afterScan = [&](TaskContext& task) {
    auto written = writeLogReport(task, test::runningObserver());
    ASSERT_TRUE(written.has_value()) << written.error().message;
    afterScan = test::readFile(*written);
  };
  const auto scanned = test::scanImage(dir, sample.bytes, request);
  ASSERT_TRUE(scanned.ok) << scanned.error;
  ASSERT_GT(scanned.files.size(), 1u);
  ASSERT_FALSE(afterScan.empty());

  std::vector<std::uint8_t> afterLoad;
  const auto loaded = test::loadTaskFolder(dir.file("task"), dir.file("image.img"), [&](TaskContext& task) {
    auto written = writeLogReport(task, test::runningObserver());
    ASSERT_TRUE(written.has_value()) << written.error().message;
    afterLoad = test::readFile(*written);
  });
  ASSERT_TRUE(loaded.ok) << loaded.error;
  EXPECT_EQ(afterLoad, afterScan);
  // Every file of the task has its row.
  const std::u16string text = readReport(dir.file("task/日志报表.html"));
  const std::string last = std::to_string(scanned.files.size());
  EXPECT_TRUE(contains(text, u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">" + std::u16string(last.begin(), last.end()) +
                                 u"<TD BGCOLOR=\"#FFFFFF\">4<TD"));
  EXPECT_TRUE(contains(text, u"通道信息<TD BGCOLOR=\"#FFFFFF\">[1] [2] [3] [4] \n"));
}

// How the result was made.

std::string rowValue(const ReportRows& rows, const std::string& label) {
  for (const auto& [l, v] : rows)
    if (l == label) return v;
  return "(none)";
}

TEST(ReportProvenance, RowsNameVersionSourceSettingsAndScanWithAndWithoutACorrection) {
  for (const std::int64_t correction : {0, -3600}) {
    KnownTask k;
    test::redescribe(k.task, [&](TaskDescription& d) {
      d.clockCorrection = correction;
      d.recorderZone = "America/New_York";
    });
    k.task.endSector = 6144;
    k.task.deviceHandle.open(std::make_unique<MemorySource>(std::vector<std::uint8_t>(4096, 0)));
    TaskHistory history;
    history.scans.push_back({"2026-01-02T03:04:05Z", "2026-01-02T03:05:00Z", false, true});
    const ReportRows rows = provenanceRows(k.task, history);
    std::vector<std::string> labels;
    for (const auto& row : rows) labels.push_back(row.first);
    EXPECT_EQ(labels, (std::vector<std::string>{"程序版本", "源类型", "源文件", "源大小", "监控类型", "解析方式",
                                                "扫描范围", "录像机时区", "时钟校正", "年份范围", "扫描时间",
                                                "扫描完成"}));
    EXPECT_EQ(rowValue(rows, "程序版本"), versionLine("norvale"));
    EXPECT_EQ(rowValue(rows, "源类型"), "raw");
    EXPECT_EQ(rowValue(rows, "源大小"), "4.0 KB (4096 bytes)");
    EXPECT_EQ(rowValue(rows, "扫描范围"), "2048 - 6144 扇区");
    EXPECT_EQ(rowValue(rows, "时钟校正"), correctionText(correction));
    EXPECT_EQ(rowValue(rows, "录像机时区"), zoneText("America/New_York"));
    EXPECT_EQ(rowValue(rows, "年份范围"), "2010年至2020年");
    EXPECT_EQ(rowValue(rows, "扫描时间"), "开始 2026-01-02T03:04:05Z, 完成 2026-01-02T03:05:00Z");
    EXPECT_EQ(rowValue(rows, "扫描完成"), "是");
  }
  EXPECT_NE(correctionText(0), correctionText(-3600)) << "the two rows differ, or the case proves nothing";
}

TEST(ReportProvenance, ReportListsTheRecordedScansAndTheFilesWrittenWithTheirHashes) {
  KnownTask k;
  recordScanStart(k.dir.str(), false, std::chrono::system_clock::from_time_t(0));
  recordScanEnd(k.dir.str(), false, std::chrono::system_clock::from_time_t(60));
  recordScanStart(k.dir.str(), true, std::chrono::system_clock::from_time_t(120));  // cut off: no end
  ASSERT_TRUE(recordOutputs(k.dir.str(), {{"export", "aa11", "/out/CH01/a.h264"}, {"convert", "bb22", "/out/<b>.mp4"}}));
  ASSERT_TRUE(recordOutputs(k.dir.str(), {{"export", "cc33", "/out/CH01/a.h264"}}));  // written again: the last hash
  ASSERT_TRUE(writeLogReport(k.task, k.observer).has_value());
  const std::u16string text = readReport(k.path());
  EXPECT_TRUE(contains(text, u"扫描时间<TD BGCOLOR=\"#FFFFFF\">开始 1970-01-01T00:00:00Z, 停止 1970-01-01T00:01:00Z\n"));
  EXPECT_TRUE(contains(text, u"扫描时间<TD BGCOLOR=\"#FFFFFF\">继续 1970-01-01T00:02:00Z, 未记录结束"));
  EXPECT_TRUE(contains(text, u"扫描完成<TD BGCOLOR=\"#FFFFFF\">否\n"));
  EXPECT_TRUE(contains(text, u"<TD BGCOLOR=\"#FFFFFF\">export<TD BGCOLOR=\"#FFFFFF\">cc33<TD BGCOLOR=\"#FFFFFF\">/out/CH01/a.h264\n"));
  EXPECT_FALSE(contains(text, u"aa11"));
  EXPECT_TRUE(contains(text, u"convert<TD BGCOLOR=\"#FFFFFF\">bb22<TD BGCOLOR=\"#FFFFFF\">/out/&lt;b&gt;.mp4\n"));
  EXPECT_TRUE(text.ends_with(kDocumentEnd));
}

}  // namespace
}  // namespace norvale
