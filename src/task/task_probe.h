#pragma once
// What a test passes into a task to reach its failure points: the moments a scan passes, and the
// system calls on the files the program writes (the task files, exported files, MP4s), which it
// may make fail as a full disk or a failing device would. Production passes none.
#include <cstdint>

namespace norvale {

enum class FileCall { Read, Write, Sync, Truncate };

class FileFaults {
 public:
  virtual ~FileFaults() = default;
  // Asked before each call on a file. 0 lets the call run; an errno makes it fail as the system
  // would. For a write, growth is the bytes it adds past the file's end, and `allowed` (growth on
  // entry) the bytes of them that go to the disk before the failure.
  virtual int before(FileCall call, std::uint64_t growth, std::uint64_t& allowed) = 0;
};

enum class ScanMoment {
  Progress,  // a step of the walk
  Flush,     // inside a checkpoint: its records written, their header not yet
  Sorted,    // in the rebuild: the sorted segments written, the file entries not yet
  Rebuilt,   // after the rebuild, before the last header
};

class TaskProbe : public FileFaults {
 public:
  virtual void reached(ScanMoment) {}
  int before(FileCall, std::uint64_t, std::uint64_t&) override { return 0; }
};

}  // namespace norvale
