// NTFS probe (type 1): the boot sector at partition byte 0.
#include <memory>

#include "base/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {
namespace {

// The NTFS boot sector's fields; the FAT-era ones must be zero.
namespace ntfs_boot {
constexpr std::size_t kBytesPerSectorAt = 0x0B;
constexpr std::size_t kSectorsPerClusterAt = 0x0D;
constexpr std::size_t kFatCountAt = 0x10;
constexpr std::size_t kRootEntriesAt = 0x11;
constexpr std::size_t kFatSectorsAt = 0x16;
constexpr std::size_t kHiddenSectorsAt = 0x1C;
constexpr std::size_t kTotalSectorsAt = 0x28;       // 64-bit
constexpr std::size_t kMftClusterAt = 0x30;         // 64-bit
constexpr std::size_t kMftMirrorClusterAt = 0x38;   // 64-bit
constexpr std::size_t kFileRecordSizeAt = 0x40;     // signed: clusters, or 2^-value bytes
}  // namespace ntfs_boot

}  // namespace

bool probeNtfs(std::span<const std::uint8_t> p, PartitionRecord& record) {
  using namespace fsdetail;
  using namespace ntfs_boot;
  const auto b = structureAt(p, boot_sector::kAt, boot_sector::kBytes);
  if (!b || b->u16le(boot_sector::kSignatureAt) != boot_sector::kSignature) return false;
  const auto bytesPerSector = b->u16le(kBytesPerSectorAt);
  if (!bytesPerSector || *bytesPerSector < 512 || *bytesPerSector % 512 != 0) return false;
  if (b->u8(kFatCountAt) != 0 || b->u16le(kRootEntriesAt) != 0 || b->u16le(kFatSectorsAt) != 0) return false;
  // Hidden sectors: a partitioned volume knows where it starts; 0 (a volume written at the
  // disk's first sector) is refused: a partitioned volume always has them.
  const auto hidden = b->u32le(kHiddenSectorsAt);
  if (!hidden || *hidden == 0) return false;
  if (!b->matches(boot_sector::kNameAt, magic("NTFS"))) return false;
  const auto perCluster = b->u8(kSectorsPerClusterAt);
  const auto mftCluster = b->u64le(kMftClusterAt);
  const auto mirrorCluster = b->u64le(kMftMirrorClusterAt);
  const auto recordSizeByte = b->u8(kFileRecordSizeAt);
  const auto totalSectors = b->u64le(kTotalSectorsAt);
  if (!present(perCluster, mftCluster, mirrorCluster, recordSizeByte, totalSectors)) return false;

  auto geometry = std::make_shared<FileSystemGeometry>();
  geometry->fsType = kFsNtfs;
  // Sectors per cluster; values above 0x80 encode 2^(256 - value) sectors (clusters of 128 KiB
  // and more, Windows 10 and later).
  geometry->clusterSize = *perCluster > 0x80 && 256 - *perCluster < 32
                              ? mulSat(*bytesPerSector, std::uint64_t{1} << (256 - *perCluster))
                              : mulSat(*perCluster, *bytesPerSector);
  geometry->mftOffset = addSat(record.start, mulSat(*mftCluster, geometry->clusterSize));
  geometry->mftMirrorOffset = addSat(record.start, mulSat(*mirrorCluster, geometry->clusterSize));
  const auto recordSize = static_cast<std::int8_t>(*recordSizeByte);
  if (recordSize > 0)
    geometry->fileRecordSize = mulSat(static_cast<std::uint64_t>(recordSize), geometry->clusterSize);
  else if (recordSize > -64)
    geometry->fileRecordSize = std::uint64_t{1} << (-recordSize);

  record.fsType = kFsNtfs;
  record.unitSize = *bytesPerSector;
  record.size = mulSat(*totalSectors, *bytesPerSector);
  record.geometry = std::move(geometry);
  return true;
}

}  // namespace norvale
