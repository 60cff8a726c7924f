#pragma once
// Hand-made volume headers and partition tables for the storage tests: for the file systems that
// have no Debian tools (HFS, HFS Plus, the HFS wrapper, VxFS) and for broken tables.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/byte_reader.h"

namespace norvale::test {

inline void putBe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
inline void putBe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
inline void putText(std::uint8_t* p, const char* text) { std::memcpy(p, text, std::strlen(text)); }

// A FAT32 boot sector that the probe accepts: 512-byte sectors, 8 sectors per cluster, 32
// reserved sectors, two FATs of `fatSectors`, `totalSectors` in all.
inline void writeFat32BootSector(std::uint8_t* b, std::uint32_t totalSectors, std::uint32_t fatSectors = 16) {
  std::memset(b, 0, 512);
  b[0] = 0xEB, b[1] = 0x58, b[2] = 0x90;
  putText(b + 3, "MSWIN4.1");
  putLe16(b + 0x0B, 512);
  b[0x0D] = 8;
  putLe16(b + 0x0E, 32);
  b[0x10] = 2;
  b[0x15] = 0xF8;
  putLe32(b + 0x20, totalSectors);
  putLe32(b + 0x24, fatSectors);
  putLe32(b + 0x2C, 2);
  putText(b + 0x52, "FAT32   ");
  putLe16(b + 0x1FE, 0xAA55);
}

// One 16-byte MBR/EBR entry.
inline void writeMbrEntry(std::uint8_t* sector, int index, std::uint8_t type, std::uint32_t start, std::uint32_t count) {
  std::uint8_t* e = sector + 0x1BE + 16 * index;
  e[4] = type;
  putLe32(e + 8, start);
  putLe32(e + 12, count);
  putLe16(sector + 0x1FE, 0xAA55);
}

// A GPT header at LBA 1 with the given entry count and size; entries at LBA 2.
inline void writeGptHeader(std::vector<std::uint8_t>& disk, std::uint32_t entries, std::uint32_t entrySize) {
  std::uint8_t* h = disk.data() + 512;
  putText(h, "EFI PART");
  putLe64(h + 72, 2);
  putLe32(h + 80, entries);
  putLe32(h + 84, entrySize);
}
inline void writeGptEntry(std::vector<std::uint8_t>& disk, int index, std::uint64_t first, std::uint64_t last) {
  std::uint8_t* e = disk.data() + 1024 + 128 * index;
  e[0] = 0xA2;  // any non-zero type GUID
  putLe64(e + 32, first);
  putLe64(e + 40, last);
}

}  // namespace norvale::test
