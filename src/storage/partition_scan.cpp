#include "storage/partition_scan.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "base/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {
namespace {

constexpr std::uint64_t kS = kSectorSize;

// The MBR and every extended boot record: four 16-byte entries from byte 0x1BE.
namespace mbr {
constexpr std::size_t kReadBytes = 8192;     // the MBR read
constexpr std::size_t kEbrReadBytes = 4096;  // an extended boot record read
constexpr std::size_t kEntriesAt = 0x1BE;
constexpr std::size_t kEntryBytes = 16;
constexpr std::size_t kEntryCount = 4;
constexpr std::size_t kTypeAt = 4;  // within an entry
constexpr std::size_t kFirstLbaAt = 8;
constexpr std::size_t kSectorsAt = 12;
// Entry types the walk follows rather than probes.
constexpr std::uint8_t kExtended = 0x05;
constexpr std::uint8_t kExtendedLba = 0x0F;
constexpr std::uint8_t kGptProtective = 0xEE;
constexpr std::uint8_t kUnixWare = 0x63;
}  // namespace mbr

// The GPT header at LBA 1 and its entries from LBA 2. Only the common array of 128 entries of
// 128 bytes is read; a header that describes any other is not trusted.
namespace gpt {
constexpr std::uint64_t kHeaderAt = 1 * kS;
constexpr std::size_t kHeaderReadBytes = 4096;
constexpr std::size_t kEntryCountAt = 80;
constexpr std::size_t kEntrySizeAt = 84;
constexpr std::uint64_t kEntriesAt = 2 * kS;
constexpr std::uint32_t kEntryCount = 128;
constexpr std::uint32_t kEntryBytes = 128;
constexpr std::size_t kFirstLbaAt = 32;  // within an entry
constexpr std::size_t kLastLbaAt = 40;   // inclusive
}  // namespace gpt

// The UnixWare slice table at the first sector of a 0x63 partition: two magics, the bytes per
// unit of the slices, an origin added to every slice's first unit, then 16 slices of 12 bytes.
namespace unixware {
constexpr std::size_t kReadBytes = 8192;
constexpr std::size_t kMagicAt = 4;
constexpr std::uint32_t kMagic = 0xCA5E600D;
constexpr std::size_t kUnitAt = 0x24;
constexpr std::size_t kOriginAt = 0x28;
constexpr std::size_t kSecondMagicAt = 0x9C;
constexpr std::uint32_t kSecondMagic = 0x600DDEEE;
constexpr std::size_t kSlicesAt = 0xDC;
constexpr std::size_t kSliceBytes = 12;
constexpr std::size_t kSliceCount = 16;
constexpr std::size_t kFirstAt = 0;  // within a slice
constexpr std::size_t kSectorsAt = 4;
}  // namespace unixware

struct TableEntry {
  std::uint8_t type = 0;
  std::uint32_t start = 0;  // sectors
  std::uint32_t count = 0;  // sectors
};

// The k-th entry of an MBR or EBR; nothing when it does not lie inside the bytes read.
std::optional<TableEntry> tableEntry(const ByteReader& r, std::size_t k) {
  const std::size_t at = mbr::kEntriesAt + mbr::kEntryBytes * k;
  const auto type = r.u8(at + mbr::kTypeAt);
  const auto start = r.u32le(at + mbr::kFirstLbaAt);
  const auto count = r.u32le(at + mbr::kSectorsAt);
  if (!type || !start || !count) return std::nullopt;
  return TableEntry{*type, *start, *count};
}

bool isExtended(std::uint8_t type) { return type == mbr::kExtended || type == mbr::kExtendedLba; }

bool isIgnored(std::uint8_t type) {
  switch (type) {
    case 0xBF:  // Solaris
    case 0x82:  // Linux swap (and Solaris x86)
    case 0xA5:  // FreeBSD
    case 0xA6:  // OpenBSD
    case 0xA9:  // NetBSD
    case 0x8E:  // Linux LVM
      return true;
    default:
      return false;
  }
}

// sectors x 512, or nothing when the byte offset does not fit in 64 bits.
bool sectorsToBytes(std::uint64_t sectors, std::uint64_t& bytes) {
  if (sectors > UINT64_MAX / kS) return false;
  bytes = sectors * kS;
  return true;
}

class PartitionScanner {
 public:
  PartitionScanner(DeviceHandle& handle, DeviceRecord& record) : m_handle(handle), m_record(record) {
    m_limit = handle.size();
    if (m_limit == 0) m_limit = record.size;
    if (m_limit == 0) m_limit = UINT64_MAX;  // size unknown: the reads themselves will fail at the end
  }

  void run() {
    m_record.partitions.clear();
    std::vector<std::uint8_t> sector0(mbr::kReadBytes);
    if (!read(0, sector0)) return;  // no partitions at all
    const ByteReader table(sector0);
    for (std::size_t k = 0; k < mbr::kEntryCount; ++k) {
      const auto e = tableEntry(table, k);
      if (!e || e->type == 0 || e->count == 0) continue;
      if (isExtended(e->type)) {
        if (e->start != 0) walkChain(std::uint64_t{e->start} * kS, std::uint64_t{e->start} * kS);
      } else {
        handleEntry(e->type, e->start, e->count, 0);
      }
    }
    // A disk without a table that holds a file system from its first byte.
    probe(0, 0);
  }

 private:
  // Reads dst.size() bytes at offset into a zeroed buffer, cut short at the device's end. False
  // (and nothing read) when the offset lies at or past the end, or when the read fails.
  bool read(std::uint64_t offset, std::span<std::uint8_t> dst) {
    std::fill(dst.begin(), dst.end(), std::uint8_t{0});
    if (offset >= m_limit) return false;
    const std::uint64_t available = m_limit - offset;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(dst.size(), available));
    return m_handle.readAt(offset, dst.first(n));
  }

  // Extended chain at position p with chain base b: links are relative to b, logical
  // partitions relative to the EBR that lists them.
  void walkChain(std::uint64_t p, std::uint64_t base) {
    if (m_visited.size() >= kMaxExtendedRecords || !m_visited.insert(p).second) return;
    std::vector<std::uint8_t> ebr(mbr::kEbrReadBytes);
    if (!read(p, ebr)) return;
    const ByteReader table(ebr);
    for (std::size_t k = 0; k < mbr::kEntryCount; ++k) {
      const auto e = tableEntry(table, k);
      if (!e || e->type == 0 || e->count == 0) continue;
      if (isExtended(e->type)) {
        const std::uint64_t link = std::uint64_t{e->start} * kS;
        if (e->start != 0 && link <= UINT64_MAX - base) walkChain(base + link, base);
      } else {
        handleEntry(e->type, e->start, e->count, p);
      }
    }
  }

  void handleEntry(std::uint8_t type, std::uint32_t start, std::uint32_t count, std::uint64_t base) {
    if (type == mbr::kGptProtective) return walkGpt();
    if (isIgnored(type)) return;
    const std::uint64_t offset = std::uint64_t{start} * kS;
    if (offset > UINT64_MAX - base) return;
    if (type == mbr::kUnixWare) return walkUnixWare(base + offset);
    probe(base + offset, std::uint64_t{count} * kS);
  }

  void walkGpt() {
    // A device has one GPT: a second 0xEE entry (hybrid tables, crafted chains) would only list
    // the same partitions again.
    if (m_gptDone) return;
    m_gptDone = true;
    std::vector<std::uint8_t> header(gpt::kHeaderReadBytes);
    if (!read(gpt::kHeaderAt, header)) return;
    const ByteReader h(header);
    if (h.u32le(gpt::kEntryCountAt) != gpt::kEntryCount || h.u32le(gpt::kEntrySizeAt) != gpt::kEntryBytes) return;
    std::vector<std::uint8_t> entries(std::size_t{gpt::kEntryCount} * gpt::kEntryBytes);
    if (!read(gpt::kEntriesAt, entries)) return;
    const ByteReader array(entries);
    for (std::size_t i = 0; i < gpt::kEntryCount; ++i) {
      const std::size_t at = gpt::kEntryBytes * i;
      const auto firstField = array.u64le(at + gpt::kFirstLbaAt);
      const auto lastField = array.u64le(at + gpt::kLastLbaAt);
      if (!firstField || !lastField) continue;
      const std::uint64_t first = *firstField;
      const std::uint64_t last = *lastField;
      if (last <= first) continue;
      std::uint64_t offset = 0;
      if (!sectorsToBytes(first, offset)) continue;
      const std::uint64_t sectors = last - first == UINT64_MAX ? UINT64_MAX : last - first + 1;
      std::uint64_t size = 0;
      if (!sectorsToBytes(sectors, size)) size = UINT64_MAX;
      probe(offset, size);
    }
  }

  void walkUnixWare(std::uint64_t position) {
    std::vector<std::uint8_t> bytes(unixware::kReadBytes);
    if (!read(position, bytes)) return;
    const ByteReader t(bytes);
    if (t.u32le(unixware::kMagicAt) != unixware::kMagic || t.u32le(unixware::kSecondMagicAt) != unixware::kSecondMagic)
      return;
    const auto unitField = t.u32le(unixware::kUnitAt);
    const auto originField = t.u32le(unixware::kOriginAt);
    if (!unitField || !originField) return;
    const std::uint64_t unit = *unitField;
    const std::uint64_t origin = *originField;
    if (unit == 0) return;  // every slice would lie at 0 with size 0
    for (std::size_t k = 0; k < unixware::kSliceCount; ++k) {
      const std::size_t at = unixware::kSlicesAt + unixware::kSliceBytes * k;
      const auto firstField = t.u32le(at + unixware::kFirstAt);
      const auto sectorsField = t.u32le(at + unixware::kSectorsAt);
      if (!firstField || !sectorsField) continue;
      const std::uint64_t first = *firstField;
      const std::uint64_t sectors = *sectorsField;
      if (sectors == 0) continue;  // an empty slot, not a slice
      const std::uint64_t sum = origin + first;  // below 2^33
      if (sum > UINT64_MAX / unit) continue;
      // Device offsets as they stand: the base of the 0x63 partition is not added.
      probe(sum * unit, sectors * unit);
    }
  }

  void probe(std::uint64_t position, std::uint64_t size) {
    if (m_probeBuffer.empty()) m_probeBuffer.resize(kProbeReadSize);
    if (!read(position, m_probeBuffer)) return;
    PartitionRecord partition;
    partition.unitSize = kS;
    partition.start = position;
    partition.size = size;
    char name[32];
    std::snprintf(name, sizeof name, "Partition%d", m_running);
    partition.name = name;
    if (!identifyFileSystem(m_probeBuffer, partition)) return;
    m_record.partitions.push_back(std::move(partition));
    ++m_running;
  }

  DeviceHandle& m_handle;
  DeviceRecord& m_record;
  std::uint64_t m_limit = UINT64_MAX;
  int m_running = 0;
  bool m_gptDone = false;
  std::set<std::uint64_t> m_visited;
  std::vector<std::uint8_t> m_probeBuffer;
};

}  // namespace

void scanPartitions(DeviceHandle& handle, DeviceRecord& record) { PartitionScanner(handle, record).run(); }

Result<PartitionRecord> findPartition(DeviceHandle& handle, const DeviceRecord& record, int index) {
  const std::string source = record.name.empty() ? record.openPath() : record.name;
  if (index < 0)
    return fail(ErrorCode::InvalidArgument,
                "partition numbers count from 0; " + std::to_string(index) + " is not a partition number");
  const std::vector<PartitionRecord>* list = &record.partitions;
  DeviceRecord scanned;
  if (list->empty()) {
    if (!handle.isOpen()) return fail(ErrorCode::InvalidArgument, source + ": the device is not open");
    scanned = record;
    scanPartitions(handle, scanned);
    list = &scanned.partitions;
  }
  if (static_cast<std::size_t>(index) >= list->size()) {
    if (list->empty())
      return fail(ErrorCode::NotFound,
                  source + " has no partition with a recognised file system, so there is no partition " +
                      std::to_string(index));
    return fail(ErrorCode::NotFound, source + " has " + std::to_string(list->size()) + " listed partition" +
                                         (list->size() == 1 ? "" : "s") + " (0 to " +
                                         std::to_string(list->size() - 1) + "); there is no partition " +
                                         std::to_string(index));
  }
  return (*list)[static_cast<std::size_t>(index)];
}

}  // namespace norvale
