// exFAT probe (type 4): the boot sector at partition byte 0.
#include <memory>

#include "base/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {
namespace {

namespace exfat_boot {
// Where FAT keeps its BIOS parameter block exFAT has zeros only.
constexpr std::size_t kZeroFrom = 0x0B;
constexpr std::size_t kZeroEnd = 0x40;
constexpr std::size_t kVolumeSectorsAt = 0x48;  // 64-bit
constexpr std::size_t kFatSectorAt = 0x50;
constexpr std::size_t kFatSectorsAt = 0x54;
constexpr std::size_t kHeapSectorAt = 0x58;
constexpr std::size_t kRootClusterAt = 0x60;
constexpr std::size_t kSectorShiftAt = 0x6C;
constexpr std::size_t kClusterShiftAt = 0x6D;   // sectors per cluster, as a shift
}  // namespace exfat_boot

}  // namespace

bool probeExFat(std::span<const std::uint8_t> p, PartitionRecord& record) {
  using namespace fsdetail;
  using namespace exfat_boot;
  const auto b = structureAt(p, boot_sector::kAt, boot_sector::kBytes);
  if (!b || b->u16le(boot_sector::kSignatureAt) != boot_sector::kSignature) return false;
  for (std::size_t at = kZeroFrom; at < kZeroEnd; ++at)
    if (b->u8(at) != 0) return false;
  if (!b->matches(boot_sector::kNameAt, magic("EXFAT"))) return false;
  const auto sectorShiftField = b->u8(kSectorShiftAt);
  const auto clusterShiftField = b->u8(kClusterShiftAt);
  const auto fatSector = b->u32le(kFatSectorAt);
  const auto fatSectors = b->u32le(kFatSectorsAt);
  const auto heapSector = b->u32le(kHeapSectorAt);
  const auto rootCluster = b->u32le(kRootClusterAt);
  const auto volumeSectors = b->u64le(kVolumeSectorsAt);
  if (!present(sectorShiftField, clusterShiftField, fatSector, fatSectors, heapSector, rootCluster, volumeSectors))
    return false;
  const unsigned sectorShift = *sectorShiftField;
  const unsigned clusterShift = *clusterShiftField;
  // A shift the unit size or the cluster size cannot hold is no exFAT (the format allows 9..12
  // and 0..25-9); refuse rather than shift by it.
  if (sectorShift > 31 || clusterShift > 31) return false;

  const std::uint64_t unit = std::uint64_t{1} << sectorShift;
  auto g = std::make_shared<FileSystemGeometry>();
  g->fsType = kFsExFat;
  g->clusterSize = unit << clusterShift;
  g->firstFatOffset = addSat(record.start, std::uint64_t{*fatSector} * unit);
  g->fatSize = std::uint64_t{*fatSectors} * unit;
  g->heapOffset = addSat(record.start, std::uint64_t{*heapSector} * unit);
  g->rootCluster = *rootCluster;
  g->cluster0Offset = static_cast<std::int64_t>(g->heapOffset) - static_cast<std::int64_t>(2 * g->clusterSize);

  record.fsType = kFsExFat;
  record.unitSize = static_cast<std::uint32_t>(unit);
  record.size = mulSat(*volumeSectors, unit);
  record.geometry = std::move(g);
  return true;
}

}  // namespace norvale
