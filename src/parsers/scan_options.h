#pragma once
// How a linear block scan may use the machine. What the scan finds does not depend on it.
#include <cstdint>
#include <vector>

namespace norvale {

struct ScanOptions {
  bool readAhead = true;         // the one-thread scan reads ahead on a thread of its own
  bool directReads = false;      // read a disk or image past the page cache (O_DIRECT)
};

}  // namespace norvale
