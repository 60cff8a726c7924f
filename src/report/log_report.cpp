#include "report/log_report.h"

#include <filesystem>

#include "parsers/brand_table.h"
#include "report/html_writer.h"
#include "report/provenance_section.h"
#include "task/brand_registry.h"
#include "task/status_text.h"
#include "task/task_context.h"
#include "format/time_convention.h"
#include "format/time_zone.h"

namespace norvale {
namespace {

void labelRow(HtmlWriter& html, const std::string& label, const std::string& value) {
  html.addCell(0, label);
  html.addCell(1, value);
  html.endRow(false);
}

void taskTable(HtmlWriter& html, const TaskContext& task) {
  html.beginTable(2, "任务信息");
  html.addCell(0, "名称");
  html.addCell(1, "描述");
  html.endRow(true);
  const DeviceRecord* device = task.device;
  labelRow(html, "设备名称", device ? device->name : std::string());
  labelRow(html, "设备序列号", device ? device->secondName : std::string());
  labelRow(html, "设备序号", "#" + std::to_string(device ? device->driveNumber : 0));
  labelRow(html, "设备大小", sizeTextNarrow(device ? device->size : 0));
  labelRow(html, "监控类型", brandName(task.description().brand));
  labelRow(html, "解析方式", parseModeText(task.description().parseMode));
  labelRow(html, "开始位置", std::to_string(task.description().startOffset / kSectorSize));
  labelRow(html, "结束位置", std::to_string((task.description().startOffset + task.description().length) / kSectorSize));
  labelRow(html, "录像机时区", zoneText(task.description().recorderZone));
  labelRow(html, "时钟校正", correctionText(task.description().clockCorrection));
  labelRow(html, "年份范围", yearWindowText(task.description().years));
}

void resultTable(HtmlWriter& html, const TaskContext& task) {
  html.beginTable(2, "结果信息");
  html.addCell(0, "名称");
  html.addCell(1, "描述");
  html.endRow(true);
  // The map is ordered by channel, so a channel differing from the previous entry's is new.
  int channels = 0;
  std::string channelText;
  std::uint64_t totalBytes = 0;
  bool first = true;
  std::uint8_t previous = 0;
  for (const auto& [key, entry] : task.fileMap) {
    if (first || entry.channel != previous) {
      ++channels;
      channelText += "[" + std::to_string(entry.channel) + "] ";
    }
    first = false;
    previous = entry.channel;
    totalBytes += entry.size;
  }
  labelRow(html, "通道数目", std::to_string(channels));
  labelRow(html, "通道信息", channelText);
  labelRow(html, "文件数目", std::to_string(task.fileMap.size()));
  labelRow(html, "文件大小", sizeTextNarrow(totalBytes));
}

void fileTable(HtmlWriter& html, const TaskContext& task) {
  html.beginTable(5, "文件信息");
  int column = 0;
  for (const char* title : {"索引", "通道", "大小", "开始时间", "结束时间"}) html.addCell(column++, title);
  html.endRow(true);
  const TimeConvention convention = task.timeConvention();
  std::uint64_t index = 0;
  for (const auto& [key, entry] : task.fileMap) {
    html.addCell(0, std::to_string(++index));
    html.addCell(1, std::to_string(entry.channel));
    html.addCell(2, sizeTextNarrow(entry.size));
    html.addCell(3, timeText(convention, entry.startTime));
    html.addCell(4, timeText(convention, entry.endTime));
    html.endRow(false);
  }
}

}  // namespace

std::string logReportPath(const std::string& taskFolder) {
  const std::filesystem::path name(std::u8string(reinterpret_cast<const char8_t*>(kReportFileName)));
  const std::u8string joined = (std::filesystem::path(std::u8string(taskFolder.begin(), taskFolder.end())) / name).u8string();
  return std::string(joined.begin(), joined.end());
}

Result<std::string> writeLogReport(TaskContext& task, TaskObserver& observer) {
  const std::string path = logReportPath(task.taskFolder);
  HtmlWriter html;
  // Without a task folder the name alone would land in whatever folder is current.
  auto opened = task.taskFolder.empty() ? Result<void>(fail(ErrorCode::InvalidArgument, "the task has no folder"))
                                        : html.open(path);
  if (!opened) {
    task.postMessage(observer, kReportCreateFailed);
    Error error = opened.error();
    error.message = std::string(kReportCreateFailed) + " (" + error.message + ")";
    return std::unexpected(std::move(error));
  }
  task.postMessage(observer, kReportStarted);
  taskTable(html, task);
  resultTable(html, task);
  fileTable(html, task);
  writeProvenanceSection(html, task);
  // A report cut short (disk full) is not announced as complete.
  if (auto closed = html.close(); !closed) {
    task.postMessage(observer, kReportWriteFailed);
    Error error = closed.error();
    error.message = std::string(kReportWriteFailed) + " (" + error.message + ")";
    return std::unexpected(std::move(error));
  }
  task.postMessage(observer, kReportDone);
  return path;
}

}  // namespace norvale
