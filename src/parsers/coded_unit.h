#pragma once
// The coded video units the recorders store behind an Annex B start code.
#include <cstdint>
#include <cstring>

#include "format/records.h"

namespace norvale {

inline constexpr std::uint8_t kStartCode[4] = {0, 0, 0, 1};

// Key when the unit begins with 00 00 00 01 and the byte after it has bit 0x40 set (a unit the
// decoder can start from); every other unit is an ordinary one.
inline SegmentKind codedUnitKind(const std::uint8_t* unit) {
  return std::memcmp(unit, kStartCode, 4) == 0 && (unit[4] & 0x40) ? SegmentKind::Key : SegmentKind::Other;
}

}  // namespace norvale
