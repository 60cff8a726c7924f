#include "task/task_file.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace norvale {

Result<void> TaskFile::append(std::span<const std::uint8_t> src) {
  auto end = size();
  if (!end) return std::unexpected(end.error());
  return writeAt(*end, src);
}

namespace {
std::mutex g_limitMutex;
std::optional<std::uint64_t> g_writeLimit;
std::atomic<bool> g_limited{false};
}  // namespace

void limitTaskWritesForTesting(std::optional<std::uint64_t> bytes) {
  std::lock_guard lock(g_limitMutex);
  g_writeLimit = bytes;
  g_limited = bytes.has_value();
}

bool taskWritesLimited() { return g_limited.load(std::memory_order_relaxed); }

std::size_t allowedTaskWrite(std::size_t size) {
  if (!g_limited.load(std::memory_order_relaxed)) return size;
  std::lock_guard lock(g_limitMutex);
  if (!g_writeLimit) return size;
  const std::size_t allowed = static_cast<std::size_t>(std::min<std::uint64_t>(*g_writeLimit, size));
  *g_writeLimit -= allowed;
  return allowed;
}

}  // namespace norvale
