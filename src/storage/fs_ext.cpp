// ext probe (types 8, 9, 10): the superblock at partition byte 0x400.
#include <memory>

#include "storage/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {

bool probeExt(std::span<const std::uint8_t> p, PartitionRecord& record) {
  using namespace fsdetail;
  constexpr std::size_t kAt = 0x400;
  if (p.size() < kAt + 0x160) return false;
  const std::uint8_t* s = p.data() + kAt;
  if (le16(s + 0x38) != 0xEF53) return false;
  if (le32(s + 0x48) != 0) return false;   // creator OS: Linux
  if (le16(s + 0x58) < 128) return false;  // inode size
  // 1024 << log must not be 0 in 32 bits: the log is below 22 (the shift is made in 64 bits).
  const std::uint32_t logBlock = le32(s + 0x18);
  if (logBlock >= 22) return false;
  const std::uint64_t blockSize = std::uint64_t{1024} << logBlock;
  const std::uint32_t blocksPerGroup = le32(s + 0x20);
  if (blocksPerGroup == 0 || le32(s + 0x28) == 0) return false;
  if (le32(s + 0x00) < le32(s + 0x10)) return false;  // inodes >= free inodes
  const std::uint64_t blocks = le32(s + 0x04) | (std::uint64_t{le32(s + 0x150)} << 32);
  const std::uint64_t freeBlocks = le32(s + 0x0C) | (std::uint64_t{le32(s + 0x158)} << 32);
  if (freeBlocks >= blocks) return false;
  // A volume of one block group (block count not above blocks per group) is refused.
  if (le32(s + 0x150) == 0 && blocks <= blocksPerGroup) return false;

  std::uint32_t type = kFsExt2;
  if (le32(s + 0x5C) & 0x4) type = (le32(s + 0x60) & 0x40) ? kFsExt4 : kFsExt3;

  auto g = std::make_shared<FileSystemGeometry>();
  g->fsType = type;
  g->clusterSize = blockSize;
  g->groupBytes = blocksPerGroup * blockSize;
  std::uint64_t start = record.start;
  const std::uint16_t group = le16(s + 0x5A);
  if (group != 0) {
    // A backup superblock: it lies at block (group x blocks per group + first data block) of
    // the file system, so the file system starts that many bytes before it. The Part moves the
    // start back by group x group bytes, which is this for 1 KiB blocks (first data block 1)
    // but 1 KiB short for larger blocks (first data block 0); the general form is used. A
    // start that would fall before the device's first byte is kept as found.
    const std::uint64_t back = mulSat(addSat(mulSat(group, blocksPerGroup), le32(s + 0x14)), blockSize);
    const std::uint64_t superblock = addSat(record.start, kAt);
    if (back <= superblock) start = superblock - back;
    g->backupGroup = group;
  }

  record.fsType = type;
  record.start = start;
  record.size = mulSat(blocks, blockSize);
  record.geometry = std::move(g);
  return true;
}

}  // namespace norvale
