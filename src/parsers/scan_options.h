#pragma once
// How a linear block scan may use the machine. What the scan finds does not depend on it.
#include <cstdint>
#include <vector>

namespace norvale {

struct ScanOptions {
  int threads = 1;               // walkers of the parallel scan; 1 is the one-thread scan
  std::uint64_t chunkBytes = 0;  // bytes each walker takes at a time; 0: the default
  // Where chunks start, instead of every chunkBytes (tests force boundaries anywhere).
  std::vector<std::uint64_t> chunkStarts;
  bool readAhead = true;         // the one-thread scan reads ahead on a thread of its own
  bool directReads = false;      // read a disk or image past the page cache (O_DIRECT)
  // Seconds of scanning between checkpoints; 0 makes one after every block (tests).
  double checkpointSeconds = 5.0;
};

}  // namespace norvale
