// The partition walk on crafted in-memory disks: the rules that the tools cannot be
// made to break, and broken tables (loops, absurd GPT headers, entries past the end, bad
// sectors). No hang, no crash, no read that starts outside the device; what can be listed is.
#include <gtest/gtest.h>

#include "storage/crafted_volumes.h"
#include "storage/device_handle.h"
#include "storage/fs_probe.h"
#include "storage/partition_scan.h"
#include "support/test_support.h"

namespace norvale {
namespace {

using Reads = std::vector<std::pair<std::uint64_t, std::size_t>>;

// A crafted disk of `sectors` sectors with a FAT32 boot sector wherever asked.
struct CraftedDisk {
  std::vector<std::uint8_t> bytes;
  explicit CraftedDisk(std::size_t sectors) : bytes(sectors * 512, 0) {}
  std::uint8_t* sector(std::uint64_t lba) { return bytes.data() + lba * 512; }
  void fat32At(std::uint64_t lba, std::uint32_t totalSectors = 1000) {
    test::writeFat32BootSector(sector(lba), totalSectors, 8);
  }
  void entry(std::uint64_t lba, int index, std::uint8_t type, std::uint32_t start, std::uint32_t count) {
    test::writeMbrEntry(sector(lba), index, type, start, count);
  }
};

struct Scan {
  Reads reads;
  DeviceRecord record;
  std::uint64_t size = 0;
  std::vector<std::uint64_t> bad;

  explicit Scan(CraftedDisk& disk, std::vector<std::uint64_t> badSectors = {}) : bad(std::move(badSectors)) {
    size = disk.bytes.size();
    auto source = std::make_unique<test::ScriptedSource>(disk.bytes);
    for (auto s : bad) source->markBad(s);
    source->log = &reads;
    DeviceHandle handle;
    handle.open(std::move(source));
    scanPartitions(handle, record);
  }
  std::vector<std::uint64_t> starts() const {
    std::vector<std::uint64_t> out;
    for (const auto& p : record.partitions) out.push_back(p.start / 512);
    return out;
  }
  // No read starts at or past the device's end.
  void expectReadsInside() const {
    for (const auto& [offset, length] : reads) EXPECT_LT(offset, size) << "read of " << length << " at " << offset;
  }
};

TEST(PartitionWalk, PrimaryEntriesInTableOrderNamedFromZero) {
  CraftedDisk disk(4096);
  disk.entry(0, 0, 0x0C, 2048, 1000);
  disk.entry(0, 1, 0x83, 100, 1000);  // nothing recognisable there: not listed, no number used
  disk.entry(0, 3, 0x07, 1024, 1000);
  disk.fat32At(2048, 1000);
  disk.fat32At(1024, 900);
  Scan scan(disk);
  EXPECT_EQ(scan.starts(), (std::vector<std::uint64_t>{2048, 1024}));
  ASSERT_EQ(scan.record.partitions.size(), 2u);
  EXPECT_EQ(scan.record.partitions[0].name, "Partition0");
  EXPECT_EQ(scan.record.partitions[1].name, "Partition1");
  EXPECT_EQ(scan.record.partitions[1].size, 900u * 512);  // the file system's own size
  scan.expectReadsInside();
}

TEST(PartitionWalk, ProbeReadsTheFirst1049600BytesOfAPartition) {
  CraftedDisk disk(8192);
  disk.entry(0, 0, 0x0C, 2048, 4000);
  disk.fat32At(2048);
  Scan scan(disk);
  ASSERT_EQ(scan.record.partitions.size(), 1u);
  bool sawProbe = false;
  for (const auto& [offset, length] : scan.reads) sawProbe |= offset == 2048 * 512 && length == 1049600;
  EXPECT_TRUE(sawProbe);
  // The MBR read is 8192 bytes at 0.
  ASSERT_FALSE(scan.reads.empty());
  EXPECT_EQ(scan.reads.front(), (std::pair<std::uint64_t, std::size_t>{0, 8192}));
}

TEST(PartitionWalk, ZeroTypeOrCountEntriesAreSkipped) {
  CraftedDisk disk(4096);
  disk.entry(0, 0, 0x00, 2048, 1000);
  disk.entry(0, 1, 0x0C, 2048, 0);
  disk.fat32At(2048);
  Scan scan(disk);
  EXPECT_TRUE(scan.record.partitions.empty());
}

TEST(PartitionWalk, IgnoredTypesNeverAppear) {
  CraftedDisk disk(8192);
  const std::uint8_t ignored[] = {0xBF, 0x82, 0xA5, 0xA6};
  for (int i = 0; i < 4; ++i) {
    disk.entry(0, i, ignored[i], 1024 + 1024 * i, 1000);
    disk.fat32At(1024 + 1024 * i);
  }
  Scan scan(disk);
  EXPECT_TRUE(scan.record.partitions.empty());
  CraftedDisk disk2(8192);
  disk2.entry(0, 0, 0xA9, 1024, 1000);
  disk2.entry(0, 1, 0x8E, 2048, 1000);
  disk2.entry(0, 2, 0x0C, 3072, 1000);
  for (std::uint64_t lba : {1024, 2048, 3072}) disk2.fat32At(lba);
  Scan scan2(disk2);
  EXPECT_EQ(scan2.starts(), (std::vector<std::uint64_t>{3072}));
}

TEST(PartitionWalk, ExtendedChainLogicalRelativeToEbrLinksRelativeToExtended) {
  // Extended partition at 1000. EBR 1 at 1000: logical at +100 (1100), link to +500 (1500).
  // EBR 2 at 1500: logical at +100 (1600), link to +1000 (2000). EBR 3 at 2000: logical at +100
  // (2100), no link.
  CraftedDisk disk(4096);
  disk.entry(0, 0, 0x05, 1000, 3000);
  disk.entry(1000, 0, 0x0C, 100, 300);
  disk.entry(1000, 1, 0x05, 500, 500);
  disk.entry(1500, 0, 0x0C, 100, 300);
  disk.entry(1500, 1, 0x0F, 1000, 500);
  disk.entry(2000, 0, 0x0C, 100, 300);
  for (std::uint64_t lba : {1100, 1600, 2100}) disk.fat32At(lba, 300);
  Scan scan(disk);
  EXPECT_EQ(scan.starts(), (std::vector<std::uint64_t>{1100, 1600, 2100}));
  scan.expectReadsInside();
}

TEST(PartitionWalk, EbrPointingAtItselfEnds) {
  CraftedDisk disk(4096);
  disk.entry(0, 0, 0x05, 1000, 3000);
  disk.entry(1000, 0, 0x0C, 100, 300);
  disk.entry(1000, 1, 0x05, 500, 500);  // EBR 2 at 1500
  disk.entry(1500, 0, 0x0C, 100, 300);
  disk.entry(1500, 1, 0x05, 500, 500);  // itself
  for (std::uint64_t lba : {1100, 1600}) disk.fat32At(lba, 300);
  Scan scan(disk);
  EXPECT_EQ(scan.starts(), (std::vector<std::uint64_t>{1100, 1600}));
  EXPECT_LT(scan.reads.size(), 20u);
}

TEST(PartitionWalk, EbrPointingBackEnds) {
  CraftedDisk disk(4096);
  disk.entry(0, 0, 0x05, 1000, 3000);
  disk.entry(1000, 0, 0x0C, 100, 300);
  disk.entry(1000, 1, 0x05, 500, 500);   // 1500
  disk.entry(1500, 0, 0x0C, 100, 300);
  disk.entry(1500, 1, 0x05, 1000, 500);  // 2000
  disk.entry(2000, 0, 0x0C, 100, 300);
  disk.entry(2000, 1, 0x05, 500, 500);   // back to 1500
  disk.entry(2000, 2, 0x0F, 1, 10);      // and on to 1001, whose only link points far past the end
  disk.entry(1001, 1, 0x05, 0xFFFFFFFF - 999, 10);  // far past the end: not read
  for (std::uint64_t lba : {1100, 1600, 2100}) disk.fat32At(lba, 300);
  Scan scan(disk);
  EXPECT_EQ(scan.starts(), (std::vector<std::uint64_t>{1100, 1600, 2100}));
  scan.expectReadsInside();
}

TEST(PartitionWalk, VeryLongChainStopsAtTheLimit) {
  // 3000 EBRs one sector apart, each linking to the next: the walk reads at most 1024 of them
  // and neither recurses without bound nor hangs.
  const std::size_t links = 3000;
  CraftedDisk disk(links + 64);
  disk.entry(0, 0, 0x05, 16, static_cast<std::uint32_t>(links + 10));
  for (std::size_t i = 0; i < links; ++i) disk.entry(16 + i, 1, 0x05, static_cast<std::uint32_t>(i + 1), 1);
  Scan scan(disk);
  std::size_t ebrReads = 0;
  for (const auto& [offset, length] : scan.reads) ebrReads += length == 4096;
  EXPECT_LE(ebrReads, kMaxExtendedRecords);
  EXPECT_GT(ebrReads, 1000u);
  scan.expectReadsInside();
}

TEST(PartitionWalk, BadSectorInAnEbrEndsOnlyThatBranch) {
  // The unreadable EBR lies outside every probe's 2050-sector window.
  CraftedDisk disk(16384);
  disk.entry(0, 0, 0x0C, 12000, 300);
  disk.entry(0, 1, 0x05, 1000, 10000);
  disk.entry(1000, 0, 0x0C, 100, 300);
  disk.entry(1000, 1, 0x05, 4000, 500);  // EBR 2 at 5000: unreadable
  disk.entry(5000, 0, 0x0C, 100, 300);
  for (std::uint64_t lba : {12000, 1100, 5100}) disk.fat32At(lba, 300);
  Scan scan(disk, {5000});
  EXPECT_EQ(scan.starts(), (std::vector<std::uint64_t>{12000, 1100}));
}

TEST(PartitionWalk, UnreadableMbrMeansNoPartitions) {
  CraftedDisk disk(4096);
  disk.fat32At(0);
  Scan scan(disk, {3});
  EXPECT_TRUE(scan.record.partitions.empty());
}

TEST(PartitionWalk, EntriesPastTheDeviceEndAreNotRead) {
  CraftedDisk disk(4096);
  disk.entry(0, 0, 0x0C, 0xFFFFFF00, 0xFFFFFFFF);
  disk.entry(0, 1, 0x0C, 4096, 10);  // exactly at the end
  disk.entry(0, 2, 0x05, 0xFFFFFFFF, 1);
  disk.entry(0, 3, 0x0C, 2048, 0xFFFFFFFF);  // starts inside, runs far past: probed, listed
  disk.fat32At(2048, 500);
  Scan scan(disk);
  EXPECT_EQ(scan.starts(), (std::vector<std::uint64_t>{2048}));
  scan.expectReadsInside();
}

TEST(PartitionWalk, PartitionNearTheEndGetsAShortProbeRead) {
  // Only 100 sectors remain after the partition's start: the probe reads what is there.
  CraftedDisk disk(4096);
  disk.entry(0, 0, 0x0C, 3996, 100);
  disk.fat32At(3996, 100);
  Scan scan(disk);
  EXPECT_EQ(scan.starts(), (std::vector<std::uint64_t>{3996}));
  for (const auto& [offset, length] : scan.reads) EXPECT_LE(offset + length, scan.size);
}

TEST(PartitionWalk, GptBehindProtectiveEntryThenWholeDeviceProbe) {
  CraftedDisk disk(8192);
  disk.entry(0, 0, 0xEE, 1, 8191);
  test::writeGptHeader(disk.bytes, 128, 128);
  test::writeGptEntry(disk.bytes, 0, 2048, 4095);
  test::writeGptEntry(disk.bytes, 1, 5000, 5000);  // last not above first: skipped
  test::writeGptEntry(disk.bytes, 5, 6000, 6999);
  disk.fat32At(2048, 2048);
  disk.fat32At(5000, 500);
  disk.fat32At(6000, 1000);
  Scan scan(disk);
  EXPECT_EQ(scan.starts(), (std::vector<std::uint64_t>{2048, 6000}));
  EXPECT_EQ(scan.record.partitions[0].size, 2048u * 512);  // 1 MiB
  // Header at LBA 1 (4096 bytes), entries at LBA 2 (16384 bytes), and the whole device last.
  const Reads& r = scan.reads;
  EXPECT_NE(std::find(r.begin(), r.end(), std::pair<std::uint64_t, std::size_t>{512, 4096}), r.end());
  EXPECT_NE(std::find(r.begin(), r.end(), std::pair<std::uint64_t, std::size_t>{1024, 16384}), r.end());
  EXPECT_EQ(r.back(), (std::pair<std::uint64_t, std::size_t>{0, 1049600}));
}

TEST(PartitionWalk, GptWithAbsurdEntryCountsListsNothingFromIt) {
  for (auto [count, size] : {std::pair<std::uint32_t, std::uint32_t>{0xFFFFFFFF, 128}, {128, 0xFFFFFFFF}, {0, 0},
                             {129, 128}, {128, 256}}) {
    CraftedDisk disk(8192);
    disk.entry(0, 0, 0xEE, 1, 8191);
    test::writeGptHeader(disk.bytes, count, size);
    test::writeGptEntry(disk.bytes, 0, 2048, 4095);
    disk.fat32At(2048, 2048);
    Scan scan(disk);
    EXPECT_TRUE(scan.record.partitions.empty()) << count << " x " << size;
    for (const auto& [offset, length] : scan.reads) EXPECT_NE(offset, 1024u) << "entries read for " << count;
  }
}

TEST(PartitionWalk, GptEntriesPastTheEndAreNotRead) {
  CraftedDisk disk(8192);
  disk.entry(0, 0, 0xEE, 1, 8191);
  test::writeGptHeader(disk.bytes, 128, 128);
  test::writeGptEntry(disk.bytes, 0, UINT64_MAX - 1, UINT64_MAX);
  test::writeGptEntry(disk.bytes, 1, 0, UINT64_MAX);
  test::writeGptEntry(disk.bytes, 2, 1ull << 60, (1ull << 60) + 100);
  test::writeGptEntry(disk.bytes, 3, 8192, 9000);
  test::writeGptEntry(disk.bytes, 4, 4096, 1ull << 40);  // starts inside
  disk.fat32At(4096, 100);
  Scan scan(disk);
  EXPECT_EQ(scan.starts(), (std::vector<std::uint64_t>{4096}));
  scan.expectReadsInside();
}

TEST(PartitionWalk, TwoProtectiveEntriesListTheGptOnce) {
  CraftedDisk disk(8192);
  disk.entry(0, 0, 0xEE, 1, 100);
  disk.entry(0, 1, 0xEE, 101, 8000);
  test::writeGptHeader(disk.bytes, 128, 128);
  test::writeGptEntry(disk.bytes, 0, 2048, 4095);
  disk.fat32At(2048, 2048);
  Scan scan(disk);
  EXPECT_EQ(scan.starts(), (std::vector<std::uint64_t>{2048}));
}

TEST(PartitionWalk, UnixWareSliceTable) {
  // A 0x63 partition at 1000 whose table (at its first sector) holds two slices; positions are
  // (origin + first) x unit as device offsets, the partition's own start not added.
  CraftedDisk disk(8192);
  disk.entry(0, 0, 0x63, 1000, 5000);
  std::uint8_t* t = disk.sector(1000);
  putLe32(t + 4, 0xCA5E600D);
  putLe32(t + 0x9C, 0x600DDEEE);
  putLe32(t + 0x24, 512);   // unit
  putLe32(t + 0x28, 2000);  // origin
  putLe32(t + 0xDC + 12 * 0, 0);
  putLe32(t + 0xE0 + 12 * 0, 700);
  putLe32(t + 0xDC + 12 * 2, 1000);
  putLe32(t + 0xE0 + 12 * 2, 800);
  // Slot 1 is empty (0 sectors) and is not probed.
  disk.fat32At(2000, 700);
  disk.fat32At(3000, 800);
  Scan scan(disk);
  EXPECT_EQ(scan.starts(), (std::vector<std::uint64_t>{2000, 3000}));
  EXPECT_EQ(scan.record.partitions[1].size, 800u * 512);
  scan.expectReadsInside();
}

TEST(PartitionWalk, UnixWareTableWithoutItsMagicIsIgnored) {
  CraftedDisk disk(8192);
  disk.entry(0, 0, 0x63, 1000, 5000);
  std::uint8_t* t = disk.sector(1000);
  putLe32(t + 4, 0xCA5E600D);  // second magic missing
  putLe32(t + 0x24, 512);
  putLe32(t + 0x28, 2000);
  putLe32(t + 0xE0, 700);
  disk.fat32At(2000, 700);
  Scan scan(disk);
  EXPECT_TRUE(scan.record.partitions.empty());
}

TEST(PartitionWalk, UnixWareSlicesPastTheEnd) {
  CraftedDisk disk(8192);
  disk.entry(0, 0, 0x63, 1000, 5000);
  std::uint8_t* t = disk.sector(1000);
  putLe32(t + 4, 0xCA5E600D);
  putLe32(t + 0x9C, 0x600DDEEE);
  putLe32(t + 0x24, 0xFFFFFFFF);
  putLe32(t + 0x28, 0xFFFFFFFF);
  for (int k = 0; k < 16; ++k) {
    putLe32(t + 0xDC + 12 * k, 0xFFFFFFFF);
    putLe32(t + 0xE0 + 12 * k, 0xFFFFFFFF);
  }
  Scan scan(disk);
  EXPECT_TRUE(scan.record.partitions.empty());
  scan.expectReadsInside();
}

TEST(PartitionWalk, WholeDeviceFileSystemWithoutTable) {
  CraftedDisk disk(4096);
  disk.fat32At(0, 4096);
  // The FAT32 boot sector's code area is zero here, so the MBR walk finds no entries.
  Scan scan(disk);
  ASSERT_EQ(scan.starts(), (std::vector<std::uint64_t>{0}));
  EXPECT_EQ(scan.record.partitions[0].size, 4096u * 512);
  EXPECT_EQ(scan.record.partitions[0].name, "Partition0");
}

TEST(PartitionWalk, DeviceSmallerThanTheReads) {
  // A 3-sector image: every read is cut at the end; nothing breaks.
  CraftedDisk disk(3);
  disk.entry(0, 0, 0x0C, 1, 2);
  disk.entry(0, 1, 0x05, 2, 1);
  Scan scan(disk);
  EXPECT_TRUE(scan.record.partitions.empty());
  scan.expectReadsInside();
  CraftedDisk empty(0);
  Scan none(empty);
  EXPECT_TRUE(none.record.partitions.empty());
}

TEST(PartitionWalk, RescanReplacesTheList) {
  CraftedDisk disk(4096);
  disk.entry(0, 0, 0x0C, 2048, 1000);
  disk.fat32At(2048);
  DeviceHandle handle;
  handle.open(std::make_unique<MemorySource>(disk.bytes));
  DeviceRecord record;
  scanPartitions(handle, record);
  scanPartitions(handle, record);
  EXPECT_EQ(record.partitions.size(), 1u);
}

TEST(PartitionByIndex, UsesTheListedPartitions) {
  DeviceRecord record;
  record.name = "disk";
  PartitionRecord a, b;
  a.start = 512;
  b.start = 1024;
  record.partitions = {a, b};
  DeviceHandle closed;  // not needed when the record has its list
  auto second = findPartition(closed, record, 1);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->start, 1024u);
  auto third = findPartition(closed, record, 2);
  ASSERT_FALSE(third.has_value());
  EXPECT_EQ(third.error().message, "disk has 2 listed partitions (0 to 1); there is no partition 2");
}

TEST(PartitionByIndex, SourceWithoutPartitions) {
  CraftedDisk disk(16);
  DeviceHandle handle;
  handle.open(std::make_unique<MemorySource>(disk.bytes));
  DeviceRecord record;
  record.name = "/tmp/blank.img";
  auto none = findPartition(handle, record, 0);
  ASSERT_FALSE(none.has_value());
  EXPECT_EQ(none.error().message,
            "/tmp/blank.img has no partition with a recognised file system, so there is no partition 0");
}

}  // namespace
}  // namespace norvale
