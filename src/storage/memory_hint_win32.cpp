#include "storage/memory_hint.h"

namespace norvale {

// Large pages need a privilege the program does not ask for: nothing to do.
void preferLargePages(void* data, std::size_t bytes) {
  (void)data;
  (void)bytes;
}

}  // namespace norvale
