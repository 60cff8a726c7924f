// Disk enumeration on Windows: PhysicalDrive 0..254, the storage property query for
// the model text and serial number, the geometry query for the size, the partition walk, and
// the drive letters mapped to the partitions by their volume's first extent. Every handle is
// opened with read access only: the SMART query does not get a read/write handle
// (a forensic tool must not open evidence for writing); where SMART refuses a read-only handle
// the serial number falls back to the storage descriptor, as when SMART fails.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <span>
#include <vector>

#include "storage/device_enum.h"
#include "storage/device_handle.h"
#include "storage/device_text.h"
#include "storage/partition_scan.h"

namespace norvale {
namespace {

constexpr int kMaxDrives = 255;

std::string driveName(int n) {
  char name[30] = {};
  std::snprintf(name, sizeof name - 1, "\\\\.\\PhysicalDrive%d", n);
  return name;
}

HANDLE openReadOnly(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

// IOCTL_STORAGE_QUERY_PROPERTY, standard query of the device property: the descriptor bytes.
bool queryDescriptor(HANDLE h, std::vector<std::uint8_t>& answer) {
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  answer.assign(10000, 0);
  DWORD got = 0;
  if (!DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, answer.data(),
                       static_cast<DWORD>(answer.size()), &got, nullptr))
    return false;
  answer.resize(got);
  return got >= sizeof(STORAGE_DEVICE_DESCRIPTOR) - 1;
}

std::uint32_t descriptorField(const std::vector<std::uint8_t>& d, std::size_t offset) {
  if (offset + 4 > d.size()) return 0;
  return static_cast<std::uint32_t>(d[offset]) | (static_cast<std::uint32_t>(d[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(d[offset + 2]) << 16) | (static_cast<std::uint32_t>(d[offset + 3]) << 24);
}

std::string descriptorModel(const std::vector<std::uint8_t>& d) {
  const std::span<const std::uint8_t> bytes(d);
  return joinModelText(decodeDescriptorText(bytes, descriptorField(d, offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset))),
                       decodeDescriptorText(bytes, descriptorField(d, offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset))),
                       decodeDescriptorText(bytes, descriptorField(d, offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductRevisionOffset))));
}

// Serial number of drive n: SMART identify first, else the descriptor's serial-number text.
std::string driveSerial(int n) {
  std::string serial;
  HANDLE h = openReadOnly(driveName(n));
  if (h == INVALID_HANDLE_VALUE) return serial;
  GETVERSIONINPARAMS version{};
  DWORD got = 0;
  if (DeviceIoControl(h, SMART_GET_VERSION, nullptr, 0, &version, sizeof version, &got, nullptr) &&
      version.bIDEDeviceMap != 0) {
    SENDCMDINPARAMS in{};
    std::vector<std::uint8_t> out(sizeof(SENDCMDOUTPARAMS) + 512, 0);
    in.cBufferSize = 512;
    in.irDriveRegs.bSectorCountReg = 1;
    in.irDriveRegs.bSectorNumberReg = 1;
    in.irDriveRegs.bCylLowReg = 0;
    in.irDriveRegs.bCylHighReg = 0;
    in.irDriveRegs.bDriveHeadReg = static_cast<BYTE>((n & 1) ? 0xB0 : 0xA0);
    in.irDriveRegs.bCommandReg =
        static_cast<BYTE>((version.bIDEDeviceMap >> n) & 0x10 ? ATAPI_ID_CMD : ID_CMD);  // 0xA1 : 0xEC
    in.bDriveNumber = static_cast<BYTE>(n);
    if (DeviceIoControl(h, SMART_RCV_DRIVE_DATA, &in, sizeof(SENDCMDINPARAMS) - 1, out.data(),
                        static_cast<DWORD>(out.size()), &got, nullptr)) {
      const auto* answer = reinterpret_cast<const SENDCMDOUTPARAMS*>(out.data());
      serial = ataIdentifySerial(std::span<const std::uint8_t>(answer->bBuffer, 512));
    }
  }
  if (serial.empty()) {
    std::vector<std::uint8_t> d;
    if (queryDescriptor(h, d)) {
      const std::uint32_t at = descriptorField(d, offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset));
      if (at != 0 && at < d.size()) serial.assign(d.begin() + at, d.end());
      serial.erase(std::find(serial.begin(), serial.end(), '\0'), serial.end());
    }
  }
  CloseHandle(h);
  return removeSpaces(serial);
}

// Drive letters: the first extent of each volume names the partition that starts there.
std::vector<MountedVolume> driveLetters() {
  std::vector<MountedVolume> volumes;
  char strings[512] = {};
  const DWORD length = GetLogicalDriveStringsA(sizeof strings - 1, strings);
  for (DWORD i = 0; i + 2 < length; i += 4) {
    const std::string letter(strings + i, 2);  // "C:"
    HANDLE h = openReadOnly("\\\\.\\" + letter);
    if (h == INVALID_HANDLE_VALUE) continue;
    VOLUME_DISK_EXTENTS extents{};  // 32 bytes: only the first extent
    DWORD got = 0;
    if (DeviceIoControl(h, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &extents, sizeof extents, &got,
                        nullptr) &&
        extents.NumberOfDiskExtents > 0) {
      volumes.push_back({driveName(static_cast<int>(extents.Extents[0].DiskNumber)),
                         static_cast<std::uint64_t>(extents.Extents[0].StartingOffset.QuadPart), letter});
    }
    CloseHandle(h);
  }
  return volumes;
}

}  // namespace

DiskList enumerateDisks(const DiskEnumerationOptions&) {
  DiskList list;
  for (int n = 0; n < kMaxDrives; ++n) {
    DeviceRecord record;
    record.kind = DeviceKind::PhysicalDrive;
    record.driveNumber = n;
    record.sectorSize = kSectorSize;
    record.path = driveName(n);
    DeviceHandle handle;
    handle.open(record);
    if (!handle.ok()) {
      // Only a refusal is worth telling; a drive number with no drive behind it is not one.
      if (handle.lastError().code == ErrorCode::AccessDenied) list.unopened.push_back({record.path, handle.lastError()});
      continue;
    }
    HANDLE raw = openReadOnly(record.path);
    if (raw == INVALID_HANDLE_VALUE) continue;
    std::vector<std::uint8_t> descriptor;
    if (!queryDescriptor(raw, descriptor)) {
      CloseHandle(raw);
      continue;  // a disk that answers no property query is not listed
    }
    record.name = descriptorModel(descriptor);
    DISK_GEOMETRY_EX geometry{};
    DWORD got = 0;
    if (DeviceIoControl(raw, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry, sizeof geometry, &got, nullptr))
      record.size = static_cast<std::uint64_t>(geometry.DiskSize.QuadPart);
    CloseHandle(raw);
    record.secondName = driveSerial(n);
    scanPartitions(handle, record);
    handle.close();
    list.devices.push_back(std::move(record));
  }
  nameMountedPartitions(list.devices, driveLetters());
  return list;
}

}  // namespace norvale
