#pragma once
// File-system identification: a fixed chain of probes that look at the first
// 1,049,600 bytes of a partition and, when one recognises its file system, fill the partition
// record with the type number, unit size, size (and, for ext, start) and a geometry object.
// The probes only read the buffer they are given; none of them reads the device.
// One source file per family (fs_ntfs.cpp, fs_fat.cpp, fs_exfat.cpp, fs_ext.cpp, fs_xfs.cpp,
// fs_reiserfs.cpp, fs_hfs.cpp, fs_vxfs.cpp); the chain and the names live in fs_probe.cpp.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "base/byte_reader.h"
#include "storage/device_record.h"

namespace norvale {

// File-system type numbers as the device list's "FS" column knows them.
inline constexpr std::uint32_t kFsNtfs = 1;
inline constexpr std::uint32_t kFsFat32 = 2;
inline constexpr std::uint32_t kFsFat16 = 3;
inline constexpr std::uint32_t kFsExFat = 4;
inline constexpr std::uint32_t kFsHfs = 5;
inline constexpr std::uint32_t kFsHfsWrapper = 6;  // HFS wrapper around an HFS Plus volume
inline constexpr std::uint32_t kFsHfsPlus = 7;     // HFS Plus or HFSX
inline constexpr std::uint32_t kFsExt2 = 8;        // ext without journal
inline constexpr std::uint32_t kFsExt3 = 9;        // journal, no extents
inline constexpr std::uint32_t kFsExt4 = 10;       // journal and extents
inline constexpr std::uint32_t kFsXfs = 11;
inline constexpr std::uint32_t kFsReiserfs = 12;
inline constexpr std::uint32_t kFsBtrfs = 13;   // named, never probed
inline constexpr std::uint32_t kFsUfs1 = 14;    // named, never probed
inline constexpr std::uint32_t kFsUfs2 = 15;    // named, never probed
inline constexpr std::uint32_t kFsVxfs = 16;
inline constexpr std::uint32_t kFsHpVxfs = 17;  // named, never probed
inline constexpr std::uint32_t kFsVmfs = 18;    // named, never probed
inline constexpr std::uint32_t kFsJfs2 = 19;    // named, never probed
inline constexpr std::uint32_t kFsQnx4 = 20;    // named, never probed

// How many bytes of a partition the scan reads for the probes: 2050 sectors.
inline constexpr std::size_t kProbeReadSize = 2050 * 512;

// The name the device list shows for a type number ("NTFS", "exFat", "EXT4" ...), "unKnown"
// for a number outside 1..20.
const char* fileSystemName(std::uint32_t fsType);

// What a recognising probe learnt of the file system's main structures. Positions are byte
// offsets on the device (the partition start included); fields a family has no use for stay 0.
struct FileSystemGeometry {
  std::uint32_t fsType = 0;
  std::uint64_t clusterSize = 0;  // cluster (NTFS, FAT, exFAT) or block (ext, XFS, ReiserFS, HFS, VxFS) in bytes
  // NTFS
  std::uint64_t mftOffset = 0;
  std::uint64_t mftMirrorOffset = 0;
  std::uint64_t fileRecordSize = 0;
  // FAT32, FAT16, exFAT
  std::uint64_t fatSize = 0;          // bytes of one FAT
  std::uint64_t firstFatOffset = 0;
  std::uint64_t secondFatOffset = 0;  // FAT32 and FAT16
  std::uint32_t rootCluster = 0;      // FAT32 and exFAT
  std::uint64_t rootDirBytes = 0;     // FAT16: the fixed root directory
  std::uint64_t heapOffset = 0;       // exFAT: the cluster heap
  std::int64_t cluster0Offset = 0;    // where cluster 0 would lie (cluster 2 is the first data cluster); may be < 0
  // ext
  std::uint64_t groupBytes = 0;       // blocks per group x block size
  std::uint32_t backupGroup = 0;      // the group whose backup superblock was found (0 = the primary)
  // XFS
  std::uint64_t rootInode = 0;
  std::uint32_t inodeSize = 0;
  // HFS family
  std::uint64_t firstAllocationBlockOffset = 0;
  std::uint64_t embeddedVolumeOffset = 0;  // type 6: the HFS Plus volume inside the wrapper
};

// One probe of the chain. `partition` holds the partition's first bytes (normally
// kProbeReadSize of them; shorter buffers are handled, the probe refuses what it cannot see).
// record.start and record.unitSize are inputs; on recognition the probe sets fsType, unitSize,
// size, geometry (and may move start); on refusal it leaves the record untouched.
using FileSystemProbe = bool (*)(std::span<const std::uint8_t> partition, PartitionRecord& record);

struct FileSystemProbeEntry {
  const char* family;        // "NTFS", "FAT32" ... or "(none)" for the four empty slots
  std::size_t offset;        // partition byte where its structure lies
  FileSystemProbe probe;     // nullptr for the slots that never recognise anything
};

// The chain in its order: NTFS, FAT32, FAT16, exFAT, ext, XFS, ReiserFS, HFS family, VxFS and
// four slots that never match.
std::span<const FileSystemProbeEntry> fileSystemProbeChain();

// Runs the chain; true when a probe recognised the partition (the record is then filled).
bool identifyFileSystem(std::span<const std::uint8_t> partition, PartitionRecord& record);

// The probes, one per family.
bool probeNtfs(std::span<const std::uint8_t> partition, PartitionRecord& record);
bool probeFat32(std::span<const std::uint8_t> partition, PartitionRecord& record);
bool probeFat16(std::span<const std::uint8_t> partition, PartitionRecord& record);
bool probeExFat(std::span<const std::uint8_t> partition, PartitionRecord& record);
bool probeExt(std::span<const std::uint8_t> partition, PartitionRecord& record);
bool probeXfs(std::span<const std::uint8_t> partition, PartitionRecord& record);
bool probeReiserfs(std::span<const std::uint8_t> partition, PartitionRecord& record);
bool probeHfs(std::span<const std::uint8_t> partition, PartitionRecord& record);
bool probeVxfs(std::span<const std::uint8_t> partition, PartitionRecord& record);

namespace fsdetail {
// a x b, or the largest value when the product does not fit.
inline std::uint64_t mulSat(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
  return a * b;
}
inline std::uint64_t addSat(std::uint64_t a, std::uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

// The `length` bytes of one on-disk structure at partition byte `at`, or nothing when the buffer
// does not hold all of them: a probe refuses a structure it cannot see whole. The probes read
// every field through the returned reader at its named offset from the structure's start, so a
// field that lies outside the structure reads as absent and refuses it too. An absent field
// compares unequal to every value: `field != want` refuses it, `field == want` does not accept it.
inline std::optional<ByteReader> structureAt(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t length) {
  if (!ByteReader(bytes).has(at, length)) return std::nullopt;
  return ByteReader(bytes.subspan(at, length));
}

// True when every field read is present.
template <typename... T>
bool present(const std::optional<T>&... fields) {
  return (fields.has_value() && ...);
}

// The big-endian 64-bit field at offset (XFS); absent when it does not lie inside the reader.
inline std::optional<std::uint64_t> u64be(const ByteReader& r, std::size_t offset) {
  if (!r.has(offset, 8)) return std::nullopt;
  return (std::uint64_t{*r.u32be(offset)} << 32) | *r.u32be(offset + 4);
}

// The bytes of a text magic, its terminating 0 left out.
template <std::size_t N>
std::span<const std::uint8_t> magic(const char (&text)[N]) {
  return {reinterpret_cast<const std::uint8_t*>(text), N - 1};
}

// The boot sector that NTFS, FAT and exFAT share: 512 bytes at partition byte 0 ending in the
// 0xAA55 signature, the name of the file system (the OEM name) from byte 3.
namespace boot_sector {
constexpr std::size_t kAt = 0;
constexpr std::size_t kBytes = 512;
constexpr std::size_t kNameAt = 3;
constexpr std::size_t kSignatureAt = 0x1FE;
constexpr std::uint16_t kSignature = 0xAA55;
}  // namespace boot_sector
}  // namespace fsdetail

}  // namespace norvale
