#pragma once
// The signature check of the first 4,096 bytes of a device: a few
// recorder systems stamp their own name at the start of the disk. The brand number it yields is
// shown in the device list's "Type" column.
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/error.h"
#include "storage/device_record.h"

namespace norvale {

inline constexpr std::size_t kSignatureBytes = 4096;

// Applies the seven tests in their order to the device's first bytes; the first that matches
// gives its brand, no match gives 0. Fields that lie beyond a shorter span do not match.
//   "DHFS4.1\0" at 0 -> 2, "WFS0.4\0\0" at 0 -> 3, "HUAYI1.1" at 0 -> 7, "ZHILING1" at 0 -> 9,
//   "jvbk" at 0 -> 4, else "HIKVISIO" at 528 -> 1, "uware_v1" at 12 -> 5.
int signatureBrand(std::span<const std::uint8_t> firstBytes);

// Opens the record's source read-only, reads its first 4,096 bytes and applies the table.
// Errors carry the system's messages: "访问源设备失败,请确认源设备是否存在" when the source cannot
// be opened, "读取源设备失败,可能存在坏道" when the read fails.
Result<int> checkDeviceSignature(const DeviceRecord& record);

}  // namespace norvale
