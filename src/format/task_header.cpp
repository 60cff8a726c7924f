#include "format/task_header.h"

#include <algorithm>
#include <cstring>

#include "base/byte_reader.h"
#include "format/time_convention.h"
#include "format/time_zone.h"

namespace norvale {

using namespace task_header;

std::array<std::uint8_t, kTaskHeaderSize> TaskHeader::encode() const {
  std::array<std::uint8_t, kTaskHeaderSize> header{};
  header[kModeAt] = parseMode;
  header[kBrandAt] = brand;
  putLe64(&header[kStartOffsetAt], startOffset);
  putLe64(&header[kLengthAt], length);
  putLe64(&header[kEndSectorAt], endSector);
  if (!zone.empty() || clockCorrection != 0) {
    header[kClockTagAt] = static_cast<std::uint8_t>(kClockTag);
    header[kClockTagAt + 1] = static_cast<std::uint8_t>(kClockTag >> 8);
    std::memcpy(&header[kZoneAt], zone.data(), std::min(zone.size(), kZoneBytes - 1));
    putLe64(&header[kCorrectionAt], static_cast<std::uint64_t>(clockCorrection));
  }
  if (checkpoint) {
    header[kCheckpointTagAt] = static_cast<std::uint8_t>(kCheckpointTag);
    header[kCheckpointTagAt + 1] = static_cast<std::uint8_t>(kCheckpointTag >> 8);
    putLe64(&header[kCheckpointSectorAt], checkpoint->sector);
    putLe64(&header[kResumeOffsetAt], checkpoint->resumeOffset);
    putLe64(&header[kRawBytesAt], checkpoint->rawBytes);
    putLe64(&header[kFoundCountAt], checkpoint->foundCount);
    putLe64(&header[kFoundBytesAt], checkpoint->foundBytes);
  }
  if (years != YearWindow::legacy()) {
    putLe16(&header[kYearsTagAt], kYearsTag);
    putLe16(&header[kFirstYearAt], static_cast<std::uint16_t>(years.first));
    putLe16(&header[kLastYearAt], static_cast<std::uint16_t>(years.last));
  }
  return header;
}

namespace {
bool allZero(const std::uint8_t* first, const std::uint8_t* last) {
  return std::all_of(first, last, [](std::uint8_t b) { return b == 0; });
}
}  // namespace

Result<TaskHeader> TaskHeader::decode(const std::array<std::uint8_t, kTaskHeaderSize>& bytes) {
  const auto refused = [] { return fail(ErrorCode::Corrupt, "the folder holds no task of this program"); };
  if (bytes[kModeAt] > kParseDeep || bytes[kBrandAt] > kLastBrand ||
      !allZero(&bytes[kReservedAt], bytes.data() + bytes.size()))
    return refused();
  TaskHeader header;
  const std::uint16_t tag = le16(&bytes[kClockTagAt]);
  if (tag == 0) {
    if (!allZero(&bytes[kClockTagAt], &bytes[kCheckpointTagAt])) return refused();
  } else if (tag == kClockTag) {
    const std::uint8_t* name = &bytes[kZoneAt];
    const auto length = static_cast<std::size_t>(std::find(name, name + kZoneBytes, 0) - name);
    // A NUL ends the name within the field, and only NULs follow it.
    if (length == kZoneBytes || !allZero(&bytes[kZoneAt + length], &bytes[kZoneAt + kZoneBytes])) return refused();
    header.zone.assign(reinterpret_cast<const char*>(name), length);
    if (!header.zone.empty() && !isZoneName(header.zone)) return refused();
    header.clockCorrection = static_cast<std::int64_t>(le64(&bytes[kCorrectionAt]));
    if (header.clockCorrection > kMaxClockCorrection || header.clockCorrection < -kMaxClockCorrection) return refused();
  } else {
    return refused();
  }
  const std::uint16_t checkpointTag = le16(&bytes[kCheckpointTagAt]);
  if (checkpointTag == kCheckpointTag) {
    if (!allZero(&bytes[kCheckpointTagAt + 2], &bytes[kCheckpointSectorAt])) return refused();
    TaskCheckpoint c;
    c.sector = le64(&bytes[kCheckpointSectorAt]);
    c.resumeOffset = le64(&bytes[kResumeOffsetAt]);
    c.rawBytes = le64(&bytes[kRawBytesAt]);
    c.foundCount = le64(&bytes[kFoundCountAt]);
    c.foundBytes = le64(&bytes[kFoundBytesAt]);
    if (c.sector > (UINT64_MAX >> 9) || c.resumeOffset > c.sector * 512 || c.rawBytes < kTaskHeaderSize)
      return refused();
    header.checkpoint = c;
  } else if (checkpointTag != 0 || !allZero(&bytes[kCheckpointTagAt], &bytes[kYearsTagAt])) {
    return refused();
  }
  const std::uint16_t yearsTag = le16(&bytes[kYearsTagAt]);
  if (yearsTag == kYearsTag) {
    header.years = YearWindow{le16(&bytes[kFirstYearAt]), le16(&bytes[kLastYearAt])};
    if (!header.years.valid()) return refused();
  } else if (yearsTag != 0 || !allZero(&bytes[kYearsTagAt], &bytes[kReservedAt])) {
    return refused();
  }
  header.parseMode = bytes[kModeAt];
  header.brand = bytes[kBrandAt];
  header.startOffset = le64(&bytes[kStartOffsetAt]);
  header.length = le64(&bytes[kLengthAt]);
  header.endSector = le64(&bytes[kEndSectorAt]);
  return header;
}

}  // namespace norvale
