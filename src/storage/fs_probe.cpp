// The file-system probe chain and the type names of the device list's "FS" column.
#include "storage/fs_probe.h"

#include <array>

namespace norvale {

const char* fileSystemName(std::uint32_t fsType) {
  static constexpr std::array<const char*, 21> kNames = {
      "unKnown", "NTFS",   "FAT32", "FAT16", "exFat",  "HFS",  "inHFS",  "hfsPlus", "EXT2", "EXT3", "EXT4",
      "XFS",     "Reiserfs", "Btrfs", "UFS1", "UFS2", "Vxfs", "hpVxfs", "VMFS",    "JFS2", "QNX4"};
  return fsType < kNames.size() ? kNames[fsType] : kNames[0];
}

std::span<const FileSystemProbeEntry> fileSystemProbeChain() {
  // Offsets are where each family's structure lies inside the partition.
  static constexpr FileSystemProbeEntry kChain[] = {
      {"NTFS", 0, probeNtfs},
      {"FAT32", 0, probeFat32},
      {"FAT16", 0, probeFat16},
      {"exFAT", 0, probeExFat},
      {"ext", 0x400, probeExt},
      {"XFS", 0, probeXfs},
      {"ReiserFS", 0x10000, probeReiserfs},
      {"HFS family", 0x400, probeHfs},
      {"VxFS", 0x400, probeVxfs},
      {"(none)", 0x2000, nullptr},
      {"(none)", 0x100000, nullptr},
      {"(none)", 0x8000, nullptr},
      {"(none)", 0, nullptr},
  };
  return kChain;
}

bool identifyFileSystem(std::span<const std::uint8_t> partition, PartitionRecord& record) {
  for (const auto& entry : fileSystemProbeChain())
    if (entry.probe && entry.probe(partition, record)) return true;
  return false;
}

}  // namespace norvale
