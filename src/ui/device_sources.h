#pragma once
// The sources the device list shows, from the storage layer.
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "storage/device_record.h"

namespace norvale::ui {

// The machine's disks with their partitions.
std::vector<DeviceRecord> enumerateSources();
// An image file as the next device of the list, or nullopt when it cannot be opened.
std::optional<DeviceRecord> openImageSource(const std::string& path, int devicesListed);
// The "Type" column: the brand number the device's first bytes name, or empty when unreadable.
QString signatureBrandText(const DeviceRecord& device);
// The "FS" column of a partition row.
QString fileSystemText(std::uint32_t fsType);

}  // namespace norvale::ui
