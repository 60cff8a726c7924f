#include "task/file_run.h"

#include "task/result_store.h"

namespace norvale {

std::vector<std::pair<std::uint64_t, FileEntry>> fileMapEntries(const TaskContext& task) {
  std::vector<std::pair<std::uint64_t, FileEntry>> entries;
  entries.reserve(task.fileMap.size());
  std::uint64_t i = 0;
  for (const auto& [key, entry] : task.fileMap) entries.emplace_back(i++, entry);
  return entries;
}

Result<FileRun> beginFileRun(TaskContext& task, TaskObserver& observer, const std::vector<std::uint64_t>& positions,
                             const std::string& folder) {
  if (!task.store || !task.store->isOpen() || !task.deviceHandle.isOpen())
    return fail(ErrorCode::InvalidArgument, "no task is open");
  auto entries = fileMapEntries(task);
  for (auto p : positions)
    if (p >= entries.size()) return fail(ErrorCode::InvalidArgument, "no file " + std::to_string(p + 1) + " in the task");

  task.exportRecord.folder = folder;
  task.exportRecord.totalBytes = 0;
  task.exportRecord.totalItems = positions.size();
  for (auto p : positions) task.exportRecord.totalBytes += entries[p].second.size;
  task.status.code = StatusCode::ExportStart;
  task.status.value = static_cast<std::int64_t>(task.exportRecord.totalBytes / 1048576);
  task.status.foundBytes = 0;
  task.status.foundCount = 0;
  task.notify(observer);
  return FileRun(task, observer, std::move(entries));
}

void FileRun::advance(std::uint64_t bytes) { reach(m_task.status.foundBytes + bytes); }

void FileRun::reach(std::uint64_t bytes) {
  m_task.status.code = StatusCode::ExportProgress;
  m_task.status.foundBytes = bytes;
  m_task.notify(m_observer);
}

void FileRun::finishFile(std::uint64_t bytes) {
  m_task.status.foundCount += 1;
  reach(bytes);
}

}  // namespace norvale
