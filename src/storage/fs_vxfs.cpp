// VxFS probe (type 16): the little-endian superblock of the Veritas file system.
#include <memory>

#include "storage/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {
namespace {

constexpr std::uint32_t kVxfsMagic = 0xA501FCF5;

// Superblock fields: magic at 0, version at 4, block size at 0x20, size in blocks at 0x24.
bool superblockAt(std::span<const std::uint8_t> p, std::size_t at) {
  if (p.size() < at + 0x28) return false;
  const std::uint8_t* s = p.data() + at;
  const std::uint32_t blockSize = le32(s + 0x20);
  return le32(s) == kVxfsMagic && blockSize >= 512 && blockSize % 512 == 0 && le32(s + 4) != 0;
}

}  // namespace

bool probeVxfs(std::span<const std::uint8_t> p, PartitionRecord& record) {
  // The probe's position is partition byte 0x400, where VxFS keeps its superblock. The Part
  // reads the fields 0x400 further on (partition byte 0x800), which misses real volumes; both
  // places are accepted, the real one first.
  std::size_t at = 0;
  if (superblockAt(p, 0x400))
    at = 0x400;
  else if (superblockAt(p, 0x800))
    at = 0x800;
  else
    return false;
  const std::uint8_t* s = p.data() + at;

  auto g = std::make_shared<FileSystemGeometry>();
  g->fsType = kFsVxfs;
  g->clusterSize = le32(s + 0x20);

  record.fsType = kFsVxfs;
  record.size = std::uint64_t{le32(s + 0x24)} * le32(s + 0x20);
  record.geometry = std::move(g);
  return true;
}

}  // namespace norvale
