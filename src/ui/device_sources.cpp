#include "ui/device_sources.h"

#include "storage/device_enum.h"
#include "storage/fs_probe.h"
#include "parsers/disk_stamp.h"
#include "ui/ui_text.h"

namespace norvale::ui {

// Disks that cannot be opened are left out without a message, as the device list does.
std::vector<DeviceRecord> enumerateSources() { return enumerateDisks().devices; }

std::optional<DeviceRecord> openImageSource(const std::string& path, int devicesListed) {
  auto record = addImageFile(path, devicesListed);
  if (!record) return std::nullopt;
  return std::move(*record);
}

QString signatureBrandText(const DeviceRecord& device) {
  const auto brand = checkDeviceSignature(device);
  return brand ? QString::number(*brand) : QString();
}

QString fileSystemText(std::uint32_t fsType) { return qs(fileSystemName(fsType)); }

}  // namespace norvale::ui
