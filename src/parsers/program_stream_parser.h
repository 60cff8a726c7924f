#pragma once
// Brand 1: recorders that format the whole disk into large data blocks, each ending in an index
// area listing the recordings of the block. Quick mode reads the master header and the index
// areas (times in UTC seconds); deep mode carves the program-stream packets and joins them into
// runs timed by the packed time in their stream maps. The two modes' records hold different
// time encodings, so the time convention follows the task's parse mode.
#include <optional>
#include <utility>
#include <vector>

#include "parsers/brand_parser.h"
#include "parsers/run_accumulator.h"

namespace norvale {

namespace program_stream {
// Master header at device byte 0.
inline constexpr std::size_t kHeaderBytes = 1024;
inline constexpr std::size_t kSignatureAt = 0x210;
inline constexpr std::size_t kFirstBlockAt = 0x278;
inline constexpr std::size_t kDataAreaAt = 0x280;
inline constexpr std::size_t kBlockSizeAt = 0x288;
inline constexpr std::uint64_t kMaxFirstBlock = 0x100000000;
inline constexpr std::uint64_t kMinBlockSize = 0x6400000;
// The layout taken when the header is missing or implausible.
inline constexpr std::uint64_t kFixedFirstBlock = 80076800;
inline constexpr std::uint64_t kFixedBlockSize = 0x40000000;
// Index area: 2048 entries of 512 bytes at block start + 1 GiB - 1 MiB, whatever the block size.
inline constexpr std::uint64_t kIndexAt = 0x3FF00000;
inline constexpr std::size_t kIndexBytes = 0x100000;
inline constexpr std::size_t kEntryBytes = 512;
inline constexpr std::size_t kEntryChannelAt = 0x0D;
inline constexpr std::size_t kEntryEndTimeAt = 0x30;
inline constexpr std::size_t kEntryStartTimeAt = 0x38;
inline constexpr std::size_t kEntryStartAt = 0x48;
inline constexpr std::size_t kEntryEndAt = 0x4C;
inline constexpr std::uint32_t kMinRecording = 0x80000;
}  // namespace program_stream

// The packed time embedded big-endian from bit 2 of byte 16 of a stream map, when plausible
// (year 2000 + offset in the window, month <= 12, hour <= 24, minute and second <= 60).
std::optional<std::uint32_t> streamMapTime(const std::uint8_t* map, const YearWindow& years);
// Is a UTC time plausible for an index entry (its year in the window)?
bool plausibleIndexTime(std::uint32_t epochSeconds, const YearWindow& years);

class ProgramStreamDecoder final : public PacketDecoder {
 public:
  std::optional<Packet> decode(const PacketWindow& window, DeviceHandle& device) const override;
  std::size_t nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const override;
};
const PacketDecoder& programStreamDecoder();

class ProgramStreamParser final : public BrandParser {
 public:
  ProgramStreamParser() : BrandParser(programStreamDecoder()) {}
  // Quick mode: UTC seconds, every key segment a file of its own; deep mode: PackedTime.
  static TimeConvention timeConvention(std::uint8_t parseMode);
  static constexpr const char* kFileExtension = "mpg";

 protected:
  void scanQuick() override;
  void scanDeep() override;
  void clearLists() override { m_taken.clear(); }
  void afterBlock(std::uint64_t next) override { job().endSector = next / 512; }

 private:
  void walkIndex(const std::uint8_t* area, std::uint64_t blockStart);
  bool collides(std::uint32_t start, std::uint32_t end) const;

  // (start, end) ranges already taken from the current block's index.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> m_taken;
};

}  // namespace norvale
