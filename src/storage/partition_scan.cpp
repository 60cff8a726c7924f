#include "storage/partition_scan.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <span>
#include <vector>

#include "storage/byte_reader.h"
#include "storage/fs_probe.h"

namespace norvale {
namespace {

constexpr std::uint64_t kS = kSectorSize;

bool isExtended(std::uint8_t type) { return type == 0x05 || type == 0x0F; }

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
    std::vector<std::uint8_t> mbr(8192);
    if (!read(0, mbr)) return;  // no partitions at all
    for (int k = 0; k < 4; ++k) {
      const std::uint8_t* e = mbr.data() + 0x1BE + 16 * k;
      const std::uint8_t type = e[4];
      const std::uint32_t start = le32(e + 8);
      const std::uint32_t count = le32(e + 12);
      if (type == 0 || count == 0) continue;
      if (isExtended(type)) {
        if (start != 0) walkChain(std::uint64_t{start} * kS, std::uint64_t{start} * kS);
      } else {
        handleEntry(type, start, count, 0);
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
    std::vector<std::uint8_t> ebr(4096);
    if (!read(p, ebr)) return;
    for (int k = 0; k < 4; ++k) {
      const std::uint8_t* e = ebr.data() + 0x1BE + 16 * k;
      const std::uint8_t type = e[4];
      const std::uint32_t start = le32(e + 8);
      const std::uint32_t count = le32(e + 12);
      if (type == 0 || count == 0) continue;
      if (isExtended(type)) {
        if (start != 0 && std::uint64_t{start} * kS <= UINT64_MAX - base) walkChain(base + std::uint64_t{start} * kS, base);
      } else {
        handleEntry(type, start, count, p);
      }
    }
  }

  void handleEntry(std::uint8_t type, std::uint32_t start, std::uint32_t count, std::uint64_t base) {
    if (type == 0xEE) return walkGpt();
    if (isIgnored(type)) return;
    const std::uint64_t offset = std::uint64_t{start} * kS;
    if (offset > UINT64_MAX - base) return;
    if (type == 0x63) return walkUnixWare(base + offset);
    probe(base + offset, std::uint64_t{count} * kS);
  }

  void walkGpt() {
    // A device has one GPT: a second 0xEE entry (hybrid tables, crafted chains) would only list
    // the same partitions again.
    if (m_gptDone) return;
    m_gptDone = true;
    std::vector<std::uint8_t> header(4096);
    if (!read(kS, header)) return;
    if (le32(header.data() + 80) != 128 || le32(header.data() + 84) != 128) return;
    std::vector<std::uint8_t> entries(16384);
    if (!read(2 * kS, entries)) return;
    for (int i = 0; i < 128; ++i) {
      const std::uint8_t* e = entries.data() + 128 * i;
      const std::uint64_t first = le64(e + 32);
      const std::uint64_t last = le64(e + 40);
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
    std::vector<std::uint8_t> table(8192);
    if (!read(position, table)) return;
    const std::uint8_t* t = table.data();
    if (le32(t + 4) != 0xCA5E600D || le32(t + 0x9C) != 0x600DDEEE) return;
    const std::uint64_t unit = le32(t + 0x24);
    const std::uint64_t origin = le32(t + 0x28);
    if (unit == 0) return;  // every slice would lie at 0 with size 0
    for (int k = 0; k < 16; ++k) {
      const std::uint64_t first = le32(t + 0xDC + 12 * k);
      const std::uint64_t sectors = le32(t + 0xE0 + 12 * k);
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
