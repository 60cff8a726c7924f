#include "storage/signature_check.h"

#include "storage/device_handle.h"

namespace norvale {

Result<std::vector<std::uint8_t>> readSignatureBytes(const DeviceRecord& record) {
  DeviceHandle handle;
  handle.open(record);
  if (!handle.ok()) return fail(handle.lastError().code, "访问源设备失败,请确认源设备是否存在");
  std::vector<std::uint8_t> first(kSignatureBytes, 0);
  if (!handle.readAt(0, first)) return fail(ErrorCode::ReadFailed, "读取源设备失败,可能存在坏道", handle.failedOffset());
  return first;
}

}  // namespace norvale
