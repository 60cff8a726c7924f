#include "storage/signature_check.h"

#include <vector>

#include "base/byte_reader.h"
#include "storage/device_handle.h"

namespace norvale {
namespace {

// Where the stamps lie; each is one or two little-endian 32-bit words.
constexpr std::size_t kStampAt = 0;                // most systems stamp the disk's first bytes
constexpr std::size_t kSecondSectorStampAt = 528;  // 16 bytes into the second sector
constexpr std::size_t kShiftedStampAt = 12;        // behind a 12-byte lead-in
constexpr std::size_t kSecondWordAt = 4;           // from a stamp's start

// The little-endian 32-bit word at offset equals want (false when it lies past the span).
bool word(const ByteReader& r, std::size_t offset, std::uint32_t want) {
  const auto v = r.u32le(offset);
  return v && *v == want;
}

// The two words of a stamp at offset.
bool stamp(const ByteReader& r, std::size_t at, std::uint32_t first, std::uint32_t second) {
  return word(r, at, first) && word(r, at + kSecondWordAt, second);
}

}  // namespace

int signatureBrand(std::span<const std::uint8_t> firstBytes) {
  const ByteReader r(firstBytes);
  if (stamp(r, kStampAt, 0x53464844, 0x00312E34)) return 2;  // "DHFS" "4.1\0"
  if (stamp(r, kStampAt, 0x30534657, 0x0000342E)) return 3;  // "WFS0" ".4\0\0"
  if (stamp(r, kStampAt, 0x59415548, 0x312E3149)) return 7;  // "HUAY" "I1.1"
  if (stamp(r, kStampAt, 0x4C49485A, 0x31474E49)) return 9;  // "ZHIL" "ING1"
  // One step: "jvbk" gives 4, otherwise "HIKVISIO" at 528 gives 1.
  if (word(r, kStampAt, 0x6B62766A)) return 4;                           // "jvbk"
  if (stamp(r, kSecondSectorStampAt, 0x564B4948, 0x4F495349)) return 1;  // "HIKV" "ISIO"
  if (stamp(r, kShiftedStampAt, 0x72617775, 0x31765F65)) return 5;       // "uwar" "e_v1"
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
