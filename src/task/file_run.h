#pragma once
// The start of a run that writes chosen files of a task (export, conversion, clips): the task's
// own record of the run, kept by the task layer for whoever shows its progress.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/error.h"
#include "format/records.h"
#include "task/task_context.h"

namespace norvale {

// The file map entries in map order, each with its position (0-based).
std::vector<std::pair<std::uint64_t, FileEntry>> fileMapEntries(const TaskContext& task);

// Checks that the task is open and the positions exist, records the run's folder and totals in
// the task's export record, and sends status code 4. Returns the file map entries in map order.
Result<std::vector<std::pair<std::uint64_t, FileEntry>>> beginFileRun(TaskContext& task,
                                                                      const std::vector<std::uint64_t>& positions,
                                                                      const std::string& folder);

}  // namespace norvale
