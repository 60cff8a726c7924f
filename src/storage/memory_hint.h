#pragma once
// Hints about large buffers to the platform's memory manager.
#include <cstddef>

namespace norvale {

// The buffer [data, data + bytes), not touched yet, is large and long-lived: back it with large
// pages where the platform has them, so that filling it costs few page faults. A hint only.
void preferLargePages(void* data, std::size_t bytes);

}  // namespace norvale
