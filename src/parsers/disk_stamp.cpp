#include "parsers/disk_stamp.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "parsers/brand_table.h"
#include "storage/signature_check.h"

namespace norvale {
namespace {

// The stamped rows in the order their stamps are tried.
std::vector<const BrandRow*> stampedRows() {
  std::vector<const BrandRow*> stamped;
  for (const BrandRow& row : brandTable())
    if (!row.stamp.bytes.empty()) stamped.push_back(&row);
  std::ranges::sort(stamped, {}, [](const BrandRow* row) { return row->stamp.rank; });
  return stamped;
}

bool holds(std::span<const std::uint8_t> bytes, const DiskStamp& stamp) {
  return stamp.at + stamp.bytes.size() <= bytes.size() &&
         std::memcmp(bytes.data() + stamp.at, stamp.bytes.data(), stamp.bytes.size()) == 0;
}

}  // namespace

int signatureBrand(std::span<const std::uint8_t> firstBytes) {
  static const std::vector<const BrandRow*> kStamped = stampedRows();
  for (const BrandRow* row : kStamped)
    if (holds(firstBytes, row->stamp)) return row->first;
  return 0;
}

Result<int> checkDeviceSignature(const DeviceRecord& record) {
  auto first = readSignatureBytes(record);
  if (!first) return std::unexpected(first.error());
  return signatureBrand(*first);
}

}  // namespace norvale
