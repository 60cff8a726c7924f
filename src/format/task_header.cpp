#include "format/task_header.h"

#include <algorithm>

#include "storage/byte_reader.h"

namespace norvale {

using namespace task_header;

std::array<std::uint8_t, kTaskHeaderSize> TaskHeader::encode() const {
  std::array<std::uint8_t, kTaskHeaderSize> header{};
  header[kModeAt] = parseMode;
  header[kBrandAt] = brand;
  putLe64(&header[kStartOffsetAt], startOffset);
  putLe64(&header[kLengthAt], length);
  putLe64(&header[kEndSectorAt], endSector);
  return header;
}

Result<TaskHeader> TaskHeader::decode(const std::array<std::uint8_t, kTaskHeaderSize>& bytes) {
  const bool reservedClear = std::all_of(bytes.begin() + kReservedAt, bytes.end(), [](std::uint8_t b) { return b == 0; });
  if (bytes[kModeAt] > kParseDeep || bytes[kBrandAt] > kLastBrand || !reservedClear)
    return fail(ErrorCode::Corrupt, "the folder holds no task of this program");
  TaskHeader header;
  header.parseMode = bytes[kModeAt];
  header.brand = bytes[kBrandAt];
  header.startOffset = le64(&bytes[kStartOffsetAt]);
  header.length = le64(&bytes[kLengthAt]);
  header.endSector = le64(&bytes[kEndSectorAt]);
  return header;
}

}  // namespace norvale
