#include <sys/mman.h>

#include <cstdint>

#include "storage/memory_hint.h"

namespace norvale {

void preferLargePages(void* data, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kLarge = std::uintptr_t{2} << 20;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kLarge - 1) / kLarge * kLarge;
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) / kLarge * kLarge;
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace norvale
