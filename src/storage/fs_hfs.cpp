// HFS family probe (types 5, 6, 7): the volume header at partition byte 0x400, big-endian.
#include <memory>

#include "storage/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {
namespace {

bool sig(const std::uint8_t* p, char a, char b) { return p[0] == static_cast<std::uint8_t>(a) && p[1] == static_cast<std::uint8_t>(b); }

bool allocationBlockOk(std::uint32_t v) { return v != 0 && v % 512 == 0; }

// H+ or HX volume header with the given version.
bool plusHeader(const std::uint8_t* h, char second, std::uint16_t version) {
  if (!sig(h, 'H', second)) return false;
  const std::uint32_t blockSize = be32(h + 0x28);
  return be32(h + 0x30) < be32(h + 0x2C) && blockSize != 0 && blockSize % 512 == 0 && blockSize < 0x10000 &&
         be16(h + 2) == version;
}

}  // namespace

bool probeHfs(std::span<const std::uint8_t> p, PartitionRecord& record) {
  constexpr std::size_t kAt = 0x400;
  if (p.size() < kAt + 0x82) return false;
  const std::uint8_t* h = p.data() + kAt;

  std::uint32_t type = 0;
  if (sig(h, 'B', 'D') && be16(h + 0x7C) == 0 && allocationBlockOk(be32(h + 0x14)))
    type = kFsHfs;
  else if (plusHeader(h, '+', 4) || plusHeader(h, 'X', 5))
    type = kFsHfsPlus;
  else if (sig(h, 'B', 'D') && sig(h + 0x7C, 'H', '+') && allocationBlockOk(be32(h + 0x14)))
    type = kFsHfsWrapper;
  if (type == 0) return false;

  auto g = std::make_shared<FileSystemGeometry>();
  g->fsType = type;
  if (type == kFsHfsPlus) {
    g->clusterSize = be32(h + 0x28);
    g->firstAllocationBlockOffset = record.start;
    record.size = std::uint64_t{be32(h + 0x28)} * be32(h + 0x2C);
  } else {
    // The master directory block: allocation block size at 0x14, block count at 0x12 and the
    // first allocation block (in 512-byte sectors) at 0x1C.
    g->clusterSize = be32(h + 0x14);
    g->firstAllocationBlockOffset = record.start + std::uint64_t{be16(h + 0x1C)} * 512;
    if (type == kFsHfsWrapper)
      g->embeddedVolumeOffset = g->firstAllocationBlockOffset + std::uint64_t{be16(h + 0x7E)} * g->clusterSize;
    record.size = std::uint64_t{be32(h + 0x14)} * be16(h + 0x12);
  }
  record.fsType = type;
  record.geometry = std::move(g);
  return true;
}

}  // namespace norvale
