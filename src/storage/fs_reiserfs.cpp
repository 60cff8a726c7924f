// ReiserFS probe (type 12): the superblock at partition byte 0x10000.
#include <memory>

#include "base/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {
namespace {

namespace reiserfs_super {
constexpr std::size_t kAt = 0x10000;
constexpr std::size_t kBytes = 0x40;
constexpr std::size_t kBlockCountAt = 0x00;
constexpr std::size_t kBlockSizeAt = 0x2C;  // 16-bit
constexpr std::size_t kMagicAt = 0x34;
}  // namespace reiserfs_super

}  // namespace

bool probeReiserfs(std::span<const std::uint8_t> p, PartitionRecord& record) {
  using namespace fsdetail;
  using namespace reiserfs_super;
  const auto s = structureAt(p, kAt, kBytes);
  if (!s) return false;
  const bool v35 = s->matches(kMagicAt, magic("ReIsErFs"));
  const bool v36 = s->matches(kMagicAt, magic("ReIsEr2Fs"));
  const bool jr = s->matches(kMagicAt, magic("ReIsEr3Fs"));  // non-standard journal
  if (!v35 && !v36 && !jr) return false;
  const auto blocks = s->u32le(kBlockCountAt);
  const auto blockSize = s->u16le(kBlockSizeAt);
  if (!present(blocks, blockSize)) return false;

  auto g = std::make_shared<FileSystemGeometry>();
  g->fsType = kFsReiserfs;
  g->clusterSize = *blockSize;

  record.fsType = kFsReiserfs;
  record.size = std::uint64_t{*blocks} * *blockSize;
  record.geometry = std::move(g);
  return true;
}

}  // namespace norvale
