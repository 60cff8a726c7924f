// ReiserFS probe (type 12): the superblock at partition byte 0x10000.
#include <cstring>
#include <memory>

#include "storage/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {

bool probeReiserfs(std::span<const std::uint8_t> p, PartitionRecord& record) {
  constexpr std::size_t kAt = 0x10000;
  if (p.size() < kAt + 0x40) return false;
  const std::uint8_t* s = p.data() + kAt;
  const bool v35 = std::memcmp(s + 0x34, "ReIsErFs", 8) == 0;
  const bool v36 = std::memcmp(s + 0x34, "ReIsEr2Fs", 9) == 0;
  const bool jr = std::memcmp(s + 0x34, "ReIsEr3Fs", 9) == 0;  // non-standard journal
  if (!v35 && !v36 && !jr) return false;

  auto g = std::make_shared<FileSystemGeometry>();
  g->fsType = kFsReiserfs;
  g->clusterSize = le16(s + 0x2C);

  record.fsType = kFsReiserfs;
  record.size = std::uint64_t{le32(s)} * le16(s + 0x2C);
  record.geometry = std::move(g);
  return true;
}

}  // namespace norvale
