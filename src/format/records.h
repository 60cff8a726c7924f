#pragma once
// The fixed-width records of a task: segments, file entries and index records, with their
// byte-exact serialisation (little-endian, packed) as the task files hold them.
#include <cstdint>
#include <map>
#include <span>

namespace norvale {

inline constexpr std::size_t kSegmentRecordSize = 37;
inline constexpr std::size_t kFileEntrySize = 33;
inline constexpr std::size_t kIndexRecordSize = 24;
inline constexpr std::size_t kTaskHeaderSize = 256;

// Field offsets of a serialised segment record (little-endian, packed).
namespace segment_layout {
inline constexpr std::size_t kKindAt = 0;
inline constexpr std::size_t kChannelAt = 1;
inline constexpr std::size_t kStartTimeAt = 5;
inline constexpr std::size_t kEndTimeAt = 9;
inline constexpr std::size_t kFirstKeyAt = 13;
inline constexpr std::size_t kDeviceOffsetAt = 21;
inline constexpr std::size_t kSizeAt = 29;
static_assert(kSizeAt + 8 == kSegmentRecordSize);
}  // namespace segment_layout

enum class SegmentKind : std::uint8_t { None = 0, Key = 1, Other = 2 };

// A piece of video found on the source: where it lies and when it was recorded.
struct SegmentRecord {
  SegmentKind kind = SegmentKind::None;
  std::uint32_t channel = 0;       // counted from 1
  std::uint32_t startTime = 0;     // brand's time convention
  std::uint32_t endTime = 0;
  std::int64_t firstKeyOffset = 0; // -1: no key frame yet; 0: begins with one
  std::uint64_t deviceOffset = 0;
  std::uint64_t size = 0;

  void write(std::uint8_t* out) const;
  static SegmentRecord read(const std::uint8_t* in);
  bool operator==(const SegmentRecord&) const = default;
};

// A file the user sees: a run of sorted segment records in the sorted segment file.
struct FileEntry {
  std::uint8_t channel = 0;
  std::uint32_t startTime = 0;
  std::uint32_t endTime = 0;
  std::uint64_t size = 0;
  std::uint64_t firstRecord = 0;  // byte offset in the sorted segment file
  std::uint64_t recordBytes = 0;  // records x 37

  std::uint64_t recordCount() const { return recordBytes / kSegmentRecordSize; }
  void write(std::uint8_t* out) const;
  static FileEntry read(const std::uint8_t* in);
  bool operator==(const FileEntry&) const = default;
};

struct IndexRecord {
  std::uint64_t key = 0;     // channel << 32 | hour code
  std::uint64_t offset = 0;  // of the run in the raw segment file
  std::uint64_t length = 0;  // bytes, a multiple of 37

  void write(std::uint8_t* out) const;
  static IndexRecord read(const std::uint8_t* in);
};

// The file map: channel and day -> file entries, in channel, day, loading order.
using FileMap = std::multimap<std::uint64_t, FileEntry>;

// Store key: channel in the high 32 bits, hour code (year<<14|month<<10|day<<5|hour) low.
inline std::uint64_t storeKey(std::uint32_t channel, std::uint32_t hourCode) {
  return (static_cast<std::uint64_t>(channel) << 32) | hourCode;
}
// File-map key: channel byte high, day code (year<<14|month<<10|day<<5) low; day 0 = all dates.
inline std::uint64_t fileMapKey(std::uint8_t channel, std::uint32_t dayCode) {
  return (static_cast<std::uint64_t>(channel) << 32) | dayCode;
}
inline std::uint32_t calendarCode(int year, int month, int day, int hour = 0) {
  return (static_cast<std::uint32_t>(year) << 14) | (static_cast<std::uint32_t>(month) << 10) |
         (static_cast<std::uint32_t>(day) << 5) | static_cast<std::uint32_t>(hour);
}

}  // namespace norvale
