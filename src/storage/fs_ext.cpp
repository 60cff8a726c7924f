// ext probe (types 8, 9, 10): the superblock at partition byte 0x400.
#include <memory>

#include "base/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {
namespace {

namespace ext_super {
constexpr std::size_t kAt = 0x400;
constexpr std::size_t kBytes = 0x160;  // up to the high halves of the 64-bit block counts
constexpr std::size_t kInodesAt = 0x00;
constexpr std::size_t kBlocksAt = 0x04;
constexpr std::size_t kFreeBlocksAt = 0x0C;
constexpr std::size_t kFreeInodesAt = 0x10;
constexpr std::size_t kFirstDataBlockAt = 0x14;
constexpr std::size_t kLogBlockSizeAt = 0x18;   // block size = 1024 << log
constexpr std::size_t kBlocksPerGroupAt = 0x20;
constexpr std::size_t kInodesPerGroupAt = 0x28;
constexpr std::size_t kMagicAt = 0x38;
constexpr std::size_t kCreatorOsAt = 0x48;
constexpr std::size_t kInodeSizeAt = 0x58;
constexpr std::size_t kBlockGroupAt = 0x5A;     // the group a backup superblock belongs to
constexpr std::size_t kCompatFeaturesAt = 0x5C;
constexpr std::size_t kIncompatFeaturesAt = 0x60;
constexpr std::size_t kBlocksHighAt = 0x150;
constexpr std::size_t kFreeBlocksHighAt = 0x158;
constexpr std::uint16_t kMagic = 0xEF53;
constexpr std::uint32_t kCreatorLinux = 0;
constexpr std::uint32_t kHasJournal = 0x4;      // compatible feature
constexpr std::uint32_t kExtents = 0x40;        // incompatible feature
}  // namespace ext_super

}  // namespace

bool probeExt(std::span<const std::uint8_t> p, PartitionRecord& record) {
  using namespace fsdetail;
  using namespace ext_super;
  const auto s = structureAt(p, kAt, kBytes);
  if (!s) return false;
  if (s->u16le(kMagicAt) != kMagic) return false;
  if (s->u32le(kCreatorOsAt) != kCreatorLinux) return false;
  const auto inodeSize = s->u16le(kInodeSizeAt);
  if (!inodeSize || *inodeSize < 128) return false;
  // 1024 << log must not be 0 in 32 bits: the log is below 22 (the shift is made in 64 bits).
  const auto logBlock = s->u32le(kLogBlockSizeAt);
  if (!logBlock || *logBlock >= 22) return false;
  const std::uint64_t blockSize = std::uint64_t{1024} << *logBlock;
  const auto blocksPerGroup = s->u32le(kBlocksPerGroupAt);
  const auto inodesPerGroup = s->u32le(kInodesPerGroupAt);
  if (!present(blocksPerGroup, inodesPerGroup) || *blocksPerGroup == 0 || *inodesPerGroup == 0) return false;
  const auto inodes = s->u32le(kInodesAt);
  const auto freeInodes = s->u32le(kFreeInodesAt);
  if (!present(inodes, freeInodes) || *inodes < *freeInodes) return false;  // inodes >= free inodes
  const auto blocksLow = s->u32le(kBlocksAt);
  const auto blocksHigh = s->u32le(kBlocksHighAt);
  const auto freeLow = s->u32le(kFreeBlocksAt);
  const auto freeHigh = s->u32le(kFreeBlocksHighAt);
  if (!present(blocksLow, blocksHigh, freeLow, freeHigh)) return false;
  const std::uint64_t blocks = *blocksLow | (std::uint64_t{*blocksHigh} << 32);
  const std::uint64_t freeBlocks = *freeLow | (std::uint64_t{*freeHigh} << 32);
  if (freeBlocks >= blocks) return false;
  // A volume of one block group (block count not above blocks per group) is refused.
  if (*blocksHigh == 0 && blocks <= *blocksPerGroup) return false;
  const auto compat = s->u32le(kCompatFeaturesAt);
  const auto incompat = s->u32le(kIncompatFeaturesAt);
  const auto group = s->u16le(kBlockGroupAt);
  const auto firstDataBlock = s->u32le(kFirstDataBlockAt);
  if (!present(compat, incompat, group, firstDataBlock)) return false;

  std::uint32_t type = kFsExt2;
  if (*compat & kHasJournal) type = (*incompat & kExtents) ? kFsExt4 : kFsExt3;

  auto g = std::make_shared<FileSystemGeometry>();
  g->fsType = type;
  g->clusterSize = blockSize;
  g->groupBytes = *blocksPerGroup * blockSize;
  std::uint64_t start = record.start;
  if (*group != 0) {
    // A backup superblock: it lies at block (group x blocks per group + first data block) of
    // the file system, so the file system starts that many bytes before it. Moving the start
    // back by group x group bytes alone would be right for 1 KiB blocks (first data block 1)
    // but 1 KiB short for larger blocks (first data block 0); the general form is used. A
    // start that would fall before the device's first byte is kept as found.
    const std::uint64_t back = mulSat(addSat(mulSat(*group, *blocksPerGroup), *firstDataBlock), blockSize);
    const std::uint64_t superblock = addSat(record.start, kAt);
    if (back <= superblock) start = superblock - back;
    g->backupGroup = *group;
  }

  record.fsType = type;
  record.start = start;
  record.size = mulSat(blocks, blockSize);
  record.geometry = std::move(g);
  return true;
}

}  // namespace norvale
