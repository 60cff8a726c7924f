#include "storage/device_record.h"

#include <filesystem>

namespace norvale {

DeviceRecord makeImageRecord(const std::string& path, std::int32_t devicesListed) {
  DeviceRecord record;
  record.name = path;
  record.path = path;
  const std::string file = std::filesystem::path(path).filename().string();
  const auto dot = file.rfind('.');
  record.secondName = dot == std::string::npos ? file : file.substr(0, dot);
  record.driveNumber = 10 * devicesListed;
  record.kind = DeviceKind::Path;
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(path, ec);
  record.size = ec ? 0 : bytes;
  return record;
}

}  // namespace norvale
