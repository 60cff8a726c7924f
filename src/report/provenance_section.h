#pragma once
// The log report's last part: how the result was made. The program's version; the source
// (kind, segments, size, an EWF set's stored hashes); brand, mode, range, zone and clock
// correction; when each scan ran and whether the task's scan finished; and the files export and
// conversion wrote from the task, with their SHA-256, as the task folder's history records them.
#include <string>
#include <utility>
#include <vector>

#include "report/html_writer.h"
#include "task/task_history.h"

namespace norvale {

struct TaskContext;

inline constexpr const char* kProvenanceCaption = "生成过程";
inline constexpr const char* kOutputsCaption = "输出文件";

using ReportRows = std::vector<std::pair<std::string, std::string>>;

// The label | value rows of the table "生成过程", in order.
ReportRows provenanceRows(TaskContext& task, const TaskHistory& history);

// Writes the two tables after the report's existing ones: "生成过程", then "输出文件" (kind,
// SHA-256, path of each recorded file; no data rows when none was recorded).
void writeProvenanceSection(HtmlWriter& html, TaskContext& task);

}  // namespace norvale
