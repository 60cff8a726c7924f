// XFS probe (type 11): the superblock at partition byte 0, big-endian.
#include <cstring>
#include <memory>

#include "storage/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {
namespace {

// The 16-bit value equals 2 to the power of the log byte.
bool isPowerOf(std::uint16_t value, std::uint8_t log) { return log < 16 && value == (1u << log); }

}  // namespace

bool probeXfs(std::span<const std::uint8_t> p, PartitionRecord& record) {
  using namespace fsdetail;
  if (p.size() < 0x200) return false;
  const std::uint8_t* b = p.data();
  if (std::memcmp(b, "XFSB", 4) != 0) return false;
  const std::uint16_t sectorSize = be16(b + 0x66);
  if (!isPowerOf(sectorSize, b[0x79])) return false;
  if (!isPowerOf(be16(b + 0x68), b[0x7A])) return false;  // inode size
  if (!isPowerOf(be16(b + 0x6A), b[0x7B])) return false;  // inodes per block
  if (b[0xC0] >= 5) return false;                          // directory block log
  // The free-space and inode headers of group 0 lie in the second and third sector of the file
  // system. The Part looks at bytes 0x200 and 0x400, which is that for 512-byte sectors only;
  // the superblock's own sector size is used so that 4 KiB-sector volumes are recognised too.
  const std::size_t agf = sectorSize;
  const std::size_t agi = 2 * std::size_t{sectorSize};
  if (p.size() < agi + 4) return false;
  if (std::memcmp(b + agf, "XAGF", 4) != 0 || std::memcmp(b + agi, "XAGI", 4) != 0) return false;

  auto g = std::make_shared<FileSystemGeometry>();
  g->fsType = kFsXfs;
  g->clusterSize = be32(b + 0x04);
  g->rootInode = be64(b + 0x38);
  g->inodeSize = be16(b + 0x68);

  record.fsType = kFsXfs;
  record.unitSize = sectorSize;
  record.size = mulSat(be64(b + 0x08), be32(b + 0x04));
  record.geometry = std::move(g);
  return true;
}

}  // namespace norvale
