#pragma once
// The 256-byte plain header at the start of a task's raw segment file: parse mode, brand, the
// scanned byte range, the sector a completed scan reached, the recorder's clock (its time zone
// and correction) and the years its times may show. One layout for writer and reader.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "base/error.h"
#include "format/records.h"
#include "format/task_description.h"
#include "format/year_window.h"

namespace norvale {

inline constexpr std::uint8_t kParseQuick = 0;
inline constexpr std::uint8_t kParseDeep = 1;
// The highest brand a task header may name: the brand table's last id (parsers/brand_table.cpp
// checks the two agree; the layers above read the table's lastBrand()).
inline constexpr std::uint8_t kLastBrand = 48;

namespace task_header {
inline constexpr std::size_t kModeAt = 0;
inline constexpr std::size_t kBrandAt = 1;
inline constexpr std::size_t kStartOffsetAt = 2;
inline constexpr std::size_t kLengthAt = 10;
inline constexpr std::size_t kEndSectorAt = 18;
// The clock block. Tasks written before it have zeros from byte 26 on, which reads as the
// workstation's zone and no correction.
inline constexpr std::size_t kClockTagAt = 26;       // 16-bit: 0 no clock block, 1 the block below
inline constexpr std::size_t kZoneAt = 28;           // IANA name, NUL-padded; empty: the workstation's
inline constexpr std::size_t kZoneBytes = 64;
inline constexpr std::size_t kCorrectionAt = 92;     // signed 64-bit seconds
inline constexpr std::uint16_t kClockTag = 1;
// The checkpoint block of a scan that has not finished (stopped, or cut off by a crash or a power
// cut). The scan that completes writes zeros here again, so a finished task's header is the same
// whether its scan was ever interrupted or not.
inline constexpr std::size_t kCheckpointTagAt = 100;      // 16-bit: 0 no checkpoint, 1 the block below
inline constexpr std::size_t kCheckpointSectorAt = 104;   // sector the scan had reached
inline constexpr std::size_t kResumeOffsetAt = 112;       // byte offset the scan continues from
inline constexpr std::size_t kRawBytesAt = 120;           // length of the raw segment file it holds
inline constexpr std::size_t kFoundCountAt = 128;         // records found so far
inline constexpr std::size_t kFoundBytesAt = 136;         // bytes they cover
inline constexpr std::uint16_t kCheckpointTag = 1;
// The plausible-year window. Tasks written before it have zeros here, which reads as 2010-2020,
// the years those tasks were scanned with; a task of that window is written without the block.
inline constexpr std::size_t kYearsTagAt = 144;           // 16-bit: 0 no window, 1 the block below
inline constexpr std::size_t kFirstYearAt = 146;          // 16-bit
inline constexpr std::size_t kLastYearAt = 148;           // 16-bit
inline constexpr std::size_t kReservedAt = 150;           // zeros up to the header's end
inline constexpr std::uint16_t kYearsTag = 1;
static_assert(kZoneAt + kZoneBytes == kCorrectionAt && kCorrectionAt + 8 == kCheckpointTagAt);
static_assert(kFoundBytesAt + 8 == kYearsTagAt && kLastYearAt + 2 == kReservedAt);
}  // namespace task_header

// Where an unfinished scan stands, durably: what a resumed scan continues from.
struct TaskCheckpoint {
  std::uint64_t sector = 0;        // the scan position reached, in sectors of the device
  std::uint64_t resumeOffset = 0;  // device byte offset the scan continues from (at most sector * 512)
  std::uint64_t rawBytes = 0;      // the raw segment file's length that holds its records
  std::uint64_t foundCount = 0;
  std::uint64_t foundBytes = 0;
  bool operator==(const TaskCheckpoint&) const = default;
};

struct TaskHeader {
  std::uint8_t parseMode = 0;
  std::uint8_t brand = 0;
  std::uint64_t startOffset = 0;  // bytes
  std::uint64_t length = 0;       // bytes
  std::uint64_t endSector = 0;    // 0 until a scan ran to its end
  std::string zone;               // the recorder's IANA zone; empty: the workstation's
  std::int64_t clockCorrection = 0;  // seconds to add to the recorder's clock
  std::optional<TaskCheckpoint> checkpoint;  // present while the scan has not finished
  YearWindow years;                          // the years the recorder's times may show

  // The header of a task as described, with where its scan stands.
  static TaskHeader of(const TaskDescription& task, std::uint64_t endSector,
                       const std::optional<TaskCheckpoint>& checkpoint) {
    return TaskHeader{task.parseMode, task.brand,      task.startOffset, task.length, endSector,
                      task.recorderZone, task.clockCorrection, checkpoint, task.years};
  }
  // The task this header describes.
  TaskDescription description() const {
    return TaskDescription{brand, parseMode, startOffset, length, zone, clockCorrection, years};
  }

  // The clock block is written only when there is a zone or a correction to keep.
  std::array<std::uint8_t, kTaskHeaderSize> encode() const;
  // Refuses a header that no task of this program writes: a mode above deep, a brand above
  // the last, an unknown clock block tag, a zone that is no zone name or not NUL-padded, a
  // correction beyond a century, an unknown checkpoint tag, a checkpoint past its own
  // position, an unknown year block tag or a window no scan accepts, or reserved bytes that
  // are not zero.
  static Result<TaskHeader> decode(const std::array<std::uint8_t, kTaskHeaderSize>& bytes);
};

}  // namespace norvale
