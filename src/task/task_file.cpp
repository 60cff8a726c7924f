#include "task/task_file.h"

namespace norvale {

Result<void> TaskFile::append(std::span<const std::uint8_t> src) {
  auto end = size();
  if (!end) return std::unexpected(end.error());
  return writeAt(*end, src);
}

}  // namespace norvale
