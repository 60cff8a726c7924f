// FAT32 (type 2) and FAT16 (type 3) probes: the boot sector at partition byte 0.
#include <cstring>
#include <memory>

#include "storage/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {
namespace {

bool bytesPerSectorOk(std::uint16_t v) { return v >= 512 && v % 512 == 0; }

}  // namespace

bool probeFat32(std::span<const std::uint8_t> p, PartitionRecord& record) {
  using namespace fsdetail;
  if (p.size() < 512) return false;
  const std::uint8_t* b = p.data();
  if (le16(b + 0x1FE) != 0xAA55) return false;
  if (b[0x10] != 2) return false;  // exactly two FATs; a volume with one is refused
  const std::uint16_t bytesPerSector = le16(b + 0x0B);
  if (!bytesPerSectorOk(bytesPerSector)) return false;
  if (le16(b + 0x11) != 0 || le16(b + 0x16) != 0) return false;
  if (std::memcmp(b + 0x52, "FAT32", 5) != 0) return false;
  const std::uint64_t reserved = le16(b + 0x0E);
  const std::uint64_t fatSectors = le32(b + 0x24);
  const std::uint64_t totalSectors = le32(b + 0x20);
  if (reserved + 2 * fatSectors >= totalSectors) return false;

  auto g = std::make_shared<FileSystemGeometry>();
  g->fsType = kFsFat32;
  g->clusterSize = std::uint64_t{b[0x0D]} * bytesPerSector;
  g->fatSize = fatSectors * bytesPerSector;
  g->firstFatOffset = addSat(record.start, reserved * bytesPerSector);
  g->secondFatOffset = addSat(g->firstFatOffset, g->fatSize);
  g->rootCluster = le32(b + 0x2C);
  g->cluster0Offset = static_cast<std::int64_t>(addSat(g->firstFatOffset, g->fatSize * b[0x10])) -
                      static_cast<std::int64_t>(2 * g->clusterSize);

  record.fsType = kFsFat32;
  record.unitSize = bytesPerSector;
  record.size = totalSectors * bytesPerSector;
  record.geometry = std::move(g);
  return true;
}

bool probeFat16(std::span<const std::uint8_t> p, PartitionRecord& record) {
  using namespace fsdetail;
  if (p.size() < 512) return false;
  const std::uint8_t* b = p.data();
  if (le16(b + 0x1FE) != 0xAA55) return false;
  const std::uint16_t rootEntries = le16(b + 0x11);
  if (rootEntries != 512) return false;  // exactly 512; 224 (floppy layouts) is refused
  const std::uint16_t bytesPerSector = le16(b + 0x0B);
  if (!bytesPerSectorOk(bytesPerSector)) return false;
  if (std::memcmp(b + 0x36, "FAT16", 5) != 0) return false;

  std::uint64_t totalSectors = le32(b + 0x20);
  if (totalSectors == 0) totalSectors = le16(b + 0x13);
  auto g = std::make_shared<FileSystemGeometry>();
  g->fsType = kFsFat16;
  g->clusterSize = std::uint64_t{b[0x0D]} * bytesPerSector;
  g->fatSize = std::uint64_t{le16(b + 0x16)} * bytesPerSector;
  g->firstFatOffset = addSat(record.start, std::uint64_t{le16(b + 0x0E)} * bytesPerSector);
  g->secondFatOffset = addSat(g->firstFatOffset, g->fatSize);
  g->rootDirBytes = std::uint64_t{rootEntries} * 32;
  // The data area of FAT16 follows the fixed root directory, which follows the FATs. (The Part
  // says "as for FAT32", which would place cluster 2 inside the root directory.)
  g->cluster0Offset =
      static_cast<std::int64_t>(addSat(addSat(g->firstFatOffset, g->fatSize * b[0x10]), g->rootDirBytes)) -
      static_cast<std::int64_t>(2 * g->clusterSize);

  record.fsType = kFsFat16;
  record.unitSize = bytesPerSector;
  record.size = totalSectors * bytesPerSector;
  record.geometry = std::move(g);
  return true;
}

}  // namespace norvale
