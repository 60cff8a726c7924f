#include "report/provenance_section.h"

#include "format/time_convention.h"
#include "format/time_zone.h"
#include "storage/evidence_source.h"
#include "task/brand_registry.h"
#include "task/program_version.h"
#include "task/status_text.h"
#include "task/task_context.h"

namespace norvale {
namespace {

std::string joined(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

std::string scanText(const ScanEvent& scan) {
  std::string text = std::string(scan.resumed ? "继续 " : "开始 ") + scan.started;
  if (scan.ended.empty()) return text + ", 未记录结束 (the scan was cut off)";
  return text + ", " + (scan.finished ? "完成 " : "停止 ") + scan.ended;
}

}  // namespace

ReportRows provenanceRows(TaskContext& task, const TaskHistory& history) {
  ReportRows rows;
  rows.emplace_back("程序版本", versionLine(kProgramName));
  const bool open = task.deviceHandle.isOpen();
  const EvidenceInfo evidence = task.deviceHandle.evidenceInfo();
  rows.emplace_back("源类型", open ? evidenceKindName(evidence.kind) : "未打开 (no source given)");
  if (task.device) rows.emplace_back("源文件", joined(evidenceSegmentPaths(absolutePath(task.device->openPath()), evidence), "; "));
  if (open) {
    const std::uint64_t size = task.deviceHandle.size();
    rows.emplace_back("源大小", sizeTextNarrow(size) + " (" + std::to_string(size) + " bytes)");
  }
  if (open && evidence.kind == EvidenceKind::Ewf) {
    rows.emplace_back("存储的 MD5", evidence.md5.empty() ? "无" : evidence.md5);
    rows.emplace_back("存储的 SHA1", evidence.sha1.empty() ? "无" : evidence.sha1);
    // verify compares them with the media, but keeps no record in the task.
    rows.emplace_back("校验结果", "未记录 (run verify --source)");
  }
  rows.emplace_back("监控类型", brandName(task.description().brand));
  rows.emplace_back("解析方式", parseModeText(task.description().parseMode));
  rows.emplace_back("扫描范围", std::to_string(task.description().startOffset / kSectorSize) + " - " +
                                    std::to_string((task.description().startOffset + task.description().length) / kSectorSize) + " 扇区");
  rows.emplace_back("录像机时区", zoneText(task.description().recorderZone));
  rows.emplace_back("时钟校正", correctionText(task.description().clockCorrection));
  rows.emplace_back("年份范围", yearWindowText(task.description().years));
  for (const ScanEvent& scan : history.scans) rows.emplace_back("扫描时间", scanText(scan));
  if (history.scans.empty()) rows.emplace_back("扫描时间", "未记录 (the task predates its history)");
  rows.emplace_back("扫描完成", task.complete() ? "是" : "否");
  return rows;
}

void writeProvenanceSection(HtmlWriter& html, TaskContext& task) {
  const TaskHistory history = readTaskHistory(task.taskFolder);
  html.beginTable(2, kProvenanceCaption);
  html.addCell(0, "名称");
  html.addCell(1, "描述");
  html.endRow(true);
  for (const auto& [label, value] : provenanceRows(task, history)) {
    html.addCell(0, label);
    html.addCell(1, value);
    html.endRow(false);
  }
  html.beginTable(3, kOutputsCaption);
  int column = 0;
  for (const char* title : {"类型", "SHA-256", "路径"}) html.addCell(column++, title);
  html.endRow(true);
  for (const OutputEvent& output : history.outputs) {
    html.addCell(0, output.kind);
    html.addCell(1, output.sha256);
    html.addCell(2, output.path);
    html.endRow(false);
  }
}

}  // namespace norvale
