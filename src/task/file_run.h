#pragma once
// A run that writes chosen files of a task (export, conversion, clips): the task's own record
// of the run, and its progress, which the task layer alone writes into the task's status.
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

// A begun run: the task's entries, and the progress it sends the run's observer as status 5
// (the bytes written so far and the files done).
class FileRun {
 public:
  FileRun(TaskContext& task, TaskObserver& observer, std::vector<std::pair<std::uint64_t, FileEntry>> entries)
      : m_task(task), m_observer(observer), m_entries(std::move(entries)) {}

  // The file map entries in map order, each with its position.
  const std::vector<std::pair<std::uint64_t, FileEntry>>& entries() const { return m_entries; }
  // `bytes` more are written.
  void advance(std::uint64_t bytes);
  // The run has written `bytes` in all.
  void reach(std::uint64_t bytes);
  // One more file is done; the next notification carries it.
  void countFile() { m_task.status.foundCount += 1; }
  // One more file is done, and the run has written `bytes` in all.
  void finishFile(std::uint64_t bytes);

 private:
  TaskContext& m_task;
  TaskObserver& m_observer;
  std::vector<std::pair<std::uint64_t, FileEntry>> m_entries;
};

// Checks that the task is open and the positions exist, records the run's folder and totals in
// the task's export record, and sends the observer status code 4.
Result<FileRun> beginFileRun(TaskContext& task, TaskObserver& observer, const std::vector<std::uint64_t>& positions,
                             const std::string& folder);

}  // namespace norvale
