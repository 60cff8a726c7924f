// The probe chain against file systems made by the real tools (mkfs.ext2/3/4, mkfs.vfat,
// mkfs.exfat, mkfs.ntfs, mkfs.xfs, mkfs.reiserfs) on small sparse image files. Type, start and
// size must be what the tool made; blkid confirms the tool made what the test thinks.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "storage/device_enum.h"
#include "storage/fs_probe.h"
#include "support/disk_tools.h"
#include "support/test_support.h"

namespace norvale {
namespace {

using test::runTool;
using test::TempDir;

constexpr std::uint64_t MiB = 1 << 20;

// Makes a sparse image of `size` and runs the mkfs command line on it (the image path last).
std::string makeFs(const TempDir& dir, const std::string& name, std::uint64_t size, std::vector<std::string> mkfs) {
  const std::string image = dir.file(name);
  test::makeSparseFile(image, size);
  mkfs.push_back(image);
  const auto run = runTool(mkfs);
  EXPECT_TRUE(run.ok()) << mkfs[0] << " failed (" << run.status << "): " << run.output;
  return image;
}

// The probe chain on the image's first 1,049,600 bytes, as the partition scan reads them.
struct Probed {
  bool recognised = false;
  PartitionRecord record;
};
Probed probeImage(const std::string& image, std::uint64_t start = 0) {
  std::vector<std::uint8_t> buf(kProbeReadSize, 0);
  std::ifstream in(image, std::ios::binary);
  in.read(reinterpret_cast<char*>(buf.data()), static_cast<std::streamsize>(buf.size()));
  Probed p;
  p.record.start = start;
  p.record.name = "Partition0";
  p.recognised = identifyFileSystem(buf, p.record);
  return p;
}

// dumpe2fs's block count x block size: the size mke2fs gave the file system.
std::uint64_t ext2Size(const std::string& image) {
  const auto run = runTool({"dumpe2fs", "-h", image});
  std::smatch count, size;
  static const std::regex countRe(R"(Block count:\s+(\d+))"), sizeRe(R"(Block size:\s+(\d+))");
  if (!std::regex_search(run.output, count, countRe) || !std::regex_search(run.output, size, sizeRe)) {
    ADD_FAILURE() << "dumpe2fs: " << run.output;
    return 0;
  }
  return std::stoull(count[1]) * std::stoull(size[1]);
}

TEST(RealFileSystems, Ext2) {
  TempDir dir;
  const auto image = makeFs(dir, "ext2.img", 16 * MiB, {"mkfs.ext2", "-q", "-F"});
  EXPECT_EQ(test::blkidType(image, 0), "ext2");
  const auto p = probeImage(image);
  ASSERT_TRUE(p.recognised);
  EXPECT_EQ(p.record.fsType, kFsExt2);
  EXPECT_STREQ(fileSystemName(p.record.fsType), "EXT2");
  EXPECT_EQ(p.record.start, 0u);
  EXPECT_EQ(p.record.size, ext2Size(image));
  EXPECT_EQ(p.record.size, 16 * MiB);
  EXPECT_EQ(p.record.unitSize, 512u);
}

TEST(RealFileSystems, Ext3) {
  TempDir dir;
  const auto image = makeFs(dir, "ext3.img", 16 * MiB, {"mkfs.ext3", "-q", "-F"});
  EXPECT_EQ(test::blkidType(image, 0), "ext3");
  const auto p = probeImage(image);
  ASSERT_TRUE(p.recognised);
  EXPECT_EQ(p.record.fsType, kFsExt3);
  EXPECT_EQ(p.record.size, ext2Size(image));
}

TEST(RealFileSystems, Ext4WithJournal) {
  TempDir dir;
  const auto image = makeFs(dir, "ext4.img", 24 * MiB, {"mkfs.ext4", "-q", "-F"});
  EXPECT_EQ(test::blkidType(image, 0), "ext4");
  const auto p = probeImage(image);
  ASSERT_TRUE(p.recognised);
  EXPECT_EQ(p.record.fsType, kFsExt4);
  EXPECT_STREQ(fileSystemName(p.record.fsType), "EXT4");
  EXPECT_EQ(p.record.size, 24 * MiB);
  EXPECT_EQ(p.record.size, ext2Size(image));
}

TEST(RealFileSystems, Ext4WithoutJournalIsReportedAsExt2) {
  TempDir dir;
  const auto image = makeFs(dir, "ext4nj.img", 16 * MiB, {"mkfs.ext4", "-q", "-F", "-O", "^has_journal"});
  EXPECT_EQ(test::blkidType(image, 0), "ext4");
  const auto p = probeImage(image);
  ASSERT_TRUE(p.recognised);
  EXPECT_EQ(p.record.fsType, kFsExt2);
  EXPECT_EQ(p.record.size, ext2Size(image));
}

TEST(RealFileSystems, Ext4With4KBlocks) {
  TempDir dir;
  const auto image = makeFs(dir, "ext4b.img", 160 * MiB, {"mkfs.ext4", "-q", "-F", "-b", "4096"});
  const auto p = probeImage(image);
  ASSERT_TRUE(p.recognised);
  EXPECT_EQ(p.record.fsType, kFsExt4);
  EXPECT_EQ(p.record.size, 160 * MiB);
  EXPECT_EQ(p.record.geometry->clusterSize, 4096u);
}

TEST(RealFileSystems, ExtOfASingleBlockGroupIsRefused) {
  // The last ext condition: the block count must be above the blocks per group.
  TempDir dir;
  const auto image = makeFs(dir, "small.img", 4 * MiB, {"mkfs.ext2", "-q", "-F"});
  EXPECT_EQ(test::blkidType(image, 0), "ext2");
  EXPECT_FALSE(probeImage(image).recognised);
}

TEST(RealFileSystems, Fat32) {
  TempDir dir;
  const auto image = makeFs(dir, "fat32.img", 40 * MiB, {"mkfs.vfat", "-F", "32"});
  EXPECT_EQ(test::blkidType(image, 0), "vfat");
  const auto p = probeImage(image);
  ASSERT_TRUE(p.recognised);
  EXPECT_EQ(p.record.fsType, kFsFat32);
  EXPECT_EQ(p.record.size, 40 * MiB);
  EXPECT_EQ(p.record.unitSize, 512u);
  EXPECT_EQ(p.record.geometry->rootCluster, 2u);
}

TEST(RealFileSystems, Fat32With4KSectors) {
  TempDir dir;
  const auto image = makeFs(dir, "fat32s.img", 300 * MiB, {"mkfs.vfat", "-F", "32", "-S", "4096"});
  const auto p = probeImage(image);
  ASSERT_TRUE(p.recognised);
  EXPECT_EQ(p.record.fsType, kFsFat32);
  EXPECT_EQ(p.record.unitSize, 4096u);
  EXPECT_EQ(p.record.size, 300 * MiB);
}

TEST(RealFileSystems, Fat32WithOneFatIsRefused) {
  TempDir dir;
  const auto image = makeFs(dir, "fat32one.img", 40 * MiB, {"mkfs.vfat", "-F", "32", "-f", "1"});
  EXPECT_EQ(test::blkidType(image, 0), "vfat");
  EXPECT_FALSE(probeImage(image).recognised);
}

TEST(RealFileSystems, Fat16) {
  TempDir dir;
  const auto image = makeFs(dir, "fat16.img", 16 * MiB, {"mkfs.vfat", "-F", "16"});
  EXPECT_EQ(test::blkidType(image, 0), "vfat");
  const auto p = probeImage(image);
  ASSERT_TRUE(p.recognised);
  EXPECT_EQ(p.record.fsType, kFsFat16);
  EXPECT_STREQ(fileSystemName(p.record.fsType), "FAT16");
  EXPECT_EQ(p.record.size, 16 * MiB);
  EXPECT_EQ(p.record.geometry->rootDirBytes, 512u * 32);
}

TEST(RealFileSystems, Fat16With224RootEntriesIsRefused) {
  TempDir dir;
  const auto image = makeFs(dir, "fat16r.img", 16 * MiB, {"mkfs.vfat", "-F", "16", "-r", "224"});
  EXPECT_EQ(test::blkidType(image, 0), "vfat");
  EXPECT_FALSE(probeImage(image).recognised);
}

TEST(RealFileSystems, Fat12IsNotRecognised) {
  TempDir dir;
  const auto image = makeFs(dir, "fat12.img", 4 * MiB, {"mkfs.vfat", "-F", "12"});
  EXPECT_EQ(test::blkidType(image, 0), "vfat");
  EXPECT_FALSE(probeImage(image).recognised);
}

TEST(RealFileSystems, ExFat) {
  TempDir dir;
  const auto image = makeFs(dir, "exfat.img", 8 * MiB, {"mkfs.exfat"});
  EXPECT_EQ(test::blkidType(image, 0), "exfat");
  const auto p = probeImage(image);
  ASSERT_TRUE(p.recognised);
  EXPECT_EQ(p.record.fsType, kFsExFat);
  EXPECT_STREQ(fileSystemName(p.record.fsType), "exFat");
  EXPECT_EQ(p.record.size, 8 * MiB);
  EXPECT_EQ(p.record.unitSize, 512u);
}

TEST(RealFileSystems, NtfsWithHiddenSectors) {
  // As a partitioned volume has them: the partition's start sector in the boot sector.
  TempDir dir;
  const auto image =
      makeFs(dir, "ntfs.img", 16 * MiB, {"mkfs.ntfs", "-F", "-Q", "-q", "-s", "512", "-p", "2048", "-H", "255", "-S", "63"});
  EXPECT_EQ(test::blkidType(image, 0), "ntfs");
  const auto p = probeImage(image, 2048 * 512);
  ASSERT_TRUE(p.recognised);
  EXPECT_EQ(p.record.fsType, kFsNtfs);
  EXPECT_EQ(p.record.unitSize, 512u);
  // mkntfs gives the volume every sector but the last, which holds the backup boot sector.
  EXPECT_EQ(p.record.size, 16 * MiB - 512);
  EXPECT_EQ(p.record.start, 2048u * 512);
  EXPECT_EQ(p.record.geometry->fileRecordSize, 1024u);
}

TEST(RealFileSystems, NtfsWithoutHiddenSectorsIsRefused) {
  TempDir dir;
  const auto image = makeFs(dir, "ntfs0.img", 16 * MiB, {"mkfs.ntfs", "-F", "-Q", "-q", "-s", "512", "-p", "0"});
  EXPECT_EQ(test::blkidType(image, 0), "ntfs");
  EXPECT_FALSE(probeImage(image).recognised);
}

TEST(RealFileSystems, Xfs) {
  TempDir dir;
  // mkfs.xfs makes nothing below 300 MiB; the file is sparse.
  const auto image = makeFs(dir, "xfs.img", 300 * MiB, {"mkfs.xfs", "-q", "-f", "-s", "size=512"});
  EXPECT_EQ(test::blkidType(image, 0), "xfs");
  const auto p = probeImage(image);
  ASSERT_TRUE(p.recognised);
  EXPECT_EQ(p.record.fsType, kFsXfs);
  EXPECT_STREQ(fileSystemName(p.record.fsType), "XFS");
  EXPECT_EQ(p.record.unitSize, 512u);
  EXPECT_EQ(p.record.size, 300 * MiB);
}

TEST(RealFileSystems, XfsWith4KSectors) {
  TempDir dir;
  const auto image = makeFs(dir, "xfs4k.img", 300 * MiB, {"mkfs.xfs", "-q", "-f", "-s", "size=4096"});
  EXPECT_EQ(test::blkidType(image, 0), "xfs");
  const auto p = probeImage(image);
  ASSERT_TRUE(p.recognised);
  EXPECT_EQ(p.record.fsType, kFsXfs);
  EXPECT_EQ(p.record.unitSize, 4096u);
  EXPECT_EQ(p.record.size, 300 * MiB);
}

TEST(RealFileSystems, Reiserfs36) {
  TempDir dir;
  const auto image = makeFs(dir, "reiser.img", 40 * MiB, {"mkfs.reiserfs", "-q", "-f"});
  EXPECT_EQ(test::blkidType(image, 0), "reiserfs");
  const auto p = probeImage(image);
  ASSERT_TRUE(p.recognised);
  EXPECT_EQ(p.record.fsType, kFsReiserfs);
  EXPECT_STREQ(fileSystemName(p.record.fsType), "Reiserfs");
  EXPECT_EQ(p.record.size, 40 * MiB);
}

TEST(RealFileSystems, ReiserfsWithASmallJournal) {
  // A journal of non-default size gives the "ReIsEr3Fs" magic.
  TempDir dir;
  const auto image = makeFs(dir, "reiser3.img", 40 * MiB, {"mkfs.reiserfs", "-q", "-f", "-s", "513"});
  const auto p = probeImage(image);
  ASSERT_TRUE(p.recognised);
  EXPECT_EQ(p.record.fsType, kFsReiserfs);
  EXPECT_EQ(p.record.size, 40 * MiB);
}

TEST(RealFileSystems, ImageHoldingOneFileSystemIsListedAsOnePartitionAtZero) {
  // No table: the whole-device probe at offset 0 with size 0 finds it, and the size is the
  // file system's.
  TempDir dir;
  const auto image = makeFs(dir, "whole.img", 24 * MiB, {"mkfs.ext4", "-q", "-F"});
  auto record = addImageFile(image, 0);
  ASSERT_TRUE(record.has_value()) << record.error().message;
  ASSERT_EQ(record->partitions.size(), 1u);
  EXPECT_EQ(record->partitions[0].name, "Partition0");
  EXPECT_EQ(record->partitions[0].start, 0u);
  EXPECT_EQ(record->partitions[0].size, 24 * MiB);
  EXPECT_EQ(record->partitions[0].fsType, kFsExt4);
}

}  // namespace
}  // namespace norvale
