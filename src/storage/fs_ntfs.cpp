// NTFS probe (type 1): the boot sector at partition byte 0.
#include <cstring>
#include <memory>

#include "storage/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {

bool probeNtfs(std::span<const std::uint8_t> p, PartitionRecord& record) {
  using namespace fsdetail;
  if (p.size() < 512) return false;
  const std::uint8_t* b = p.data();
  if (le16(b + 0x1FE) != 0xAA55) return false;
  const std::uint16_t bytesPerSector = le16(b + 0x0B);
  if (bytesPerSector < 512 || bytesPerSector % 512 != 0) return false;
  if (b[0x10] != 0 || le16(b + 0x11) != 0 || le16(b + 0x16) != 0) return false;
  // Hidden sectors: a partitioned volume knows where it starts; 0 (a volume written at the
  // disk's first sector) is refused: a partitioned volume always has them.
  if (le32(b + 0x1C) == 0) return false;
  if (std::memcmp(b + 3, "NTFS", 4) != 0) return false;

  auto geometry = std::make_shared<FileSystemGeometry>();
  geometry->fsType = kFsNtfs;
  const std::uint8_t perCluster = b[0x0D];
  // Sectors per cluster; values above 0x80 encode 2^(256 - value) sectors (clusters of 128 KiB
  // and more, Windows 10 and later).
  geometry->clusterSize = perCluster > 0x80 && 256 - perCluster < 32
                              ? mulSat(bytesPerSector, std::uint64_t{1} << (256 - perCluster))
                              : mulSat(perCluster, bytesPerSector);
  geometry->mftOffset = addSat(record.start, mulSat(le64(b + 0x30), geometry->clusterSize));
  geometry->mftMirrorOffset = addSat(record.start, mulSat(le64(b + 0x38), geometry->clusterSize));
  const auto recordSize = static_cast<std::int8_t>(b[0x40]);
  if (recordSize > 0)
    geometry->fileRecordSize = mulSat(static_cast<std::uint64_t>(recordSize), geometry->clusterSize);
  else if (recordSize > -64)
    geometry->fileRecordSize = std::uint64_t{1} << (-recordSize);

  record.fsType = kFsNtfs;
  record.unitSize = bytesPerSector;
  record.size = mulSat(le64(b + 0x28), bytesPerSector);
  record.geometry = std::move(geometry);
  return true;
}

}  // namespace norvale
