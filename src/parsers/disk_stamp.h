#pragma once
// The signature check: the brand a device's first bytes name by a stamp of the brand table's
// rows, shown in the device list's "Type" column and by identify.
#include <cstdint>
#include <span>

#include "base/error.h"
#include "storage/device_record.h"

namespace norvale {

// Tries the rows' stamps in rank order on the device's first bytes; the first that matches
// gives its row's first id, no match gives 0. A stamp that lies beyond a shorter span does not
// match.
int signatureBrand(std::span<const std::uint8_t> firstBytes);

// Reads the record's first 4,096 bytes (storage's readSignatureBytes, with its messages) and
// applies the stamps.
Result<int> checkDeviceSignature(const DeviceRecord& record);

}  // namespace norvale
