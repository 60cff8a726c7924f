#include "task/task_file.h"


namespace norvale {

Result<void> TaskFile::append(std::span<const std::uint8_t> src) {
  auto end = size();
  if (!end) return std::unexpected(end.error());
  return writeAt(*end, src);
}

int TaskFile::fault(FileCall call) const {
  std::uint64_t allowed = 0;
  return m_faults ? m_faults->before(call, 0, allowed) : 0;
}

}  // namespace norvale
