#pragma once
// Building the device list: the machine's disks with their model text, serial
// number, size and partitions, and image files added by path. Disks are opened read-only.
#include <cstdint>
#include <string>
#include <vector>

#include "base/error.h"
#include "storage/device_record.h"

namespace norvale {

// Where the Linux enumeration looks; tests point these at a fake tree. Ignored on Windows.
struct DiskEnumerationOptions {
  std::string sysfsRoot = "/sys";                       // reads <sysfsRoot>/block/*
  std::string mountInfoPath = "/proc/self/mountinfo";  // mounted volumes name their partitions
  std::string devRoot = "/dev";                         // device nodes: <devRoot>/<kernel name>
  bool readAtaIdentity = true;                          // ask the drive by ioctl when sysfs has no serial
};

// A disk that is left out of the list because it could not be opened.
struct UnopenedDisk {
  std::string path;
  Error error;  // AccessDenied when the user lacks permission
};

struct DiskList {
  std::vector<DeviceRecord> devices;
  std::vector<UnopenedDisk> unopened;
};

// Every disk of the machine, in the platform's order, each scanned for partitions.
// Linux: every whole block device of <sysfs>/block except ram and zram devices, loop devices
// without a backing file and devices of size 0 (no medium). The drive number is the device's
// place in that list (natural name order, counting from 0), so a disk that cannot be opened
// leaves a gap as a missing PhysicalDrive number does on Windows. Name = vendor, model and
// revision joined (the kernel name when sysfs has none of them); second name = serial number
// without spaces (sysfs serial, vpd_pg80, or the ATA identify data by ioctl); mounted file
// systems give their mount point as the name of the partition that starts where they start.
// Windows: PhysicalDrive 0..254 as Windows numbers them, with drive letters as partition names.
DiskList enumerateDisks(const DiskEnumerationOptions& options = {});

// An image file (or any path) added to the list: kind 3, drive number 10 x devicesListed, name =
// the path, second name = the file name up to its last dot, size = the size of the opened
// object, partitions scanned. An error when it cannot be opened (nothing is added then).
Result<DeviceRecord> addImageFile(const std::string& path, std::int32_t devicesListed);

// Gives every partition of `devices` that starts where a mounted volume starts the volume's
// name. `volumes` holds (device path, byte offset on that device, name); the first name for a
// place wins. Used by both platforms' enumerations.
struct MountedVolume {
  std::string devicePath;
  std::uint64_t offset = 0;
  std::string name;
};
void nameMountedPartitions(std::vector<DeviceRecord>& devices, const std::vector<MountedVolume>& volumes);

}  // namespace norvale
