#pragma once
// One task file, held exclusively while the task is open: a second process that tries to open
// the same task is refused rather than allowed to corrupt it.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/error.h"
#include "task/task_probe.h"

namespace norvale {

enum class TaskFileMode {
  Create,    // new task: create, or empty an existing file once it is locked
  Existing,  // loaded task: the file must exist
};

class TaskFile {
 public:
  TaskFile() = default;
  ~TaskFile() { close(); }
  TaskFile(const TaskFile&) = delete;
  TaskFile& operator=(const TaskFile&) = delete;

  // Fails with InUse when another process holds the file, NotFound when it is missing.
  Result<void> open(const std::string& path, TaskFileMode mode);
  void close();
  bool isOpen() const;

  Result<std::uint64_t> size() const;
  // Reads up to dst.size() bytes; returns the bytes read (short at the end of the file).
  Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> dst) const;
  Result<void> writeAt(std::uint64_t offset, std::span<const std::uint8_t> src);
  Result<void> append(std::span<const std::uint8_t> src);
  Result<void> truncate(std::uint64_t length);
  // Makes what was written durable (fsync): a checkpoint claims nothing before this returns.
  Result<void> sync();
  const std::string& path() const { return m_path; }
  // Where a test makes this file's calls fail (not owned; null: none).
  void setFaults(FileFaults* faults) { m_faults = faults; }

 private:
  // The faults' answer to a call: 0, or the errno it fails with.
  int fault(FileCall call) const;

  std::string m_path;
  FileFaults* m_faults = nullptr;
#ifdef _WIN32
  void* m_handle = nullptr;
#else
  int m_fd = -1;
#endif
};

// Reads a whole small file without locking it (the task header is read while the task may be
// open elsewhere).
Result<std::size_t> readFileHead(const std::string& path, std::span<std::uint8_t> dst);

}  // namespace norvale
