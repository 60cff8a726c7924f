#pragma once
// The log report of a task: its head, a summary of the results and every file entry, written
// as "日志报表.html" into the task folder.
#include <string>

#include "base/error.h"
#include "task/task_status.h"

namespace norvale {

struct TaskContext;

inline constexpr const char* kReportFileName = "日志报表.html";
inline constexpr const char* kReportCreateFailed = "创建日志报表文件失败,请检查此文件是否存在并且被占用";
inline constexpr const char* kReportWriteFailed = "写入日志报表文件失败,请检查任务路径所在磁盘";
inline constexpr const char* kReportStarted = "正在生成日志报表...";
inline constexpr const char* kReportDone = "生成日志报表完成";

// The report's path in a task folder.
std::string logReportPath(const std::string& taskFolder);

// The report worker's body: writes the report of the task's head, device record and file map
// (a second report replaces the first) and returns its path. Messages go to the observer; a
// file that cannot be created or written is reported there and returned as an error.
Result<std::string> writeLogReport(TaskContext& task, TaskObserver& observer);

}  // namespace norvale
