// Disk enumeration on Linux: /sys/block for the disks, their texts and partitions' device
// numbers, /proc/self/mountinfo for the mounted volumes. Other POSIX systems list no disks
// (images can still be added by path).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#endif

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "storage/device_enum.h"
#include "storage/device_handle.h"
#include "storage/device_text.h"
#include "storage/partition_scan.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> readSysfs(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string readSysfsText(const fs::path& path) {
  auto text = readSysfs(path);
  return text ? trimText(*text) : std::string{};
}

std::uint64_t readSysfsNumber(const fs::path& path) {
  const std::string text = readSysfsText(path);
  try {
    return text.empty() ? 0 : std::stoull(text);
  } catch (...) {
    return 0;
  }
}

std::optional<std::pair<unsigned, unsigned>> readDevNumber(const fs::path& path) {
  const std::string text = readSysfsText(path);
  const auto colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  try {
    return std::pair<unsigned, unsigned>(static_cast<unsigned>(std::stoul(text.substr(0, colon))),
                                         static_cast<unsigned>(std::stoul(text.substr(colon + 1))));
  } catch (...) {
    return std::nullopt;
  }
}

bool startsWith(const std::string& s, std::string_view prefix) { return s.rfind(prefix, 0) == 0; }

// Devices that are not disks the user could have attached.
bool skipDevice(const std::string& name, const fs::path& dir) {
  if (startsWith(name, "ram") || startsWith(name, "zram")) return true;
  if (startsWith(name, "loop")) return readSysfsText(dir / "loop" / "backing_file").empty();
  return false;
}

// Vendor, model and revision as the storage descriptor would give them. A bus that reports a
// numeric vendor id instead of a text (virtio: "0x1af4") gives no vendor text.
std::string modelText(const fs::path& dir) {
  std::string vendor = readSysfsText(dir / "device" / "vendor");
  if (startsWith(vendor, "0x")) vendor.clear();
  const std::string model = readSysfsText(dir / "device" / "model");
  std::string revision = readSysfsText(dir / "device" / "rev");
  if (revision.empty()) revision = readSysfsText(dir / "device" / "firmware_rev");  // NVMe
  return joinModelText(vendor, model, revision);
}

std::string sysfsSerial(const fs::path& dir) {
  for (const auto& file : {dir / "device" / "serial", dir / "serial"}) {
    std::string serial = readSysfsText(file);
    if (!serial.empty()) return serial;
  }
  if (auto page = readSysfs(dir / "device" / "vpd_pg80")) {
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(page->data()), page->size());
    return scsiUnitSerial(bytes);
  }
  return {};
}

// The serial number from the drive's ATA IDENTIFY data (HDIO_GET_IDENTITY, answered by libata
// and the old IDE driver), on a read-only descriptor. Only block devices are asked.
std::string ataIdentitySerial(const std::string& path) {
#ifdef __linux__
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat st {};
  std::array<unsigned char, 512> id{};
  const bool asked = ::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode) && ::ioctl(fd, HDIO_GET_IDENTITY, id.data()) == 0;
  ::close(fd);
  if (!asked) return {};
  // The kernel hands the text fields back in reading order (words 10..19: the serial number).
  std::string serial(reinterpret_cast<const char*>(id.data()) + 20, 20);
  serial.erase(std::find(serial.begin(), serial.end(), '\0'), serial.end());
  return trimText(serial);
#else
  (void)path;
  return {};
#endif
}

}  // namespace

DiskList enumerateDisks(const DiskEnumerationOptions& options) {
  DiskList list;
#ifdef __linux__
  const fs::path block = fs::path(options.sysfsRoot) / "block";
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(block, ec), end; !ec && it != end; it.increment(ec)) names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return naturalLess(a, b); });

  // Device numbers (major:minor) of each disk and partition -> (device node, byte offset).
  std::map<std::pair<unsigned, unsigned>, std::pair<std::string, std::uint64_t>> places;
  std::int32_t number = 0;
  for (const auto& name : names) {
    const fs::path dir = block / name;
    if (skipDevice(name, dir)) continue;
    const std::uint64_t sectors = readSysfsNumber(dir / "size");
    if (sectors == 0) continue;  // no medium

    DeviceRecord record;
    record.kind = DeviceKind::PhysicalDrive;
    record.driveNumber = number++;
    record.sectorSize = kSectorSize;
    record.size = sectors * 512;  // sysfs counts 512-byte sectors whatever the disk's own size
    std::string node = name;
    std::replace(node.begin(), node.end(), '!', '/');  // "cciss!c0d0" is /dev/cciss/c0d0
    record.path = (fs::path(options.devRoot) / node).string();
    record.name = modelText(dir);
    if (record.name.empty()) record.name = name;

    if (auto devno = readDevNumber(dir / "dev")) places[*devno] = {record.path, 0};
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      if (!fs::exists(it->path() / "partition")) continue;
      if (auto devno = readDevNumber(it->path() / "dev"))
        places[*devno] = {record.path, readSysfsNumber(it->path() / "start") * 512};
    }
    ec.clear();

    DeviceHandle handle;
    handle.open(record);
    if (!handle.ok()) {
      list.unopened.push_back({record.path, handle.lastError()});
      continue;
    }
    std::string serial = sysfsSerial(dir);
    if (serial.empty() && options.readAtaIdentity) serial = ataIdentitySerial(record.path);
    record.secondName = removeSpaces(serial);
    scanPartitions(handle, record);
    handle.close();
    list.devices.push_back(std::move(record));
  }

  // Mounted volumes name their partitions; a mount of the whole file system (root "/") is
  // preferred to a bind mount of one of its folders.
  if (auto text = readSysfs(options.mountInfoPath)) {
    const auto mounts = parseMountInfo(*text);
    std::vector<MountedVolume> volumes;
    for (int pass = 0; pass < 2; ++pass)
      for (const auto& m : mounts) {
        if ((m.root == "/") != (pass == 0)) continue;
        auto place = places.find({m.major, m.minor});
        if (place != places.end()) volumes.push_back({place->second.first, place->second.second, m.mountPoint});
      }
    nameMountedPartitions(list.devices, volumes);
  }
#else
  (void)options;
#endif
  return list;
}

}  // namespace norvale
