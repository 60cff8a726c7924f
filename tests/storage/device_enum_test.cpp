// The Linux disk enumeration against a fake sysfs tree (vendor/model/rev, serial numbers, sizes,
// loop devices with and without backing file, ram and zram), plus a smoke test of the machine's
// real enumeration that asserts only what is certain; and image files added by path.
#include "storage/device_enum.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <set>

#include "storage/fake_sysfs.h"
#include "storage/fs_probe.h"
#include "support/disk_tools.h"

namespace norvale {
namespace {

constexpr std::uint64_t MiB = 1 << 20;

#ifdef __linux__

// sda: an MBR disk with FAT16 and exFAT; sdb: a raw ext2 volume; loop1: a blank backed loop
// device; vda: a virtio disk without texts; nvme0n1: listed in sysfs, no device node.
struct FakeMachine {
  test::FakeSysfs fs;
  std::uint64_t sdaSecond = 0;

  FakeMachine() {
    const std::string sda = fs.node("sda");
    test::makeSparseFile(sda, 64 * MiB);
    auto run = test::runTool({"sfdisk", "-q", "--no-reread", "--no-tell-kernel", sda}, "label: dos\nsize=16MiB, type=6\nsize=8MiB, type=7\n");
    EXPECT_TRUE(run.ok()) << run.output;
    const auto table = test::sfdiskPartitions(sda);
    EXPECT_EQ(table.size(), 2u);
    if (table.size() == 2) {
      sdaSecond = table[1].start;
      const std::string fat = fs.dir().file("fat16.img"), exfat = fs.dir().file("exfat.img");
      test::makeSparseFile(fat, 16 * MiB);
      test::makeSparseFile(exfat, 8 * MiB);
      EXPECT_TRUE(test::runTool({"mkfs.vfat", "-F", "16", fat}).ok());
      EXPECT_TRUE(test::runTool({"mkfs.exfat", exfat}).ok());
      test::copyInto(fat, sda, table[0].start * 512);
      test::copyInto(exfat, sda, table[1].start * 512);
    }
    auto sdaDir = fs.disk("sda", 64 * MiB / 512, "8:0");
    fs.write(sdaDir / "device" / "vendor", "ATA     \n");
    fs.write(sdaDir / "device" / "model", "Vendorless SSD 860 EVO 500GB\n");
    fs.write(sdaDir / "device" / "rev", "4B6Q\n");
    fs.write(sdaDir / "device" / "vpd_pg80", std::string("\x00\x80\x00\x0D", 4) + "S3Z9 NB0K 123");
    fs.partition("sda", "sda1", 1, 2048, "8:1");
    fs.partition("sda", "sda2", 2, sdaSecond, "8:2");

    const std::string sdb = fs.node("sdb");
    test::makeSparseFile(sdb, 16 * MiB);
    EXPECT_TRUE(test::runTool({"mkfs.ext2", "-q", "-F", sdb}).ok());
    auto sdbDir = fs.disk("sdb", 16 * MiB / 512, "8:16");
    fs.write(sdbDir / "device" / "vendor", "ATA\n");
    fs.write(sdbDir / "device" / "model", "QEMU HARDDISK   \n");
    fs.write(sdbDir / "device" / "rev", "2.5+\n");
    fs.write(sdbDir / "device" / "serial", " QM 00001 \n");

    fs.disk("sdc", 0, "8:32");  // a card reader without a card
    test::makeSparseFile(fs.node("sdc"), 0);

    auto nvme = fs.disk("nvme0n1", 1000000, "259:0");
    fs.write(nvme / "device" / "model", "WDC PC SN730\n");
    fs.write(nvme / "device" / "firmware_rev", "11170101\n");
    fs.write(nvme / "device" / "serial", "2034 ABC\n");

    fs.disk("loop0", 2048, "7:0");  // no backing file
    test::makeSparseFile(fs.node("loop0"), MiB);
    auto loop1 = fs.disk("loop1", 2048, "7:1");
    fs.write(loop1 / "loop" / "backing_file", "/srv/images/evidence.img\n");
    test::makeSparseFile(fs.node("loop1"), MiB);
    fs.disk("ram0", 8192, "1:0");
    test::makeSparseFile(fs.node("ram0"), 4 * MiB);
    fs.disk("zram0", 8192, "253:0");
    test::makeSparseFile(fs.node("zram0"), 4 * MiB);

    auto vda = fs.disk("vda", 4096, "254:0");
    fs.write(vda / "device" / "vendor", "0x1af4\n");
    fs.write(vda / "serial", "overlayblk");
    test::makeSparseFile(fs.node("vda"), 2 * MiB);

    fs.mountinfo(
        "22 1 0:21 / /proc rw,relatime - proc proc rw\n"
        "25 1 8:1 / /boot/efi rw - vfat /dev/sda1 rw\n"
        "26 1 8:16 /sub /bind rw - ext2 /dev/sdb rw\n"
        "27 1 8:16 / /mnt/my\\040disk rw - ext2 /dev/sdb rw\n"
        "28 1 8:2 / /media/unrelated rw - exfat /dev/sda3 rw\n");  // matched by 8:2, not by the source text
  }
};

const DeviceRecord* find(const DiskList& list, const std::string& node) {
  for (const auto& d : list.devices)
    if (d.path == node) return &d;
  return nullptr;
}

TEST(FakeSysfsEnumeration, DisksTextsSerialsSizesAndNumbers) {
  FakeMachine m;
  const DiskList list = enumerateDisks(m.fs.options());

  // loop0 (no backing file), ram0, zram0 and sdc (no medium) are skipped; nvme0n1 has no node.
  std::vector<std::string> listed;
  for (const auto& d : list.devices) listed.push_back(d.path);
  EXPECT_EQ(listed, (std::vector<std::string>{m.fs.node("loop1"), m.fs.node("sda"), m.fs.node("sdb"), m.fs.node("vda")}));

  ASSERT_EQ(list.unopened.size(), 1u);
  EXPECT_EQ(list.unopened[0].path, m.fs.node("nvme0n1"));
  EXPECT_EQ(list.unopened[0].error.code, ErrorCode::NotFound);

  const auto* loop1 = find(list, m.fs.node("loop1"));
  ASSERT_NE(loop1, nullptr);
  EXPECT_EQ(loop1->driveNumber, 0);
  EXPECT_EQ(loop1->name, "loop1");  // sysfs has no texts for it
  EXPECT_EQ(loop1->kind, DeviceKind::PhysicalDrive);

  const auto* sda = find(list, m.fs.node("sda"));
  ASSERT_NE(sda, nullptr);
  EXPECT_EQ(sda->driveNumber, 2);  // nvme0n1 keeps number 1 though it is not listed
  EXPECT_EQ(sda->name, "ATAVendorless SSD 860 EVO 500GB4B6Q");
  EXPECT_EQ(sda->secondName, "S3Z9NB0K123");
  EXPECT_EQ(sda->size, 64 * MiB);
  EXPECT_EQ(sda->sectorSize, 512u);

  const auto* sdb = find(list, m.fs.node("sdb"));
  ASSERT_NE(sdb, nullptr);
  EXPECT_EQ(sdb->driveNumber, 3);
  EXPECT_EQ(sdb->name, "ATAQEMU HARDDISK2.5+");
  EXPECT_EQ(sdb->secondName, "QM00001");
  EXPECT_EQ(sdb->size, 16 * MiB);

  const auto* vda = find(list, m.fs.node("vda"));
  ASSERT_NE(vda, nullptr);
  EXPECT_EQ(vda->driveNumber, 4);
  EXPECT_EQ(vda->name, "vda");  // a numeric vendor id is no vendor text
  EXPECT_EQ(vda->secondName, "overlayblk");
  EXPECT_TRUE(vda->partitions.empty());
}

TEST(FakeSysfsEnumeration, PartitionsAndMountedVolumeNames) {
  FakeMachine m;
  const DiskList list = enumerateDisks(m.fs.options());
  const auto* sda = find(list, m.fs.node("sda"));
  ASSERT_NE(sda, nullptr);
  ASSERT_EQ(sda->partitions.size(), 2u);
  EXPECT_EQ(sda->partitions[0].fsType, kFsFat16);
  EXPECT_EQ(sda->partitions[0].start, 2048u * 512);
  EXPECT_EQ(sda->partitions[0].name, "/boot/efi");
  EXPECT_EQ(sda->partitions[1].fsType, kFsExFat);
  EXPECT_EQ(sda->partitions[1].start, m.sdaSecond * 512);
  EXPECT_EQ(sda->partitions[1].name, "/media/unrelated");

  // sdb holds its file system from byte 0: the whole-device probe lists it, and the mount of
  // the whole file system (root "/") names it rather than the bind mount listed first.
  const auto* sdb = find(list, m.fs.node("sdb"));
  ASSERT_NE(sdb, nullptr);
  ASSERT_EQ(sdb->partitions.size(), 1u);
  EXPECT_EQ(sdb->partitions[0].fsType, kFsExt2);
  EXPECT_EQ(sdb->partitions[0].start, 0u);
  EXPECT_EQ(sdb->partitions[0].name, "/mnt/my disk");
}

TEST(FakeSysfsEnumeration, WithoutMountinfoPartitionsKeepTheirNumbers) {
  FakeMachine m;
  auto options = m.fs.options();
  options.mountInfoPath = m.fs.dir().file("no-such-mountinfo");
  const DiskList list = enumerateDisks(options);
  const auto* sda = find(list, m.fs.node("sda"));
  ASSERT_NE(sda, nullptr);
  ASSERT_EQ(sda->partitions.size(), 2u);
  EXPECT_EQ(sda->partitions[0].name, "Partition0");
  EXPECT_EQ(sda->partitions[1].name, "Partition1");
}

TEST(FakeSysfsEnumeration, MissingSysfsListsNothing) {
  test::TempDir dir;
  DiskEnumerationOptions options;
  options.sysfsRoot = dir.file("nothing");
  const DiskList list = enumerateDisks(options);
  EXPECT_TRUE(list.devices.empty());
  EXPECT_TRUE(list.unopened.empty());
}

TEST(RealEnumeration, SmokeAssertsOnlyWhatIsCertain) {
  const DiskList list = enumerateDisks();
  std::set<std::int32_t> numbers;
  for (const auto& d : list.devices) {
    SCOPED_TRACE(d.path);
    EXPECT_EQ(d.kind, DeviceKind::PhysicalDrive);
    EXPECT_EQ(d.sectorSize, 512u);
    ASSERT_EQ(d.path.rfind("/dev/", 0), 0u);
    EXPECT_TRUE(numbers.insert(d.driveNumber).second) << "drive number used twice";
    EXPECT_GE(d.driveNumber, 0);
    EXPECT_FALSE(d.name.empty());
    EXPECT_EQ(d.secondName.find(' '), std::string::npos);
    EXPECT_GT(d.size, 0u);
    const std::string kernel = d.path.substr(5);
    EXPECT_NE(kernel.rfind("ram", 0), 0u);
    EXPECT_NE(kernel.rfind("zram", 0), 0u);
    EXPECT_TRUE(std::filesystem::exists("/sys/block/" + kernel)) << kernel;
    for (const auto& p : d.partitions) {
      EXPECT_FALSE(p.name.empty());
      EXPECT_GE(p.fsType, 1u);
      EXPECT_LE(p.fsType, 20u);
    }
  }
  for (const auto& u : list.unopened) EXPECT_FALSE(u.error.message.empty());
}

// A real loop device backed by an ext2 image and mounted read-only: the real enumeration (real
// /sys/block, real /proc/self/mountinfo) lists it with its file system named by the mount point.
// Attaching and mounting need root; where they cannot run, the test is skipped.
class LoopMount {
 public:
  explicit LoopMount(const std::string& image, const std::string& mountPoint) : m_mountPoint(mountPoint) {
    auto attach = test::runTool({"losetup", "--find", "--show", "--read-only", image});
    if (!attach.ok()) {
      m_why = "losetup: " + attach.output;
      return;
    }
    m_loop = attach.output.substr(0, attach.output.find('\n'));
    auto mount = test::runTool({"mount", "-o", "ro", m_loop, mountPoint});
    if (!mount.ok()) {
      m_why = "mount: " + mount.output;
      return;
    }
    m_mounted = true;
  }
  ~LoopMount() {
    if (m_mounted) test::runTool({"umount", m_mountPoint});
    if (!m_loop.empty()) test::runTool({"losetup", "--detach", m_loop});
  }
  bool ready() const { return m_mounted; }
  const std::string& why() const { return m_why; }
  const std::string& loop() const { return m_loop; }

 private:
  std::string m_mountPoint, m_loop, m_why;
  bool m_mounted = false;
};

TEST(RealEnumeration, MountedLoopDeviceIsNamedByItsMountPoint) {
  if (::geteuid() != 0) GTEST_SKIP() << "attaching a loop device and mounting need root";
  ASSERT_FALSE(test::findTool("losetup").empty()) << "losetup is missing: install tools/apt-packages.txt";
  ASSERT_FALSE(test::findTool("mount").empty()) << "mount is missing";
  test::TempDir dir;
  const std::string image = dir.file("loop.img");
  test::makeSparseFile(image, 16 * MiB);
  ASSERT_TRUE(test::runTool({"mkfs.ext2", "-q", "-F", image}).ok());
  const std::string point = dir.file("mnt");
  std::filesystem::create_directories(point);
  LoopMount mounted(image, point);
  if (!mounted.ready()) GTEST_SKIP() << "this machine allows no loop device or mount: " << mounted.why();

  const DiskList list = enumerateDisks();
  const DeviceRecord* loop = find(list, mounted.loop());
  ASSERT_NE(loop, nullptr) << mounted.loop() << " not listed";
  EXPECT_EQ(loop->size, 16 * MiB);
  ASSERT_EQ(loop->partitions.size(), 1u);
  EXPECT_EQ(loop->partitions[0].fsType, kFsExt2);
  EXPECT_EQ(loop->partitions[0].start, 0u);
  EXPECT_EQ(loop->partitions[0].name, point);
}

#endif  // __linux__

TEST(ImageFiles, NumberedTitledAndSized) {
  test::TempDir dir;
  const std::string image = dir.file("recorder.disk.img");
  test::makeSparseFile(image, 3 * MiB + 512);
  auto record = addImageFile(image, 3);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->kind, DeviceKind::Path);
  EXPECT_EQ(record->driveNumber, 30);
  EXPECT_EQ(record->name, image);
  EXPECT_EQ(record->secondName, "recorder.disk");
  EXPECT_EQ(record->size, 3 * MiB + 512);
  EXPECT_EQ(record->sectorSize, 512u);
  EXPECT_TRUE(record->partitions.empty());
  const std::string plain = dir.file("noext");
  test::makeSparseFile(plain, 512);
  auto second = addImageFile(plain, 0);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->secondName, "noext");
  EXPECT_EQ(second->driveNumber, 0);
}

TEST(ImageFiles, ThatCannotBeOpenedAreNotAdded) {
  test::TempDir dir;
  auto missing = addImageFile(dir.file("missing.img"), 0);
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().code, ErrorCode::NotFound);
  auto folder = addImageFile(dir.str(), 0);
  EXPECT_FALSE(folder.has_value());
}

TEST(MountedNames, FirstNameForAPlaceWins) {
  std::vector<DeviceRecord> devices(1);
  devices[0].path = "/dev/sdz";
  PartitionRecord a, b;
  a.start = 0;
  a.name = "Partition0";
  b.start = 1 << 20;
  b.name = "Partition1";
  devices[0].partitions = {a, b};
  nameMountedPartitions(devices, {{"/dev/sdz", 1 << 20, "/data"}, {"/dev/sdz", 1 << 20, "/again"}, {"/dev/sdy", 0, "/x"}});
  EXPECT_EQ(devices[0].partitions[0].name, "Partition0");
  EXPECT_EQ(devices[0].partitions[1].name, "/data");
}

}  // namespace
}  // namespace norvale
