#pragma once
// Builders for the recorders with an index table (brands 2, 3, 7, 9, 10, 11) and for the brand 17
// packet chain: volume tables, superblocks, index records, frames and packets, laid out in sparse
// images so that volumes of many gigabytes cost only the bytes written.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "parsers/volume_table_parser.h"
#include "storage/byte_source.h"
#include "support/scan_harness.h"

namespace norvale::test {

// A device of any size whose bytes are zero except where chunks were put.
class SparseImage {
 public:
  explicit SparseImage(std::uint64_t size) : m_size(size) {}
  void put(std::uint64_t offset, const std::vector<std::uint8_t>& bytes);
  std::vector<std::uint8_t> read(std::uint64_t offset, std::uint64_t length) const;
  std::uint64_t size() const { return m_size; }
  // The whole image in memory (small images only).
  std::vector<std::uint8_t> flat() const { return read(0, m_size); }

 private:
  std::uint64_t m_size;
  std::map<std::uint64_t, std::vector<std::uint8_t>> m_chunks;
};

// Reads a sparse image; refuses reads touching bad sectors and logs every request.
class SparseSource final : public ByteSource {
 public:
  SparseSource(std::shared_ptr<const SparseImage> image, std::set<std::uint64_t> badSectors,
               std::vector<std::pair<std::uint64_t, std::size_t>>* log)
      : m_image(std::move(image)), m_bad(std::move(badSectors)), m_log(log) {}
  Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> dst) override;
  Result<std::uint64_t> size() override { return m_image->size(); }
  bool stillThere() override { return !m_gone.load(); }
  // The source vanishes (a disk unplugged) at the first read that reaches this offset: reads
  // that reach it fail, and stillThere says so from then on. (Reads before it still succeed,
  // so that every thread count meets the same failures.)
  std::optional<std::uint64_t> vanishFrom;

 private:
  std::atomic<bool> m_gone{false};
  std::shared_ptr<const SparseImage> m_image;
  std::set<std::uint64_t> m_bad;
  std::vector<std::pair<std::uint64_t, std::size_t>>* m_log;
};

struct SourceScan {
  ScanOutcome outcome;
  std::vector<std::pair<std::uint64_t, std::size_t>> reads;  // every request the source saw
  std::vector<SegmentRecord> sorted;  // every segment found, in sorted order, files or not
};

// A whole-range scan request.
inline ScanRequest scanRequest(std::uint8_t brand, std::uint8_t mode, int stopAfterProgress = -1) {
  ScanRequest request;
  request.brand = brand;
  request.mode = mode;
  request.stopAfterProgress = stopAfterProgress;
  return request;
}

// Runs a whole task (scan, rebuild, file map) on a sparse image, without a task header reload;
// each file's bytes are read back from the image.
SourceScan scanSparse(const TempDir& dir, std::shared_ptr<const SparseImage> image, const ScanRequest& request,
                      std::set<std::uint64_t> badSectors = {}, std::optional<std::uint64_t> vanishFrom = {});

// ---- index-table structures ----

struct VolumeEntrySpec {
  std::uint64_t superblockSector = 34;
  std::uint64_t firstSector = 0;
  std::uint64_t sectorCount = 0;
};
// The 512-byte volume table of a brand, with entries in its four slots (missing ones zero).
std::vector<std::uint8_t> volumeTable(const VolumeTableBrand& brand, const std::vector<VolumeEntrySpec>& entries,
                                      bool signature = true);

struct SuperblockSpec {
  std::uint32_t magic = 0x55AA55AA;
  std::uint32_t unit = 512;
  std::uint32_t unitsPerBlock = 128;  // S = 64 KiB
  std::uint32_t indexStartUnits = 0x100;
  std::uint32_t dataStartUnits = 0x400;
  std::uint32_t records = 17;
};
std::vector<std::uint8_t> superblock(const SuperblockSpec& fields);

struct IndexRecordSpec {
  std::uint8_t kind = 1;
  std::uint8_t channelByte = 0;
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  std::uint32_t number = 0;  // written to all three record-number fields
};
// A 32-byte index record of the volume-table design.
std::vector<std::uint8_t> volumeIndexRecord(const IndexRecordSpec& fields);
// A 32-byte WFS index entry (the kind is not part of it; channelByte is the channel code).
std::vector<std::uint8_t> wfsIndexEntry(const IndexRecordSpec& fields);

// ---- frames and packets ----

struct FrameSpec {
  std::uint16_t type = 0x00FC;
  std::uint8_t channelByte = 0;  // channel - 1
  std::uint32_t time = 0;
  std::uint32_t length = 64;     // whole frame
  std::uint8_t fill = 0x11;      // payload bytes
};
// A frame of the brand: magic, header, payload of fill bytes, tail magic and repeated length.
std::vector<std::uint8_t> volumeFrame(const VolumeTableBrand& brand, const FrameSpec& fields);

// WFS packets: FC carries a time and a 16-byte header, FD and FA an 8-byte header.
std::vector<std::uint8_t> wfsKeyPacket(std::uint32_t time, std::uint32_t length, std::uint8_t fill = 0x22);
std::vector<std::uint8_t> wfsLongPacket(std::uint32_t length, std::uint8_t fill = 0x33);
std::vector<std::uint8_t> wfsShortPacket(std::uint16_t length, std::uint8_t fill = 0x44);
// The information packet recorders write between frames: an FA packet with type F9.
std::vector<std::uint8_t> wfsInfoPacket(std::uint16_t length, std::uint8_t fill = 0x55);

// A brand 17 packet: 128-byte header with both markers, then the payload (byte 4 marks a key).
std::vector<std::uint8_t> markerPacket(std::uint8_t channelByte, std::uint32_t time, std::uint32_t payload, bool key,
                                       std::uint8_t fill = 0x55);

void append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& bytes);
// PackedTime of a calendar time.
std::uint32_t packed(int year, int month, int day, int hour, int minute, int second);
// A PackedTime some seconds later on the same day.
std::uint32_t plusSeconds(std::uint32_t time, int seconds);
// The record quick mode makes of an index entry: a whole data block with no key offset.
SegmentRecord indexedBlock(std::uint32_t channel, std::uint32_t start, std::uint32_t end, std::uint64_t offset,
                           std::uint64_t size);
bool hasMessage(const std::vector<std::string>& messages, const std::string& text);

}  // namespace norvale::test
