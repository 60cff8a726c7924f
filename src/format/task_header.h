#pragma once
// The 256-byte plain header at the start of a task's raw segment file: parse mode, brand, the
// scanned byte range and the sector a completed scan reached. One layout for writer and reader.
#include <array>
#include <cstdint>

#include "format/records.h"
#include "storage/error.h"

namespace norvale {

inline constexpr std::uint8_t kParseQuick = 0;
inline constexpr std::uint8_t kParseDeep = 1;
inline constexpr std::uint8_t kLastBrand = 48;

namespace task_header {
inline constexpr std::size_t kModeAt = 0;
inline constexpr std::size_t kBrandAt = 1;
inline constexpr std::size_t kStartOffsetAt = 2;
inline constexpr std::size_t kLengthAt = 10;
inline constexpr std::size_t kEndSectorAt = 18;
inline constexpr std::size_t kReservedAt = 26;  // zeros up to the header's end
}  // namespace task_header

struct TaskHeader {
  std::uint8_t parseMode = 0;
  std::uint8_t brand = 0;
  std::uint64_t startOffset = 0;  // bytes
  std::uint64_t length = 0;       // bytes
  std::uint64_t endSector = 0;    // 0 until a scan ran to its end

  std::array<std::uint8_t, kTaskHeaderSize> encode() const;
  // Refuses a header that no task of this program writes: a mode above deep, a brand above
  // the last, or reserved bytes that are not zero.
  static Result<TaskHeader> decode(const std::array<std::uint8_t, kTaskHeaderSize>& bytes);
};

}  // namespace norvale
