#pragma once
// The first 4,096 bytes of a device, where a few recorder systems stamp their own name. Which
// stamp names which brand is the brand table's (parsers/disk_stamp.h); storage only reads.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/error.h"
#include "storage/device_record.h"

namespace norvale {

inline constexpr std::size_t kSignatureBytes = 4096;

// Opens the record's source read-only and reads its first 4,096 bytes (a shorter device as far
// as it goes, the rest zeros). Errors carry the system's messages: "访问源设备失败,请确认源设备是否
// 存在" when the source cannot be opened, "读取源设备失败,可能存在坏道" when the read fails.
Result<std::vector<std::uint8_t>> readSignatureBytes(const DeviceRecord& record);

}  // namespace norvale
