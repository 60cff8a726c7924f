// FAT32 (type 2) and FAT16 (type 3) probes: the boot sector at partition byte 0.
#include <memory>

#include "base/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {
namespace {

// The BIOS parameter block both share, then each one's own extended block.
namespace fat_boot {
constexpr std::size_t kBytesPerSectorAt = 0x0B;
constexpr std::size_t kSectorsPerClusterAt = 0x0D;
constexpr std::size_t kReservedSectorsAt = 0x0E;
constexpr std::size_t kFatCountAt = 0x10;
constexpr std::size_t kRootEntriesAt = 0x11;
constexpr std::size_t kTotalSectors16At = 0x13;
constexpr std::size_t kFatSectors16At = 0x16;
constexpr std::size_t kTotalSectors32At = 0x20;
// FAT32
constexpr std::size_t kFatSectors32At = 0x24;
constexpr std::size_t kRootClusterAt = 0x2C;
constexpr std::size_t kFat32TypeAt = 0x52;  // "FAT32   "
// FAT16
constexpr std::size_t kFat16TypeAt = 0x36;  // "FAT16   "
}  // namespace fat_boot

bool bytesPerSectorOk(std::uint16_t v) { return v >= 512 && v % 512 == 0; }

// The boot sector, when the buffer holds it whole and it carries the 0xAA55 signature.
std::optional<ByteReader> signedBootSector(std::span<const std::uint8_t> p) {
  using namespace fsdetail;
  auto b = structureAt(p, boot_sector::kAt, boot_sector::kBytes);
  if (!b || b->u16le(boot_sector::kSignatureAt) != boot_sector::kSignature) return std::nullopt;
  return b;
}

}  // namespace

bool probeFat32(std::span<const std::uint8_t> p, PartitionRecord& record) {
  using namespace fsdetail;
  using namespace fat_boot;
  const auto b = signedBootSector(p);
  if (!b) return false;
  const auto fats = b->u8(kFatCountAt);
  if (fats != 2) return false;  // exactly two FATs; a volume with one is refused
  const auto bytesPerSector = b->u16le(kBytesPerSectorAt);
  if (!bytesPerSector || !bytesPerSectorOk(*bytesPerSector)) return false;
  if (b->u16le(kRootEntriesAt) != 0 || b->u16le(kFatSectors16At) != 0) return false;
  if (!b->matches(kFat32TypeAt, magic("FAT32"))) return false;
  const auto reservedField = b->u16le(kReservedSectorsAt);
  const auto fatSectorsField = b->u32le(kFatSectors32At);
  const auto totalSectorsField = b->u32le(kTotalSectors32At);
  const auto perCluster = b->u8(kSectorsPerClusterAt);
  const auto rootCluster = b->u32le(kRootClusterAt);
  if (!present(reservedField, fatSectorsField, totalSectorsField, perCluster, rootCluster)) return false;
  const std::uint64_t reserved = *reservedField;
  const std::uint64_t fatSectors = *fatSectorsField;
  const std::uint64_t totalSectors = *totalSectorsField;
  if (reserved + 2 * fatSectors >= totalSectors) return false;

  auto g = std::make_shared<FileSystemGeometry>();
  g->fsType = kFsFat32;
  g->clusterSize = std::uint64_t{*perCluster} * *bytesPerSector;
  g->fatSize = fatSectors * *bytesPerSector;
  g->firstFatOffset = addSat(record.start, reserved * *bytesPerSector);
  g->secondFatOffset = addSat(g->firstFatOffset, g->fatSize);
  g->rootCluster = *rootCluster;
  g->cluster0Offset = static_cast<std::int64_t>(addSat(g->firstFatOffset, g->fatSize * *fats)) -
                      static_cast<std::int64_t>(2 * g->clusterSize);

  record.fsType = kFsFat32;
  record.unitSize = *bytesPerSector;
  record.size = totalSectors * *bytesPerSector;
  record.geometry = std::move(g);
  return true;
}

bool probeFat16(std::span<const std::uint8_t> p, PartitionRecord& record) {
  using namespace fsdetail;
  using namespace fat_boot;
  const auto b = signedBootSector(p);
  if (!b) return false;
  const auto rootEntries = b->u16le(kRootEntriesAt);
  if (rootEntries != 512) return false;  // exactly 512; 224 (floppy layouts) is refused
  const auto bytesPerSector = b->u16le(kBytesPerSectorAt);
  if (!bytesPerSector || !bytesPerSectorOk(*bytesPerSector)) return false;
  if (!b->matches(kFat16TypeAt, magic("FAT16"))) return false;
  const auto total32 = b->u32le(kTotalSectors32At);
  const auto total16 = b->u16le(kTotalSectors16At);
  const auto perCluster = b->u8(kSectorsPerClusterAt);
  const auto fatSectors = b->u16le(kFatSectors16At);
  const auto reserved = b->u16le(kReservedSectorsAt);
  const auto fats = b->u8(kFatCountAt);
  if (!present(total32, total16, perCluster, fatSectors, reserved, fats)) return false;

  std::uint64_t totalSectors = *total32;
  if (totalSectors == 0) totalSectors = *total16;
  auto g = std::make_shared<FileSystemGeometry>();
  g->fsType = kFsFat16;
  g->clusterSize = std::uint64_t{*perCluster} * *bytesPerSector;
  g->fatSize = std::uint64_t{*fatSectors} * *bytesPerSector;
  g->firstFatOffset = addSat(record.start, std::uint64_t{*reserved} * *bytesPerSector);
  g->secondFatOffset = addSat(g->firstFatOffset, g->fatSize);
  g->rootDirBytes = std::uint64_t{*rootEntries} * 32;
  // The data area of FAT16 follows the fixed root directory, which follows the FATs, not the
  // FATs alone as on FAT32: that would place cluster 2 inside the root directory.
  g->cluster0Offset =
      static_cast<std::int64_t>(addSat(addSat(g->firstFatOffset, g->fatSize * *fats), g->rootDirBytes)) -
      static_cast<std::int64_t>(2 * g->clusterSize);

  record.fsType = kFsFat16;
  record.unitSize = *bytesPerSector;
  record.size = totalSectors * *bytesPerSector;
  record.geometry = std::move(g);
  return true;
}

}  // namespace norvale
