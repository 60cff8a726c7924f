#pragma once
// What a scan has to tell the user, as values: the parsers say what happened and where, the
// task layer words it.
#include <cstdint>
#include <variant>

namespace norvale {

// A stretch of reads that failed, in whole sectors: its first sector and its length.
struct UnreadableStretch {
  std::uint64_t firstSector = 0;
  std::uint64_t sectors = 0;
  bool operator==(const UnreadableStretch&) const = default;
};
// The source itself went away during the scan (a file deleted, a disk unplugged); the scan stops.
struct SourceGone {
  bool operator==(const SourceGone&) const = default;
};
// The recorder's volume table could not be read; the quick scan has nothing to walk.
struct VolumeTableUnreadable {
  bool operator==(const VolumeTableUnreadable&) const = default;
};
// The index table reaches past the source's end; the part past it is not read.
struct IndexPastSourceEnd {
  bool operator==(const IndexPastSourceEnd&) const = default;
};
// Index records whose data blocks lie past the source's end, left out.
struct IndexRecordsPastSourceEnd {
  std::uint64_t records = 0;
  bool operator==(const IndexRecordsPastSourceEnd&) const = default;
};
// The quick scan found no index of the brand's design where it belongs: another recorder, or one
// that only a deep scan can read.
struct NoRecorderIndex {
  std::uint8_t brand = 0;
  bool operator==(const NoRecorderIndex&) const = default;
};

using ScanNotice = std::variant<UnreadableStretch, SourceGone, VolumeTableUnreadable, IndexPastSourceEnd,
                               IndexRecordsPastSourceEnd, NoRecorderIndex>;

}  // namespace norvale
