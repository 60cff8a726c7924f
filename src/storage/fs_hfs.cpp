// HFS family probe (types 5, 6, 7): the volume header at partition byte 0x400, big-endian.
#include <memory>

#include "base/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {
namespace {

// Both headers lie at the same place; the signature tells which one it is.
constexpr std::size_t kHeaderAt = 0x400;
constexpr std::size_t kHeaderBytes = 0x82;

// The HFS master directory block ("BD"), also the wrapper around an HFS Plus volume.
namespace hfs_mdb {
constexpr std::size_t kSignatureAt = 0;
constexpr std::size_t kBlockCountAt = 0x12;        // 16-bit
constexpr std::size_t kBlockSizeAt = 0x14;
constexpr std::size_t kFirstBlockSectorAt = 0x1C;  // the first allocation block, in 512-byte sectors
constexpr std::size_t kEmbeddedSignatureAt = 0x7C; // "H+" in a wrapper, 0 on plain HFS
constexpr std::size_t kEmbeddedStartAt = 0x7E;     // the embedded volume's first allocation block
}  // namespace hfs_mdb

// The HFS Plus ("H+", version 4) and HFSX ("HX", version 5) volume header.
namespace hfs_plus {
constexpr std::size_t kSignatureAt = 0;
constexpr std::size_t kVersionAt = 2;
constexpr std::size_t kBlockSizeAt = 0x28;
constexpr std::size_t kTotalBlocksAt = 0x2C;
constexpr std::size_t kFreeBlocksAt = 0x30;
}  // namespace hfs_plus

bool allocationBlockOk(std::optional<std::uint32_t> v) { return v && *v != 0 && *v % 512 == 0; }

// H+ or HX volume header with the given version.
bool plusHeader(const ByteReader& h, const char (&signature)[3], std::uint16_t version) {
  using namespace hfs_plus;
  if (!h.matches(kSignatureAt, fsdetail::magic(signature))) return false;
  const auto blockSize = h.u32be(kBlockSizeAt);
  const auto total = h.u32be(kTotalBlocksAt);
  const auto freeBlocks = h.u32be(kFreeBlocksAt);
  if (!fsdetail::present(blockSize, total, freeBlocks)) return false;
  return *freeBlocks < *total && *blockSize != 0 && *blockSize % 512 == 0 && *blockSize < 0x10000 &&
         h.u16be(kVersionAt) == version;
}

}  // namespace

bool probeHfs(std::span<const std::uint8_t> p, PartitionRecord& record) {
  using namespace fsdetail;
  const auto h = structureAt(p, kHeaderAt, kHeaderBytes);
  if (!h) return false;

  const bool mdb = h->matches(hfs_mdb::kSignatureAt, magic("BD"));
  std::uint32_t type = 0;
  if (mdb && h->u16be(hfs_mdb::kEmbeddedSignatureAt) == 0 && allocationBlockOk(h->u32be(hfs_mdb::kBlockSizeAt)))
    type = kFsHfs;
  else if (plusHeader(*h, "H+", 4) || plusHeader(*h, "HX", 5))
    type = kFsHfsPlus;
  else if (mdb && h->matches(hfs_mdb::kEmbeddedSignatureAt, magic("H+")) &&
           allocationBlockOk(h->u32be(hfs_mdb::kBlockSizeAt)))
    type = kFsHfsWrapper;
  if (type == 0) return false;

  auto g = std::make_shared<FileSystemGeometry>();
  g->fsType = type;
  if (type == kFsHfsPlus) {
    const auto blockSize = h->u32be(hfs_plus::kBlockSizeAt);
    const auto total = h->u32be(hfs_plus::kTotalBlocksAt);
    if (!present(blockSize, total)) return false;
    g->clusterSize = *blockSize;
    g->firstAllocationBlockOffset = record.start;
    record.size = std::uint64_t{*blockSize} * *total;
  } else {
    const auto blockSize = h->u32be(hfs_mdb::kBlockSizeAt);
    const auto blocks = h->u16be(hfs_mdb::kBlockCountAt);
    const auto firstSector = h->u16be(hfs_mdb::kFirstBlockSectorAt);
    const auto embeddedStart = h->u16be(hfs_mdb::kEmbeddedStartAt);
    if (!present(blockSize, blocks, firstSector, embeddedStart)) return false;
    g->clusterSize = *blockSize;
    g->firstAllocationBlockOffset = record.start + std::uint64_t{*firstSector} * 512;
    if (type == kFsHfsWrapper)
      g->embeddedVolumeOffset = g->firstAllocationBlockOffset + std::uint64_t{*embeddedStart} * g->clusterSize;
    record.size = std::uint64_t{*blockSize} * *blocks;
  }
  record.fsType = type;
  record.geometry = std::move(g);
  return true;
}

}  // namespace norvale
