#pragma once
// Recorders that keep a superblock and an index table of 32-byte records, record k describing
// data block k of a data area of equal-sized blocks. The superblock checks and the index walk
// are shared; each design decodes its own records.
#include <cstdint>
#include <optional>
#include <span>

#include "parsers/brand_parser.h"

namespace norvale {

namespace index_table {
inline constexpr std::size_t kSuperblockBytes = 512;
inline constexpr std::size_t kUnitAt = 0x2C;           // allocation unit U in bytes
inline constexpr std::size_t kUnitsPerBlockAt = 0x30;  // units per data block
inline constexpr std::size_t kIndexStartAt = 0x44;     // in units from the volume start
inline constexpr std::size_t kDataStartAt = 0x48;      // in units from the volume start
inline constexpr std::size_t kRecordCountAt = 0x4C;
inline constexpr std::size_t kMagicAt = 0x148;
inline constexpr std::size_t kRecordBytes = 32;
inline constexpr std::uint64_t kMaxBlockSize = 0xA00000;    // 10 MiB
inline constexpr std::uint64_t kMaxIndexBytes = 0x1F400000;  // 16 384 000 records
}  // namespace index_table

// Where a volume's index and data lie, from its superblock. All byte offsets on the device.
struct IndexTableLayout {
  std::uint64_t indexStart = 0;
  std::uint64_t indexLength = 0;  // records x 32 rounded up to whole sectors
  std::uint64_t dataStart = 0;
  std::uint64_t blockSize = 0;    // S = U x units per block
  std::uint32_t recordCount = 0;  // N

  std::uint64_t indexEnd() const { return indexStart + indexLength; }
};

// Checks a superblock sector (at least 512 bytes) and derives the layout; empty when the magic
// differs or a field is out of bounds (S = 0 or above 10 MiB, U not whole sectors, N = 0 or
// N x 32 above 0x1F400000).
std::optional<IndexTableLayout> readIndexSuperblock(std::span<const std::uint8_t> sector, std::uint64_t volumeStart,
                                                    std::uint32_t magic);

// What a used index record says.
struct IndexEntry {
  std::uint32_t channel = 0;
  std::uint32_t startTime = 0;  // PackedTime
  std::uint32_t endTime = 0;
};

class IndexTableParser : public BrandParser {
 public:
  using BrandParser::BrandParser;

 protected:
  // The record's entry when it is in use; recordCount is N of its superblock.
  virtual std::optional<IndexEntry> decodeIndexRecord(const std::uint8_t* record, std::uint32_t recordCount) const = 0;

  // Reads the index in 1 MiB blocks and adds one record per used entry covering its whole data
  // block. An unreadable block skips its records but keeps the numbering aligned with the data
  // blocks. Sets the end sector to the device size when not cancelled.
  void walkIndex(const IndexTableLayout& layout);
  // Size of the open source, read once per run step.
  std::uint64_t deviceSize() { return device().size(); }
};

}  // namespace norvale
