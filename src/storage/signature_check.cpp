#include "storage/signature_check.h"

#include <vector>

#include "storage/byte_reader.h"
#include "storage/device_handle.h"

namespace norvale {
namespace {

// The little-endian 32-bit word at offset equals want (false when it lies past the span).
bool word(const ByteReader& r, std::size_t offset, std::uint32_t want) {
  const auto v = r.u32le(offset);
  return v && *v == want;
}

}  // namespace

int signatureBrand(std::span<const std::uint8_t> firstBytes) {
  const ByteReader r(firstBytes);
  if (word(r, 0, 0x53464844) && word(r, 4, 0x00312E34)) return 2;  // "DHFS" "4.1\0"
  if (word(r, 0, 0x30534657) && word(r, 4, 0x0000342E)) return 3;  // "WFS0" ".4\0\0"
  if (word(r, 0, 0x59415548) && word(r, 4, 0x312E3149)) return 7;  // "HUAY" "I1.1"
  if (word(r, 0, 0x4C49485A) && word(r, 4, 0x31474E49)) return 9;  // "ZHIL" "ING1"
  // One step: "jvbk" gives 4, otherwise "HIKVISIO" at 528 gives 1.
  if (word(r, 0, 0x6B62766A)) return 4;                                // "jvbk"
  if (word(r, 528, 0x564B4948) && word(r, 532, 0x4F495349)) return 1;  // "HIKV" "ISIO"
  if (word(r, 12, 0x72617775) && word(r, 16, 0x31765F65)) return 5;    // "uwar" "e_v1"
  return 0;
}

Result<int> checkDeviceSignature(const DeviceRecord& record) {
  DeviceHandle handle;
  handle.open(record);
  if (!handle.ok()) return fail(handle.lastError().code, "访问源设备失败,请确认源设备是否存在");
  std::vector<std::uint8_t> first(kSignatureBytes, 0);
  if (!handle.readAt(0, first)) return fail(ErrorCode::ReadFailed, "读取源设备失败,可能存在坏道", handle.failedOffset());
  return signatureBrand(first);
}

}  // namespace norvale
