// The platform-independent half of the device list: image files and mounted-volume names.
#include <set>
#include <utility>

#include "storage/device_enum.h"
#include "storage/device_handle.h"
#include "storage/partition_scan.h"

namespace norvale {

Result<DeviceRecord> addImageFile(const std::string& path, std::int32_t devicesListed) {
  DeviceRecord record = makeImageRecord(path, devicesListed);
  DeviceHandle handle;
  handle.open(record);
  if (!handle.ok()) return std::unexpected(handle.lastError());
  // The size of what was opened: a block device given by path has no file size.
  record.size = handle.size();
  record.sectorSize = kSectorSize;
  scanPartitions(handle, record);
  handle.close();
  return record;
}

void nameMountedPartitions(std::vector<DeviceRecord>& devices, const std::vector<MountedVolume>& volumes) {
  std::set<std::pair<const DeviceRecord*, std::uint64_t>> named;
  for (const auto& volume : volumes) {
    for (auto& device : devices) {
      if (device.openPath() != volume.devicePath) continue;
      if (!named.insert({&device, volume.offset}).second) continue;  // the first name wins
      for (auto& partition : device.partitions) {
        if (partition.start == volume.offset) {
          partition.name = volume.name;
          break;
        }
      }
    }
  }
}

}  // namespace norvale
