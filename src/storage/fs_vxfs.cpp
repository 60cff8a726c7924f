// VxFS probe (type 16): the little-endian superblock of the Veritas file system.
#include <memory>

#include "base/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {
namespace {

namespace vxfs_super {
// Partition byte 0x400 is where VxFS keeps its superblock; 0x400 further on (partition byte
// 0x800) is where a reading relative to the probe's own position would look. Real volumes
// have it at the first; both are accepted, the real one first.
constexpr std::size_t kAt = 0x400;
constexpr std::size_t kAlsoAt = 0x800;
constexpr std::size_t kBytes = 0x28;
constexpr std::size_t kMagicAt = 0x00;
constexpr std::size_t kVersionAt = 0x04;
constexpr std::size_t kBlockSizeAt = 0x20;
constexpr std::size_t kBlocksAt = 0x24;
constexpr std::uint32_t kMagic = 0xA501FCF5;
}  // namespace vxfs_super

// The superblock at `at` when it is one: the magic, a block size of whole sectors, a version.
std::optional<ByteReader> superblockAt(std::span<const std::uint8_t> p, std::size_t at) {
  using namespace vxfs_super;
  auto s = fsdetail::structureAt(p, at, kBytes);
  if (!s) return std::nullopt;
  const auto blockSize = s->u32le(kBlockSizeAt);
  const auto version = s->u32le(kVersionAt);
  if (s->u32le(kMagicAt) != kMagic || !blockSize || *blockSize < 512 || *blockSize % 512 != 0 || !version ||
      *version == 0)
    return std::nullopt;
  return s;
}

}  // namespace

bool probeVxfs(std::span<const std::uint8_t> p, PartitionRecord& record) {
  using namespace vxfs_super;
  auto s = superblockAt(p, kAt);
  if (!s) s = superblockAt(p, kAlsoAt);
  if (!s) return false;
  const auto blockSize = s->u32le(kBlockSizeAt);
  const auto blocks = s->u32le(kBlocksAt);
  if (!fsdetail::present(blockSize, blocks)) return false;

  auto g = std::make_shared<FileSystemGeometry>();
  g->fsType = kFsVxfs;
  g->clusterSize = *blockSize;

  record.fsType = kFsVxfs;
  record.size = std::uint64_t{*blocks} * *blockSize;
  record.geometry = std::move(g);
  return true;
}

}  // namespace norvale
