#include "ui/device_sources.h"

#include "storage/device_handle.h"

namespace norvale::ui {

std::vector<DeviceRecord> enumerateSources() { return {}; }

std::optional<DeviceRecord> openImageSource(const std::string& path, int devicesListed) {
  DeviceRecord record = makeImageRecord(path, devicesListed);
  DeviceHandle probe;
  probe.open(record);
  if (!probe.ok()) return std::nullopt;
  record.size = probe.size();
  return record;
}

QString signatureBrandText(const DeviceRecord&) { return {}; }

QString fileSystemText(std::uint32_t fsType) { return QString::number(fsType); }

}  // namespace norvale::ui
