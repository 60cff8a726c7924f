// The partition walk against tables made by sfdisk (MBR with an extended chain) and sgdisk (GPT),
// holding file systems made by the real mkfs tools. Every listed start and size is compared with
// what sfdisk reads back from the same image, and every type with blkid's.
#include <gtest/gtest.h>

#include <map>

#include "storage/device_enum.h"
#include "storage/device_handle.h"
#include "storage/fs_probe.h"
#include "storage/partition_scan.h"
#include "support/disk_tools.h"
#include "support/test_support.h"

namespace norvale {
namespace {

using test::runTool;
using test::TempDir;

constexpr std::uint64_t MiB = 1 << 20;

// Passes reads through to a file and notes each one.
class LoggingSource final : public ByteSource {
 public:
  LoggingSource(std::unique_ptr<ByteSource> inner, std::vector<std::pair<std::uint64_t, std::size_t>>* log)
      : m_inner(std::move(inner)), m_log(log) {}
  Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> dst) override {
    m_log->emplace_back(offset, dst.size());
    return m_inner->readAt(offset, dst);
  }
  Result<std::uint64_t> size() override { return m_inner->size(); }

 private:
  std::unique_ptr<ByteSource> m_inner;
  std::vector<std::pair<std::uint64_t, std::size_t>>* m_log;
};

std::string mkfs(const TempDir& dir, const std::string& name, std::uint64_t size, std::vector<std::string> argv) {
  const std::string image = dir.file(name);
  test::makeSparseFile(image, size);
  argv.push_back(image);
  const auto run = runTool(argv);
  EXPECT_TRUE(run.ok()) << argv[0] << " failed: " << run.output;
  return image;
}

// blkid's type names for ours.
std::string blkidName(std::uint32_t fsType) {
  static const std::map<std::uint32_t, std::string> names = {
      {kFsNtfs, "ntfs"}, {kFsFat32, "vfat"}, {kFsFat16, "vfat"}, {kFsExFat, "exfat"}, {kFsExt2, "ext2"},
      {kFsExt3, "ext3"}, {kFsExt4, "ext4"},  {kFsXfs, "xfs"},    {kFsReiserfs, "reiserfs"}};
  auto it = names.find(fsType);
  return it == names.end() ? "?" : it->second;
}

// An MBR disk: FAT32, NTFS, then an extended partition with five logical partitions: ext4, a
// swap entry and an LVM entry (both holding a file system that must stay unlisted), ext2, exFAT.
struct MbrDisk {
  TempDir dir;
  std::string image;
  std::vector<test::TablePartition> table;
  MbrDisk() {
    image = dir.file("mbr.img");
    test::makeSparseFile(image, 160 * MiB);
    const auto run = runTool({"sfdisk", "-q", "--no-reread", "--no-tell-kernel", image},
                             "label: dos\n"
                             "size=40MiB, type=c\n"
                             "size=16MiB, type=7\n"
                             "type=5\n"
                             "size=16MiB, type=83\n"
                             "size=16MiB, type=82\n"
                             "size=16MiB, type=8e\n"
                             "size=16MiB, type=83\n"
                             "size=8MiB, type=7\n");
    EXPECT_TRUE(run.ok()) << run.output;
    table = test::sfdiskPartitions(image);
    EXPECT_EQ(table.size(), 8u);
    if (table.size() != 8) return;
    auto at = [&](int i) { return table[i].start * 512; };
    test::copyInto(mkfs(dir, "p1.img", 40 * MiB, {"mkfs.vfat", "-F", "32"}), image, at(0));
    test::copyInto(mkfs(dir, "p2.img", 16 * MiB,
                        {"mkfs.ntfs", "-F", "-Q", "-q", "-s", "512", "-p", std::to_string(table[1].start)}),
                   image, at(1));
    test::copyInto(mkfs(dir, "l5.img", 16 * MiB, {"mkfs.ext4", "-q", "-F"}), image, at(3));
    const auto ext2 = mkfs(dir, "ext2.img", 16 * MiB, {"mkfs.ext2", "-q", "-F"});
    test::copyInto(ext2, image, at(4));  // inside the swap entry
    test::copyInto(mkfs(dir, "fat16.img", 16 * MiB, {"mkfs.vfat", "-F", "16"}), image, at(5));  // inside LVM
    test::copyInto(ext2, image, at(6));
    test::copyInto(mkfs(dir, "exfat.img", 8 * MiB, {"mkfs.exfat"}), image, at(7));
  }
};

TEST(PartitionTables, MbrWithExtendedChainAsSfdiskMadeIt) {
  MbrDisk disk;
  ASSERT_EQ(disk.table.size(), 8u);
  // sfdisk's own reading: 1, 2, extended 3, logical 5..9.
  EXPECT_EQ(disk.table[2].type, "5");
  EXPECT_EQ(disk.table[4].type, "82");
  EXPECT_EQ(disk.table[5].type, "8e");

  auto record = addImageFile(disk.image, 3);
  ASSERT_TRUE(record.has_value()) << record.error().message;
  EXPECT_EQ(record->driveNumber, 30);  // three devices listed before it
  EXPECT_EQ(record->secondName, "mbr");
  EXPECT_EQ(record->size, 160 * MiB);
  const auto& parts = record->partitions;
  ASSERT_EQ(parts.size(), 5u);

  struct Want {
    int table;
    std::uint32_t type;
    std::uint64_t size;
  };
  const std::vector<Want> want = {
      {0, kFsFat32, disk.table[0].size * 512},
      {1, kFsNtfs, disk.table[1].size * 512 - 512},  // mkntfs leaves the last sector to the backup boot sector
      {3, kFsExt4, disk.table[3].size * 512},
      {6, kFsExt2, disk.table[6].size * 512},
      {7, kFsExFat, disk.table[7].size * 512},
  };
  for (std::size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(parts[i].name, "Partition" + std::to_string(i));
    EXPECT_EQ(parts[i].fsType, want[i].type);
    EXPECT_EQ(parts[i].start, disk.table[want[i].table].start * 512);
    EXPECT_EQ(parts[i].size, want[i].size);
    EXPECT_EQ(parts[i].label, "");
    EXPECT_EQ(test::blkidType(disk.image, parts[i].start), blkidName(parts[i].fsType));
  }
  // The swap and LVM entries hold file systems that blkid sees but the list leaves out.
  EXPECT_EQ(test::blkidType(disk.image, disk.table[4].start * 512), "ext2");
  EXPECT_EQ(test::blkidType(disk.image, disk.table[5].start * 512), "vfat");
}

TEST(PartitionTables, GptAsSgdiskMadeIt) {
  TempDir dir;
  const std::string image = dir.file("gpt.img");
  test::makeSparseFile(image, 420 * MiB);
  const auto run = runTool({"sgdisk", "-n", "1:2048:+16M", "-t", "1:8300", "-n", "2:0:+40M", "-t", "2:0700", "-n",
                            "3:0:+300M", "-t", "3:8300", "-n", "4:0:+40M", "-t", "4:8300", "-n", "5:0:+16M", "-t",
                            "5:0700", "-n", "6:0:+1M", "-t", "6:8200", image});
  ASSERT_TRUE(run.ok()) << run.output;
  const auto table = test::sfdiskPartitions(image);
  ASSERT_EQ(table.size(), 6u);
  test::copyInto(mkfs(dir, "p1.img", 16 * MiB, {"mkfs.ext3", "-q", "-F"}), image, table[0].start * 512);
  test::copyInto(mkfs(dir, "p2.img", 40 * MiB, {"mkfs.vfat", "-F", "32"}), image, table[1].start * 512);
  test::copyInto(mkfs(dir, "p3.img", 300 * MiB, {"mkfs.xfs", "-q", "-f", "-s", "size=512"}), image, table[2].start * 512);
  test::copyInto(mkfs(dir, "p4.img", 40 * MiB, {"mkfs.reiserfs", "-q", "-f"}), image, table[3].start * 512);
  test::copyInto(mkfs(dir, "p5.img", 16 * MiB,
                      {"mkfs.ntfs", "-F", "-Q", "-q", "-s", "512", "-p", std::to_string(table[4].start)}),
                 image, table[4].start * 512);
  // Partition 6 stays empty: it is probed and not listed.

  auto record = addImageFile(image, 0);
  ASSERT_TRUE(record.has_value()) << record.error().message;
  const auto& parts = record->partitions;
  ASSERT_EQ(parts.size(), 5u);
  const std::vector<std::uint32_t> types = {kFsExt3, kFsFat32, kFsXfs, kFsReiserfs, kFsNtfs};
  for (std::size_t i = 0; i < types.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(parts[i].name, "Partition" + std::to_string(i));
    EXPECT_EQ(parts[i].fsType, types[i]);
    EXPECT_EQ(parts[i].start, table[i].start * 512);
    const std::uint64_t tableSize = table[i].size * 512;
    EXPECT_EQ(parts[i].size, types[i] == kFsNtfs ? tableSize - 512 : tableSize);
    EXPECT_EQ(test::blkidType(image, parts[i].start), blkidName(parts[i].fsType));
  }
}

TEST(PartitionTables, TruncatedImageListsWhatItStillHolds) {
  // The image ends 2 MiB into the NTFS partition: FAT32 and NTFS (whose boot sector is there)
  // are listed, the extended chain beyond the end is not read at all.
  MbrDisk disk;
  ASSERT_EQ(disk.table.size(), 8u);
  const std::uint64_t cut = disk.table[1].start * 512 + 2 * MiB;
  test::truncateFile(disk.image, cut);
  auto file = openFileSource(disk.image);
  ASSERT_TRUE(file.has_value());
  std::vector<std::pair<std::uint64_t, std::size_t>> reads;
  DeviceHandle handle;
  handle.open(std::make_unique<LoggingSource>(std::move(*file), &reads));
  ASSERT_EQ(handle.size(), cut);
  DeviceRecord record;
  scanPartitions(handle, record);
  ASSERT_EQ(record.partitions.size(), 2u);
  EXPECT_EQ(record.partitions[0].fsType, kFsFat32);
  EXPECT_EQ(record.partitions[1].fsType, kFsNtfs);
  for (const auto& [offset, length] : reads) EXPECT_LT(offset, cut) << "read of " << length << " at " << offset;
}

TEST(PartitionTables, PartitionByIndexCountsListedPartitionsFromZero) {
  MbrDisk disk;
  ASSERT_EQ(disk.table.size(), 8u);
  DeviceRecord record = makeImageRecord(disk.image, 0);
  DeviceHandle handle;
  handle.open(record);
  ASSERT_TRUE(handle.ok());
  // The record has no partitions listed yet: the handle is scanned.
  auto third = findPartition(handle, record, 2);
  ASSERT_TRUE(third.has_value()) << third.error().message;
  EXPECT_EQ(third->fsType, kFsExt4);
  EXPECT_EQ(third->start, disk.table[3].start * 512);
  auto none = findPartition(handle, record, 5);
  ASSERT_FALSE(none.has_value());
  EXPECT_EQ(none.error().code, ErrorCode::NotFound);
  EXPECT_NE(none.error().message.find("has 5 listed partitions (0 to 4); there is no partition 5"), std::string::npos)
      << none.error().message;
  auto negative = findPartition(handle, record, -1);
  ASSERT_FALSE(negative.has_value());
  EXPECT_EQ(negative.error().code, ErrorCode::InvalidArgument);
}

}  // namespace
}  // namespace norvale
