#pragma once
// Running and loading tasks on the worker thread.
#include <optional>
#include <string>

#include "base/error.h"
#include "task/task_context.h"

namespace norvale {

// The new-task runner: teardown, reset, open the source and create the four task files, run the
// brand's parser, cut the intermediate files back once the scan completed. How the scan ended,
// or its failure; failures are also reported to the observer as status code 1. Each command
// here sends its notifications to the observer it is given, on the calling thread.
Result<ScanEnd> runTask(TaskContext& task, TaskObserver& observer);

// The loader, after every scan and for a saved task: open the source and the existing task
// files and load the file map in the brand's time convention.
Result<void> loadTask(TaskContext& task, TaskObserver& observer);

// Reads the 256-byte header of a task folder into a head (mode, brand, range, end sector, the
// recorder's zone and clock correction).
// On failure reports "访问任务路径失败,请确认是否是原始任务路径" to the observer and returns the error.
Result<TaskHead> readTaskHeader(TaskContext& task, TaskObserver& observer, const std::string& folder);

// The source a scan of the task folder opened, as "source.txt" in the folder records it (written
// when a new scan starts; none for tasks written before).
std::optional<std::string> recordedTaskSource(const std::string& folder);

// The new-task worker's body: runner, then loader (not after a failed scan).
Result<ScanEnd> runNewTask(TaskContext& task, TaskObserver& observer);

// Continues an unfinished scan from its checkpoint: the task's head (brand, mode, range, zone,
// correction, checkpoint) as its header names it, the source set. The task files are taken
// back to the checkpoint, the scan goes on from its resume offset, and the rebuild makes files
// byte-identical to those of a scan never interrupted. Refused, changing nothing, for a
// completed task, one without a checkpoint, or a checkpoint its files do not hold.
Result<ScanEnd> resumeTask(TaskContext& task, TaskObserver& observer);
// The resumed-task worker's body: resumeTask, then loader (not after a failed scan).
Result<ScanEnd> runResumedTask(TaskContext& task, TaskObserver& observer);

}  // namespace norvale
