// XFS probe (type 11): the superblock at partition byte 0, big-endian.
#include <memory>

#include "base/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {
namespace {

namespace xfs_super {
constexpr std::size_t kAt = 0;
constexpr std::size_t kBytes = 0x200;
constexpr std::size_t kMagicAt = 0x00;          // "XFSB"
constexpr std::size_t kBlockSizeAt = 0x04;
constexpr std::size_t kDataBlocksAt = 0x08;     // 64-bit
constexpr std::size_t kRootInodeAt = 0x38;      // 64-bit
constexpr std::size_t kSectorSizeAt = 0x66;     // 16-bit
constexpr std::size_t kInodeSizeAt = 0x68;      // 16-bit
constexpr std::size_t kInodesPerBlockAt = 0x6A; // 16-bit
constexpr std::size_t kSectorLogAt = 0x79;
constexpr std::size_t kInodeLogAt = 0x7A;
constexpr std::size_t kInodesPerBlockLogAt = 0x7B;
constexpr std::size_t kDirBlockLogAt = 0xC0;
}  // namespace xfs_super

// The free-space (AGF) and inode (AGI) headers of allocation group 0 begin the second and the
// third sector of the file system.
namespace xfs_group0 {
constexpr std::size_t kFreeSpaceSector = 1;
constexpr std::size_t kInodeSector = 2;
}  // namespace xfs_group0

// The 16-bit value equals 2 to the power of the log byte.
bool isPowerOf(std::uint16_t value, std::uint8_t log) { return log < 16 && value == (1u << log); }
bool isPowerOf(std::optional<std::uint16_t> value, std::optional<std::uint8_t> log) {
  return value && log && isPowerOf(*value, *log);
}

}  // namespace

bool probeXfs(std::span<const std::uint8_t> p, PartitionRecord& record) {
  using namespace fsdetail;
  using namespace xfs_super;
  const auto s = structureAt(p, kAt, kBytes);
  if (!s || !s->matches(kMagicAt, magic("XFSB"))) return false;
  const auto sectorSize = s->u16be(kSectorSizeAt);
  if (!isPowerOf(sectorSize, s->u8(kSectorLogAt))) return false;
  if (!isPowerOf(s->u16be(kInodeSizeAt), s->u8(kInodeLogAt))) return false;
  if (!isPowerOf(s->u16be(kInodesPerBlockAt), s->u8(kInodesPerBlockLogAt))) return false;
  const auto dirBlockLog = s->u8(kDirBlockLogAt);
  if (!dirBlockLog || *dirBlockLog >= 5) return false;
  // The group 0 headers lie in the second and third sector of the file system. Bytes 0x200 and
  // 0x400 are that for 512-byte sectors only; the superblock's own sector size is used so that
  // 4 KiB-sector volumes are recognised too.
  const ByteReader whole(p);
  if (!whole.matches(xfs_group0::kFreeSpaceSector * *sectorSize, magic("XAGF")) ||
      !whole.matches(xfs_group0::kInodeSector * *sectorSize, magic("XAGI")))
    return false;
  const auto blockSize = s->u32be(kBlockSizeAt);
  const auto rootInode = u64be(*s, kRootInodeAt);
  const auto inodeSize = s->u16be(kInodeSizeAt);
  const auto dataBlocks = u64be(*s, kDataBlocksAt);
  if (!present(blockSize, rootInode, inodeSize, dataBlocks)) return false;

  auto g = std::make_shared<FileSystemGeometry>();
  g->fsType = kFsXfs;
  g->clusterSize = *blockSize;
  g->rootInode = *rootInode;
  g->inodeSize = *inodeSize;

  record.fsType = kFsXfs;
  record.unitSize = *sectorSize;
  record.size = mulSat(*dataBlocks, *blockSize);
  record.geometry = std::move(g);
  return true;
}

}  // namespace norvale
