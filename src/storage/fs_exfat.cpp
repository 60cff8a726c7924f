// exFAT probe (type 4): the boot sector at partition byte 0.
#include <algorithm>
#include <cstring>
#include <memory>

#include "storage/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {

bool probeExFat(std::span<const std::uint8_t> p, PartitionRecord& record) {
  using namespace fsdetail;
  if (p.size() < 512) return false;
  const std::uint8_t* b = p.data();
  if (le16(b + 0x1FE) != 0xAA55) return false;
  if (!std::all_of(b + 0x0B, b + 0x40, [](std::uint8_t v) { return v == 0; })) return false;
  if (std::memcmp(b + 3, "EXFAT", 5) != 0) return false;
  const unsigned sectorShift = b[0x6C];
  const unsigned clusterShift = b[0x6D];
  // A shift the unit size or the cluster size cannot hold is no exFAT (the format allows 9..12
  // and 0..25-9); refuse rather than shift by it.
  if (sectorShift > 31 || clusterShift > 31) return false;

  const std::uint64_t unit = std::uint64_t{1} << sectorShift;
  auto g = std::make_shared<FileSystemGeometry>();
  g->fsType = kFsExFat;
  g->clusterSize = unit << clusterShift;
  g->firstFatOffset = addSat(record.start, std::uint64_t{le32(b + 0x50)} * unit);
  g->fatSize = std::uint64_t{le32(b + 0x54)} * unit;
  g->heapOffset = addSat(record.start, std::uint64_t{le32(b + 0x58)} * unit);
  g->rootCluster = le32(b + 0x60);
  g->cluster0Offset = static_cast<std::int64_t>(g->heapOffset) - static_cast<std::int64_t>(2 * g->clusterSize);

  record.fsType = kFsExFat;
  record.unitSize = static_cast<std::uint32_t>(unit);
  record.size = mulSat(le64(b + 0x48), unit);
  record.geometry = std::move(g);
  return true;
}

}  // namespace norvale
