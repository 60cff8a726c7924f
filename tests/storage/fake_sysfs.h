#pragma once
// A fake /sys/block tree, /dev folder and mountinfo file in a temporary folder, for testing the
// Linux disk enumeration without the machine's disks.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "storage/device_enum.h"
#include "support/test_support.h"

namespace norvale::test {

class FakeSysfs {
 public:
  FakeSysfs() {
    std::filesystem::create_directories(m_dir.path() / "sys" / "block");
    std::filesystem::create_directories(m_dir.path() / "dev");
  }
  // A whole block device with `sectors` 512-byte sectors and its major:minor.
  std::filesystem::path disk(const std::string& name, std::uint64_t sectors, const std::string& devno) {
    const auto dir = block() / name;
    std::filesystem::create_directories(dir);
    write(dir / "size", std::to_string(sectors) + "\n");
    write(dir / "dev", devno + "\n");
    return dir;
  }
  // A partition of a disk: start in sectors.
  void partition(const std::string& diskName, const std::string& name, int number, std::uint64_t start,
                 const std::string& devno) {
    const auto dir = block() / diskName / name;
    std::filesystem::create_directories(dir);
    write(dir / "partition", std::to_string(number) + "\n");
    write(dir / "start", std::to_string(start) + "\n");
    write(dir / "dev", devno + "\n");
  }
  static void write(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out << text;
  }
  // The device node: a regular file standing for the disk.
  std::string node(const std::string& name) const { return (m_dir.path() / "dev" / name).string(); }
  void mountinfo(const std::string& text) { write(m_dir.path() / "mountinfo", text); }

  std::filesystem::path block() const { return m_dir.path() / "sys" / "block"; }
  DiskEnumerationOptions options() const {
    DiskEnumerationOptions o;
    o.sysfsRoot = (m_dir.path() / "sys").string();
    o.mountInfoPath = (m_dir.path() / "mountinfo").string();
    o.devRoot = (m_dir.path() / "dev").string();
    return o;
  }
  const TempDir& dir() const { return m_dir; }

 private:
  TempDir m_dir;
};

}  // namespace norvale::test
