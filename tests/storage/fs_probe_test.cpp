// The probe chain on crafted buffers: the families without Debian tools (HFS, HFS Plus, HFSX,
// the HFS wrapper, VxFS), the names, and the refusals and guards that real tools cannot produce.
#include "storage/fs_probe.h"

#include <gtest/gtest.h>

#include "storage/crafted_volumes.h"

namespace norvale {
namespace {

using test::putBe16;
using test::putBe32;
using test::putText;

std::vector<std::uint8_t> partitionBuffer() { return std::vector<std::uint8_t>(kProbeReadSize, 0); }

PartitionRecord at(std::uint64_t start, std::uint64_t size = 0) {
  PartitionRecord r;
  r.start = start;
  r.size = size;
  r.name = "Partition0";
  return r;
}

TEST(FileSystemNames, EveryTypeNumberHasItsName) {
  EXPECT_STREQ(fileSystemName(1), "NTFS");
  EXPECT_STREQ(fileSystemName(2), "FAT32");
  EXPECT_STREQ(fileSystemName(3), "FAT16");
  EXPECT_STREQ(fileSystemName(4), "exFat");
  EXPECT_STREQ(fileSystemName(5), "HFS");
  EXPECT_STREQ(fileSystemName(6), "inHFS");
  EXPECT_STREQ(fileSystemName(7), "hfsPlus");
  EXPECT_STREQ(fileSystemName(8), "EXT2");
  EXPECT_STREQ(fileSystemName(9), "EXT3");
  EXPECT_STREQ(fileSystemName(10), "EXT4");
  EXPECT_STREQ(fileSystemName(11), "XFS");
  EXPECT_STREQ(fileSystemName(12), "Reiserfs");
  EXPECT_STREQ(fileSystemName(13), "Btrfs");
  EXPECT_STREQ(fileSystemName(14), "UFS1");
  EXPECT_STREQ(fileSystemName(15), "UFS2");
  EXPECT_STREQ(fileSystemName(16), "Vxfs");
  EXPECT_STREQ(fileSystemName(17), "hpVxfs");
  EXPECT_STREQ(fileSystemName(18), "VMFS");
  EXPECT_STREQ(fileSystemName(19), "JFS2");
  EXPECT_STREQ(fileSystemName(20), "QNX4");
  EXPECT_STREQ(fileSystemName(0), "unKnown");
  EXPECT_STREQ(fileSystemName(21), "unKnown");
  EXPECT_STREQ(fileSystemName(0xFFFFFFFF), "unKnown");
}

TEST(FileSystemChain, OrderAndStructureOffsets) {
  const auto chain = fileSystemProbeChain();
  ASSERT_EQ(chain.size(), 13u);
  const std::vector<std::pair<std::string, std::size_t>> want = {
      {"NTFS", 0},         {"FAT32", 0},   {"FAT16", 0},       {"exFAT", 0},       {"ext", 0x400},
      {"XFS", 0},          {"ReiserFS", 0x10000}, {"HFS family", 0x400}, {"VxFS", 0x400}, {"(none)", 0x2000},
      {"(none)", 0x100000}, {"(none)", 0x8000}, {"(none)", 0}};
  for (std::size_t i = 0; i < chain.size(); ++i) {
    EXPECT_EQ(chain[i].family, want[i].first) << i;
    EXPECT_EQ(chain[i].offset, want[i].second) << i;
    EXPECT_EQ(chain[i].probe == nullptr, i >= 9) << i;
  }
  EXPECT_EQ(kProbeReadSize, 1049600u);
}

TEST(FileSystemChain, ZeroBufferAndEmptyBufferAreNothing) {
  auto r = at(0);
  EXPECT_FALSE(identifyFileSystem(partitionBuffer(), r));
  EXPECT_FALSE(identifyFileSystem({}, r));
  EXPECT_EQ(r.fsType, 0u);
  EXPECT_EQ(r.geometry, nullptr);
}

// --- HFS family (offsets from partition byte 0x400, big-endian) ---

std::vector<std::uint8_t> hfsMdb(std::uint32_t blockSize, std::uint16_t blocks) {
  auto buf = partitionBuffer();
  std::uint8_t* h = buf.data() + 0x400;
  putText(h, "BD");
  putBe16(h + 0x12, blocks);
  putBe32(h + 0x14, blockSize);
  putBe16(h + 0x1C, 6);  // first allocation block at sector 6
  return buf;
}

TEST(HfsProbe, PlainHfs) {
  auto buf = hfsMdb(4096, 1000);
  auto r = at(1 << 20);
  ASSERT_TRUE(identifyFileSystem(buf, r));
  EXPECT_EQ(r.fsType, kFsHfs);
  EXPECT_STREQ(fileSystemName(r.fsType), "HFS");
  EXPECT_EQ(r.size, 4096u * 1000);
  EXPECT_EQ(r.start, 1u << 20);
  ASSERT_NE(r.geometry, nullptr);
  EXPECT_EQ(r.geometry->clusterSize, 4096u);
  EXPECT_EQ(r.geometry->firstAllocationBlockOffset, (1u << 20) + 6u * 512);
}

TEST(HfsProbe, AllocationBlockNotAMultipleOf512IsRefused) {
  auto buf = hfsMdb(1000, 1000);
  auto r = at(0);
  EXPECT_FALSE(probeHfs(buf, r));
  buf = hfsMdb(0, 1000);
  EXPECT_FALSE(probeHfs(buf, r));
}

TEST(HfsProbe, WrapperAroundHfsPlusIsInHfs) {
  auto buf = hfsMdb(4096, 5000);
  std::uint8_t* h = buf.data() + 0x400;
  putText(h + 0x7C, "H+");
  putBe16(h + 0x7E, 3);  // embedded volume from allocation block 3
  putBe16(h + 0x80, 4990);
  auto r = at(0);
  ASSERT_TRUE(identifyFileSystem(buf, r));
  EXPECT_EQ(r.fsType, kFsHfsWrapper);
  EXPECT_STREQ(fileSystemName(r.fsType), "inHFS");
  EXPECT_EQ(r.size, 4096u * 5000);
  EXPECT_EQ(r.geometry->embeddedVolumeOffset, 6u * 512 + 3u * 4096);
}

std::vector<std::uint8_t> hfsPlusHeader(const char* sig, std::uint16_t version, std::uint32_t blockSize,
                                        std::uint32_t total, std::uint32_t freeBlocks) {
  auto buf = partitionBuffer();
  std::uint8_t* h = buf.data() + 0x400;
  putText(h, sig);
  putBe16(h + 2, version);
  putBe32(h + 0x28, blockSize);
  putBe32(h + 0x2C, total);
  putBe32(h + 0x30, freeBlocks);
  return buf;
}

TEST(HfsProbe, BareHfsPlusIsHfsPlus) {
  auto buf = hfsPlusHeader("H+", 4, 4096, 25600, 100);
  auto r = at(2048 * 512);
  ASSERT_TRUE(identifyFileSystem(buf, r));
  EXPECT_EQ(r.fsType, kFsHfsPlus);
  EXPECT_STREQ(fileSystemName(r.fsType), "hfsPlus");
  EXPECT_EQ(r.size, 4096u * 25600);
  EXPECT_EQ(r.unitSize, 512u);  // unchanged
}

TEST(HfsProbe, HfsxVersion5IsHfsPlus) {
  auto buf = hfsPlusHeader("HX", 5, 8192, 1000, 10);
  auto r = at(0);
  ASSERT_TRUE(identifyFileSystem(buf, r));
  EXPECT_EQ(r.fsType, kFsHfsPlus);
  EXPECT_EQ(r.size, 8192u * 1000);
}

TEST(HfsProbe, HfsPlusRefusals) {
  auto r = at(0);
  EXPECT_FALSE(probeHfs(hfsPlusHeader("H+", 5, 4096, 1000, 10), r));     // H+ must be version 4
  EXPECT_FALSE(probeHfs(hfsPlusHeader("HX", 4, 4096, 1000, 10), r));     // HX must be version 5
  EXPECT_FALSE(probeHfs(hfsPlusHeader("H+", 4, 4096, 1000, 1000), r));   // free not below total
  EXPECT_FALSE(probeHfs(hfsPlusHeader("H+", 4, 0x10000, 1000, 10), r));  // block size must be below 0x10000
  EXPECT_FALSE(probeHfs(hfsPlusHeader("H+", 4, 1000, 1000, 10), r));     // not a multiple of 512
  EXPECT_EQ(r.fsType, 0u);
}

// --- VxFS ---

std::vector<std::uint8_t> vxfsAt(std::size_t sb, std::uint32_t blockSize, std::uint32_t version) {
  auto buf = partitionBuffer();
  putLe32(buf.data() + sb, 0xA501FCF5);
  putLe32(buf.data() + sb + 4, version);
  putLe32(buf.data() + sb + 0x20, blockSize);
  putLe32(buf.data() + sb + 0x24, 10000);
  return buf;
}

TEST(VxfsProbe, SuperblockAtPartitionByte0x400) {
  auto buf = vxfsAt(0x400, 1024, 4);
  auto r = at(0);
  ASSERT_TRUE(identifyFileSystem(buf, r));
  EXPECT_EQ(r.fsType, kFsVxfs);
  EXPECT_STREQ(fileSystemName(r.fsType), "Vxfs");
  EXPECT_EQ(r.size, 1024u * 10000);
}

TEST(VxfsProbe, SuperblockAtPartitionByte0x800) {
  auto buf = vxfsAt(0x800, 8192, 6);
  auto r = at(0);
  ASSERT_TRUE(identifyFileSystem(buf, r));
  EXPECT_EQ(r.fsType, kFsVxfs);
  EXPECT_EQ(r.geometry->clusterSize, 8192u);
}

TEST(VxfsProbe, Refusals) {
  auto r = at(0);
  EXPECT_FALSE(probeVxfs(vxfsAt(0x400, 256, 4), r));   // block size below 512
  EXPECT_FALSE(probeVxfs(vxfsAt(0x400, 1000, 4), r));  // not a multiple of 512
  EXPECT_FALSE(probeVxfs(vxfsAt(0x400, 1024, 0), r));  // version 0
}

TEST(VxfsProbe, TheChainStopsAtVxfs) {
  // A buffer that VxFS recognises and nothing before it does is typed 16 and nothing else runs.
  auto buf = vxfsAt(0x400, 1024, 4);
  auto r = at(0);
  ASSERT_TRUE(identifyFileSystem(buf, r));
  EXPECT_EQ(r.fsType, 16u);
}

// --- NTFS, FAT and exFAT details that the tools cannot be made to write ---

std::vector<std::uint8_t> ntfsBoot(std::uint32_t hidden) {
  auto buf = partitionBuffer();
  std::uint8_t* b = buf.data();
  putText(b + 3, "NTFS    ");
  putLe16(b + 0x0B, 512);
  b[0x0D] = 8;
  putLe32(b + 0x1C, hidden);
  putLe64(b + 0x28, 32767);
  putLe64(b + 0x30, 4);
  putLe64(b + 0x38, 2047);
  b[0x40] = 0xF6;  // -10: 1024-byte file records
  putLe16(b + 0x1FE, 0xAA55);
  return buf;
}

TEST(NtfsProbe, GeometryFromTheBootSector) {
  auto buf = ntfsBoot(2048);
  auto r = at(2048 * 512);
  ASSERT_TRUE(identifyFileSystem(buf, r));
  EXPECT_EQ(r.fsType, kFsNtfs);
  EXPECT_EQ(r.unitSize, 512u);
  EXPECT_EQ(r.size, 32767u * 512);
  EXPECT_EQ(r.geometry->clusterSize, 4096u);
  EXPECT_EQ(r.geometry->mftOffset, 2048u * 512 + 4 * 4096);
  EXPECT_EQ(r.geometry->mftMirrorOffset, 2048u * 512 + 2047u * 4096);
  EXPECT_EQ(r.geometry->fileRecordSize, 1024u);
}

TEST(NtfsProbe, ZeroHiddenSectorsIsRefused) {
  auto buf = ntfsBoot(0);
  auto r = at(0);
  EXPECT_FALSE(identifyFileSystem(buf, r));
}

TEST(NtfsProbe, PositiveRecordSizeCountsClusters) {
  auto buf = ntfsBoot(63);
  buf[0x40] = 1;
  auto r = at(0);
  ASSERT_TRUE(probeNtfs(buf, r));
  EXPECT_EQ(r.geometry->fileRecordSize, 4096u);
}

TEST(Fat16Probe, ClusterZeroLiesBeforeTheDataAreaAfterTheRootDirectory) {
  auto buf = partitionBuffer();
  std::uint8_t* b = buf.data();
  putLe16(b + 0x0B, 512);
  b[0x0D] = 4;             // 2 KiB clusters
  putLe16(b + 0x0E, 4);    // reserved
  b[0x10] = 2;             // FATs
  putLe16(b + 0x11, 512);  // root entries
  putLe16(b + 0x13, 32768);
  putLe16(b + 0x16, 32);   // sectors per FAT
  putText(b + 0x36, "FAT16   ");
  putLe16(b + 0x1FE, 0xAA55);
  auto r = at(1 << 20);
  ASSERT_TRUE(identifyFileSystem(buf, r));
  EXPECT_EQ(r.fsType, kFsFat16);
  EXPECT_EQ(r.size, 32768u * 512);
  EXPECT_EQ(r.geometry->firstFatOffset, (1u << 20) + 4u * 512);
  EXPECT_EQ(r.geometry->secondFatOffset, (1u << 20) + 4u * 512 + 32u * 512);
  EXPECT_EQ(r.geometry->rootDirBytes, 512u * 32);
  // Data (cluster 2) starts after 4 reserved + 2 x 32 FAT sectors + 32 root sectors.
  EXPECT_EQ(r.geometry->cluster0Offset + 2 * 2048, static_cast<std::int64_t>((1u << 20) + (4 + 64 + 32) * 512));
  // The 32-bit total, when set, wins over the 16-bit one.
  putLe32(b + 0x20, 40000);
  auto r2 = at(0);
  ASSERT_TRUE(identifyFileSystem(buf, r2));
  EXPECT_EQ(r2.size, 40000u * 512);
}

TEST(Fat32Probe, CraftedBootSectorAndItsGeometry) {
  auto buf = partitionBuffer();
  test::writeFat32BootSector(buf.data(), 81920, 630);
  auto r = at(2048 * 512);
  ASSERT_TRUE(identifyFileSystem(buf, r));
  EXPECT_EQ(r.fsType, kFsFat32);
  EXPECT_EQ(r.size, 81920u * 512);
  EXPECT_EQ(r.geometry->fatSize, 630u * 512);
  EXPECT_EQ(r.geometry->firstFatOffset, 2048u * 512 + 32 * 512);
  EXPECT_EQ(r.geometry->rootCluster, 2u);
  EXPECT_EQ(r.geometry->cluster0Offset + 2 * 4096, static_cast<std::int64_t>(2048u * 512 + (32 + 2 * 630) * 512));
}

TEST(Fat32Probe, FatsLargerThanTheVolumeAreRefused) {
  auto buf = partitionBuffer();
  test::writeFat32BootSector(buf.data(), 1000, 500);  // 32 + 2 x 500 >= 1000
  auto r = at(0);
  EXPECT_FALSE(probeFat32(buf, r));
}

TEST(ExFatProbe, AbsurdShiftsAreRefusedNotShifted) {
  auto buf = partitionBuffer();
  std::uint8_t* b = buf.data();
  putText(b + 3, "EXFAT   ");
  putLe64(b + 0x48, 16384);
  b[0x6C] = 200;
  b[0x6D] = 3;
  putLe16(b + 0x1FE, 0xAA55);
  auto r = at(0);
  EXPECT_FALSE(probeExFat(buf, r));
  b[0x6C] = 9;
  ASSERT_TRUE(probeExFat(buf, r));
  EXPECT_EQ(r.unitSize, 512u);
  EXPECT_EQ(r.size, 16384u * 512);
  EXPECT_EQ(r.geometry->clusterSize, 4096u);
}

// --- ext: the superblock fields that mke2fs fills but the tests must vary ---

std::vector<std::uint8_t> extSuperblock(std::uint32_t logBlock, std::uint32_t blocks, std::uint32_t perGroup) {
  auto buf = partitionBuffer();
  std::uint8_t* s = buf.data() + 0x400;
  putLe32(s + 0x00, 4096);        // inodes
  putLe32(s + 0x04, blocks);
  putLe32(s + 0x0C, 100);         // free blocks
  putLe32(s + 0x10, 4000);        // free inodes
  putLe32(s + 0x14, logBlock == 0 ? 1 : 0);  // first data block
  putLe32(s + 0x18, logBlock);
  putLe32(s + 0x20, perGroup);
  putLe32(s + 0x28, 2048);        // inodes per group
  putLe16(s + 0x38, 0xEF53);
  putLe16(s + 0x58, 256);
  return buf;
}

TEST(ExtProbe, TypeFromJournalAndExtents) {
  auto buf = extSuperblock(0, 16384, 8192);
  auto r = at(0);
  ASSERT_TRUE(probeExt(buf, r));
  EXPECT_EQ(r.fsType, kFsExt2);
  putLe32(buf.data() + 0x400 + 0x5C, 0x4);
  ASSERT_TRUE(probeExt(buf, r));
  EXPECT_EQ(r.fsType, kFsExt3);
  putLe32(buf.data() + 0x400 + 0x60, 0x40);
  ASSERT_TRUE(probeExt(buf, r));
  EXPECT_EQ(r.fsType, kFsExt4);
  // Extents without a journal is still EXT2.
  putLe32(buf.data() + 0x400 + 0x5C, 0);
  ASSERT_TRUE(probeExt(buf, r));
  EXPECT_EQ(r.fsType, kFsExt2);
}

TEST(ExtProbe, Refusals) {
  auto r = at(0);
  auto one = extSuperblock(0, 8192, 8192);  // a single group: block count not above blocks per group
  EXPECT_FALSE(probeExt(one, r));
  auto shift = extSuperblock(22, 16384, 8192);  // 1024 << 22 is 0 in 32 bits
  EXPECT_FALSE(probeExt(shift, r));
  auto creator = extSuperblock(0, 16384, 8192);
  putLe32(creator.data() + 0x400 + 0x48, 3);  // not created by Linux
  EXPECT_FALSE(probeExt(creator, r));
  auto full = extSuperblock(0, 16384, 8192);
  putLe32(full.data() + 0x400 + 0x0C, 16384);  // free blocks not below blocks
  EXPECT_FALSE(probeExt(full, r));
  auto inodes = extSuperblock(0, 16384, 8192);
  putLe16(inodes.data() + 0x400 + 0x58, 64);
  EXPECT_FALSE(probeExt(inodes, r));
  EXPECT_EQ(r.fsType, 0u);
}

TEST(ExtProbe, BackupSuperblockMovesTheStartBack1KBlocks) {
  // 1 KiB blocks: group 1's backup superblock lies at block 8193, 8 MiB + 1 KiB into the file
  // system; found at partition byte 0x400, the file system starts 8 MiB before the partition.
  auto buf = extSuperblock(0, 65536, 8192);
  putLe16(buf.data() + 0x400 + 0x5A, 1);
  auto r = at(100ull << 20);
  ASSERT_TRUE(probeExt(buf, r));
  EXPECT_EQ(r.start, (100ull << 20) - (8ull << 20));
  EXPECT_EQ(r.size, 65536u * 1024);
  EXPECT_EQ(r.geometry->groupBytes, 8192u * 1024);
  EXPECT_EQ(r.geometry->backupGroup, 1u);
}

TEST(ExtProbe, BackupSuperblockMovesTheStartBack4KBlocks) {
  // 4 KiB blocks: group 1 starts at block 32768 with its backup superblock at its first byte, so
  // a partition 1 KiB before it sees the backup at 0x400.
  auto buf = extSuperblock(2, 100000, 32768);
  putLe16(buf.data() + 0x400 + 0x5A, 1);
  const std::uint64_t fsStart = 10ull << 20;
  auto r = at(fsStart + 32768ull * 4096 - 1024);
  ASSERT_TRUE(probeExt(buf, r));
  EXPECT_EQ(r.start, fsStart);
}

TEST(ExtProbe, BackupThatWouldStartBeforeTheDeviceKeepsTheStart) {
  auto buf = extSuperblock(0, 65536, 8192);
  putLe16(buf.data() + 0x400 + 0x5A, 3);
  auto r = at(1 << 20);
  ASSERT_TRUE(probeExt(buf, r));
  EXPECT_EQ(r.start, 1u << 20);
}

TEST(XfsProbe, CraftedSuperblockAnd4KSectors) {
  auto buf = partitionBuffer();
  std::uint8_t* b = buf.data();
  putText(b, "XFSB");
  putBe32(b + 0x04, 4096);
  putBe32(b + 0x08, 0);
  putBe32(b + 0x0C, 76800);  // data blocks (64-bit, big-endian)
  putBe32(b + 0x3C, 128);    // root inode
  putBe16(b + 0x66, 4096);
  putBe16(b + 0x68, 512);
  putBe16(b + 0x6A, 8);
  b[0x79] = 12, b[0x7A] = 9, b[0x7B] = 3;
  putText(b + 0x1000, "XAGF");
  putText(b + 0x2000, "XAGI");
  auto r = at(0);
  ASSERT_TRUE(identifyFileSystem(buf, r));
  EXPECT_EQ(r.fsType, kFsXfs);
  EXPECT_EQ(r.unitSize, 4096u);
  EXPECT_EQ(r.size, 76800u * 4096);
  EXPECT_EQ(r.geometry->rootInode, 128u);
  EXPECT_EQ(r.geometry->inodeSize, 512u);
  b[0x79] = 40;  // a log the 16-bit value cannot equal
  auto r2 = at(0);
  EXPECT_FALSE(probeXfs(buf, r2));
}

TEST(ProbeBuffers, ShortBuffersAreRefusedNotOverrun) {
  // Every probe on every prefix of a recognisable buffer: no read past the span (ASan/UBSan
  // builds would catch one), and no recognition without the bytes the probe needs.
  auto hfs = hfsPlusHeader("H+", 4, 4096, 25600, 100);
  for (std::size_t n : {0u, 1u, 511u, 512u, 0x400u, 0x47Fu}) {
    auto r = at(0);
    EXPECT_FALSE(identifyFileSystem(std::span<const std::uint8_t>(hfs).first(n), r)) << n;
  }
  auto vx = vxfsAt(0x400, 1024, 4);
  auto r = at(0);
  EXPECT_FALSE(identifyFileSystem(std::span<const std::uint8_t>(vx).first(0x420), r));
}

// Each family's recognisable buffer and the bytes its probe needs to see: every shorter prefix
// is refused and leaves the record untouched, the prefix of exactly that length is recognised.
struct NeededBytes {
  const char* family;
  FileSystemProbe probe;
  std::vector<std::uint8_t> buffer;
  std::size_t needed;
};

std::vector<NeededBytes> recognisableBuffers() {
  std::vector<NeededBytes> cases;
  cases.push_back({"NTFS", probeNtfs, ntfsBoot(2048), 512});
  auto fat32 = partitionBuffer();
  test::writeFat32BootSector(fat32.data(), 81920, 630);
  cases.push_back({"FAT32", probeFat32, fat32, 512});
  auto fat16 = partitionBuffer();
  putLe16(fat16.data() + 0x0B, 512);
  putLe16(fat16.data() + 0x11, 512);
  putText(fat16.data() + 0x36, "FAT16   ");
  putLe16(fat16.data() + 0x1FE, 0xAA55);
  cases.push_back({"FAT16", probeFat16, fat16, 512});
  auto exfat = partitionBuffer();
  putText(exfat.data() + 3, "EXFAT   ");
  exfat[0x6C] = 9;
  putLe16(exfat.data() + 0x1FE, 0xAA55);
  cases.push_back({"exFAT", probeExFat, exfat, 512});
  cases.push_back({"ext", probeExt, extSuperblock(0, 16384, 8192), 0x560});
  // XFS needs its superblock sector and the group 0 headers in the next two sectors.
  for (std::uint16_t sectorLog : {9, 12}) {
    const std::size_t sector = std::size_t{1} << sectorLog;
    auto xfs = partitionBuffer();
    putText(xfs.data(), "XFSB");
    putBe32(xfs.data() + 0x04, 4096);
    putBe16(xfs.data() + 0x66, static_cast<std::uint16_t>(sector));
    putBe16(xfs.data() + 0x68, 512);
    putBe16(xfs.data() + 0x6A, 8);
    xfs[0x79] = static_cast<std::uint8_t>(sectorLog), xfs[0x7A] = 9, xfs[0x7B] = 3;
    putText(xfs.data() + sector, "XAGF");
    putText(xfs.data() + 2 * sector, "XAGI");
    cases.push_back({"XFS", probeXfs, xfs, 2 * sector + 4});
  }
  auto reiser = partitionBuffer();
  putText(reiser.data() + 0x10034, "ReIsEr2Fs");
  cases.push_back({"ReiserFS", probeReiserfs, reiser, 0x10040});
  cases.push_back({"HFS", probeHfs, hfsMdb(4096, 1000), 0x482});
  cases.push_back({"HFS Plus", probeHfs, hfsPlusHeader("H+", 4, 4096, 25600, 100), 0x482});
  cases.push_back({"VxFS", probeVxfs, vxfsAt(0x400, 1024, 4), 0x428});
  cases.push_back({"VxFS at 0x800", probeVxfs, vxfsAt(0x800, 1024, 4), 0x828});
  return cases;
}

TEST(ProbeBuffers, EveryProbeRefusesAStructureCutShortAndReadsOneThatIsWhole) {
  for (const auto& c : recognisableBuffers()) {
    SCOPED_TRACE(c.family);
    const std::span<const std::uint8_t> whole(c.buffer);
    for (std::size_t n = c.needed > 64 ? c.needed - 64 : 0; n < c.needed; ++n) {
      auto r = at(0);
      EXPECT_FALSE(c.probe(whole.first(n), r)) << n << " bytes";
      EXPECT_EQ(r.fsType, 0u) << n << " bytes";
      EXPECT_EQ(r.geometry, nullptr) << n << " bytes";
    }
    auto r = at(0);
    EXPECT_FALSE(c.probe(whole.first(0), r));
    EXPECT_TRUE(c.probe(whole.first(c.needed), r)) << c.needed << " bytes";
    EXPECT_NE(r.fsType, 0u);
  }
}

}  // namespace
}  // namespace norvale
