#pragma once
// One entry of the device list: a disk or an added image file, with its partitions.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace norvale {

inline constexpr std::uint32_t kSectorSize = 512;

enum class DeviceKind : std::int32_t {
  None = 0,
  PhysicalDrive = 2,  // a whole disk of the machine
  Path = 3,           // an image file (or anything else opened by path)
};

struct FileSystemGeometry;  // the probe's description of a file system (file-system probes)

struct PartitionRecord {
  std::uint32_t fsType = 0;    // file-system type number of the probe chain
  std::uint32_t unitSize = kSectorSize;
  std::uint64_t start = 0;     // byte offset on the device
  std::uint64_t size = 0;      // bytes
  std::string name;            // "Partition%d", or the mount point of a mounted volume
  std::string label;
  std::shared_ptr<FileSystemGeometry> geometry;
};

struct DeviceRecord {
  std::string name;        // disk: vendor+model+revision; image: full path
  std::string secondName;  // disk: serial number without spaces; image: file name up to its last dot
  std::uint32_t sectorSize = kSectorSize;
  std::int32_t driveNumber = 0;  // disk: its number; image: 10 x the devices listed before it
  DeviceKind kind = DeviceKind::None;
  std::uint64_t size = 0;  // bytes
  std::string path;        // what the platform opens: the image path, or the disk's device node
  std::vector<PartitionRecord> partitions;

  // The path DeviceHandle opens: the device node of a disk, or the image path.
  const std::string& openPath() const { return path.empty() ? name : path; }
};

// A record for an image file added by path, as the device list numbers it.
DeviceRecord makeImageRecord(const std::string& path, std::int32_t devicesListed);

}  // namespace norvale
