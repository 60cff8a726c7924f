#include "convert/entry_source.h"

#include <algorithm>

#include "task/result_store.h"

namespace norvale::convert {

namespace {
constexpr std::size_t kBlockBytes = 1 << 20;
constexpr std::uint64_t kRecordsPerRead = 65536;
}  // namespace

Result<std::unique_ptr<EntrySource>> EntrySource::open(TaskContext& task, const FileEntry& entry) {
  if (!task.store || !task.store->isOpen() || !task.deviceHandle.isOpen())
    return fail(ErrorCode::InvalidArgument, "no task is open");
  std::vector<SegmentRecord> records;
  for (std::uint64_t first = 0; first < entry.recordCount(); first += kRecordsPerRead) {
    auto part = task.store->readFileRecords(entry, first, kRecordsPerRead);
    if (!part) return std::unexpected(part.error());
    records.insert(records.end(), part->begin(), part->end());
  }
  return std::unique_ptr<EntrySource>(new EntrySource(task.deviceHandle, std::move(records)));
}

EntrySource::EntrySource(DeviceHandle& device, std::vector<SegmentRecord> records)
    : m_device(device), m_records(std::move(records)) {
  m_starts.reserve(m_records.size());
  for (const auto& r : m_records) {
    m_starts.push_back(m_size);
    m_size += r.size;
  }
}

std::uint64_t EntrySource::deviceOffset(std::uint64_t fileOffset) const {
  auto it = std::upper_bound(m_starts.begin(), m_starts.end(), fileOffset);
  if (it == m_starts.begin()) return fileOffset;
  const std::size_t r = static_cast<std::size_t>(it - m_starts.begin()) - 1;
  return m_records[r].deviceOffset + (fileOffset - m_starts[r]);
}

std::vector<EntrySource::Piece> EntrySource::pieces() const {
  std::vector<Piece> out;
  out.reserve(m_records.size());
  for (std::size_t i = 0; i < m_records.size(); ++i) out.push_back({m_starts[i], m_records[i].startTime});
  return out;
}

// The records of a file lie close together: reads go through aligned 1 MiB blocks of the
// device, and a block that fails is read again sector by sector so only bad sectors are lost.
void EntrySource::loadBlock(std::uint64_t blockStart) {
  m_blockStart = blockStart;
  m_block.assign(kBlockBytes, 0);
  m_badSectors.assign(kBlockBytes / 512, false);
  m_counted.assign(kBlockBytes / 512, false);
  const std::uint64_t deviceSize = m_device.size();
  if (blockStart >= deviceSize) return;
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockBytes, deviceSize - blockStart));
  if (m_device.readAt(blockStart, std::span(m_block.data(), n))) return;
  std::fill(m_block.begin(), m_block.end(), 0);
  for (std::size_t s = 0; s * 512 < n; ++s) {
    const std::size_t len = std::min<std::size_t>(512, n - s * 512);
    if (!m_device.readAt(blockStart + s * 512, std::span(m_block.data() + s * 512, len))) {
      std::fill_n(m_block.begin() + static_cast<std::ptrdiff_t>(s * 512), len, 0);
      m_badSectors[s] = true;
    }
  }
}

Result<std::size_t> EntrySource::readAt(std::uint64_t offset, std::span<std::uint8_t> dst) {
  if (offset >= m_size) return 0;
  const std::size_t total = static_cast<std::size_t>(std::min<std::uint64_t>(dst.size(), m_size - offset));
  std::size_t done = 0;
  auto it = std::upper_bound(m_starts.begin(), m_starts.end(), offset);
  std::size_t r = static_cast<std::size_t>(it - m_starts.begin()) - 1;
  while (done < total && r < m_records.size()) {
    const SegmentRecord& record = m_records[r];
    const std::uint64_t inRecord = offset + done - m_starts[r];
    if (inRecord >= record.size) {
      ++r;
      continue;
    }
    std::uint64_t device = record.deviceOffset + inRecord;
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(total - done, record.size - inRecord));
    while (want > 0) {
      const std::uint64_t blockStart = device / kBlockBytes * kBlockBytes;
      if (blockStart != m_blockStart) loadBlock(blockStart);
      const std::size_t at = static_cast<std::size_t>(device - blockStart);
      const std::size_t n = std::min(want, kBlockBytes - at);
      std::copy_n(m_block.begin() + static_cast<std::ptrdiff_t>(at), n, dst.begin() + static_cast<std::ptrdiff_t>(done));
      for (std::size_t s = at / 512; s <= (at + n - 1) / 512; ++s) {
        if (!m_badSectors[s] || m_counted[s]) continue;
        m_counted[s] = true;
        m_unreadable += 512;
      }
      device += n;
      done += n;
      want -= n;
    }
  }
  return done;
}

}  // namespace norvale::convert
