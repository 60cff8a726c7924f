#pragma once
// What a task is: the brand and mode its scan reads with, the byte range it covers, the
// recorder's clock and the years its times may show. Made once, from the user's choices or from
// the task header, and never changed while the task lives; the header is its durable form.
#include <cstdint>
#include <string>

#include "format/year_window.h"

namespace norvale {

struct TaskDescription {
  std::uint8_t brand = 0;
  std::uint8_t parseMode = 0;
  std::uint64_t startOffset = 0;  // bytes, a multiple of 512
  std::uint64_t length = 0;       // bytes
  // The recorder's IANA zone; empty reads as the workstation's, as tasks written before the
  // header kept a zone do. The front ends propose the workstation's zone for a new task.
  std::string recorderZone;
  std::int64_t clockCorrection = 0;  // seconds to add to the recorder's clock for the true time
  // Without a window named: that of tasks written before one was kept (2010-2020); the front
  // ends propose YearWindow::forNewScan() for a new task.
  YearWindow years;

  std::uint64_t endOffset() const { return startOffset + length; }
  bool operator==(const TaskDescription&) const = default;
};

}  // namespace norvale
