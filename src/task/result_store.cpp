#include "task/result_store.h"

#include <algorithm>
#include <cstring>

#include "base/byte_reader.h"
#include "storage/memory_hint.h"

namespace norvale {

std::string taskFilePath(const std::string& folder, TaskFileId id) {
  static constexpr const char* kNames[] = {"Attr001.map", "Attr002.map", "Attr003.map", "Attr004.map"};
  std::string path = folder;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  return path + kNames[static_cast<int>(id)];
}

Result<void> ResultStore::openFiles(const std::string& folder, TaskFileMode mode) {
  close();
  for (int i = 0; i < 4; ++i) {
    m_files[i].setFaults(m_probe);
    auto opened = m_files[i].open(taskFilePath(folder, static_cast<TaskFileId>(i)), mode);
    if (!opened) {
      close();
      return opened;
    }
  }
  if (mode == TaskFileMode::Create) m_rawWriteOffset = kTaskHeaderSize;
  return {};
}

void ResultStore::close() {
  for (auto& f : m_files) f.close();
}

bool ResultStore::isOpen() const {
  return std::all_of(m_files.begin(), m_files.end(), [](const TaskFile& f) { return f.isOpen(); });
}

void ResultStore::reset() {
  for (auto* bytes : {&m_pendingRecords, &m_arrivals, &m_staging, &m_group, &m_blocks}) {
    bytes->clear();
    bytes->shrink_to_fit();
  }
  m_pendingKeys.clear();
  m_pendingKeys.shrink_to_fit();
  m_held.reset();
  m_order.clear();
  m_order.shrink_to_fit();
  m_orderScratch.clear();
  m_orderScratch.shrink_to_fit();
  m_index.clear();
  m_rawWriteOffset = kTaskHeaderSize;
  m_sortedWriteOffset = 0;
  close();
}

Result<std::uint64_t> ResultStore::fileSize(TaskFileId id) const { return file(id).size(); }

Result<void> ResultStore::writeHeader(const TaskHeader& header) {
  return file(TaskFileId::RawSegments).writeAt(0, header.encode());
}

// Joins sorted records into file entries, one record at a time in file order; the open entry
// carries over from one call to the next.
class EntryGrouper {
 public:
  EntryGrouper(GroupingVariant variant, const TimeConvention& convention) : m_variant(variant), m_convention(convention) {}

  void add(const SegmentRecord& r, std::uint64_t recordOffset) {
    const bool isOpen = m_open.size != 0;
    const bool sameChannel = r.channel == m_open.channel;
    if (r.kind == SegmentKind::Key) {
      bool joins = isOpen && m_open.size < kFileEntrySizeLimit;
      if (m_variant != GroupingVariant::WithoutChannel) joins = joins && sameChannel;
      if (m_variant == GroupingVariant::JoinRule)
        joins = joins && m_convention.joins(m_open.startTime, r.endTime);
      if (joins) {
        extend(r);
      } else {
        if (isOpen) emit();
        m_open = FileEntry{static_cast<std::uint8_t>(r.channel), r.startTime, r.endTime, r.size, recordOffset,
                           kSegmentRecordSize};
      }
    } else if (isOpen) {
      if (sameChannel || m_variant == GroupingVariant::WithoutChannel)
        extend(r);
      else
        emit();
    }
  }
  // The entry still open, after the last record.
  void finish() {
    if (m_open.size != 0) emit();
  }
  std::vector<std::uint8_t>& entries() { return m_entries; }

 private:
  void emit() {
    m_entries.resize(m_entries.size() + kFileEntrySize);
    m_open.write(&m_entries[m_entries.size() - kFileEntrySize]);
    m_open = FileEntry{};
  }
  void extend(const SegmentRecord& r) {
    m_open.endTime = std::max(m_open.endTime, r.endTime);
    m_open.size += r.size;
    m_open.recordBytes += kSegmentRecordSize;
  }

  GroupingVariant m_variant;
  const TimeConvention& m_convention;
  FileEntry m_open{};
  std::vector<std::uint8_t> m_entries;
};

Result<void> ResultStore::rebuild(const RebuildPlan& plan, const TimeConvention& convention) {
  for (const RebuildStep* at = plan.begin(); at != plan.end(); ++at) {
    const RebuildStep step = *at;
    Result<void> done;
    // A sort pass into an empty sorted file followed by a grouping pass: both in one go.
    if (step == RebuildStep::SortPass && at + 1 != plan.end() && fileSize(TaskFileId::SortedSegments).value_or(1) == 0) {
      const RebuildStep next = *(at + 1);
      const auto variant = next == RebuildStep::GroupByJoinRule        ? std::optional(GroupingVariant::JoinRule)
                           : next == RebuildStep::GroupWithoutJoinRule ? std::optional(GroupingVariant::WithoutJoinRule)
                           : next == RebuildStep::GroupWithoutChannel  ? std::optional(GroupingVariant::WithoutChannel)
                                                                       : std::nullopt;
      if (variant) {
        EntryGrouper grouper(*variant, convention);
        if (auto r = sortPass(&grouper); !r) return r;
        ++at;
        continue;
      }
    }
    switch (step) {
      case RebuildStep::ReadIndex: done = readIndex(); break;
      case RebuildStep::SortPass: done = sortPass(); break;
      case RebuildStep::UnsortedPass: done = unsortedPass(); break;
      case RebuildStep::GroupByJoinRule: done = groupingPass(GroupingVariant::JoinRule, convention); break;
      case RebuildStep::GroupWithoutJoinRule: done = groupingPass(GroupingVariant::WithoutJoinRule, convention); break;
      case RebuildStep::GroupWithoutChannel: done = groupingPass(GroupingVariant::WithoutChannel, convention); break;
    }
    if (!done) return done;
  }
  return {};
}

Result<void> ResultStore::rebuildFound(const RebuildPlan& plan, const TimeConvention& convention,
                                       std::uint64_t rawLimit) {
  const bool fromIndex = plan.begin() != plan.end() && *plan.begin() == RebuildStep::ReadIndex;
  if (fromIndex) {
    // A rebuild that died half-way may have left sorted records: they are made again.
    if (auto r = file(TaskFileId::SortedSegments).truncate(0); !r) return r;
    m_sortedWriteOffset = 0;
    m_index.clear();
  }
  if (auto r = file(TaskFileId::FileEntries).truncate(0); !r) return r;
  // The index comes from the folder as a crash left it: no run is read past the raw file's
  // end, whatever lengths and offsets it names.
  auto rawSize = file(TaskFileId::RawSegments).size();
  if (!rawSize) return std::unexpected(rawSize.error());
  m_rawLimit = std::min(rawLimit, *rawSize);
  auto done = rebuild(plan, convention);
  m_rawLimit = UINT64_MAX;
  return done;
}

namespace {
// Records staged before a write: large sequential writes, a buffer that fits the cache.
constexpr std::size_t kStagedRecords = 1 << 17;
constexpr std::size_t kStagingBytes = kStagedRecords * kSegmentRecordSize;
// The grouping pass reads the sorted file in pieces of whole records; the entries it makes do
// not depend on the piece size, since the open entry carries over.
constexpr std::size_t kGroupingReadBytes = kStagingBytes;
using segment_layout::kStartTimeAt;

// Keys of one flush and the slot of each: open addressing, grown at half load.
class KeySlots {
 public:
  std::uint32_t slot(std::uint64_t key) {
    if (m_lastValid && key == m_lastKey) return m_lastSlot;
    if ((m_keys.size() + 1) * 2 > m_table.size()) grow();
    std::size_t at = hash(key) & (m_table.size() - 1);
    while (m_table[at] != kEmpty && m_keys[m_table[at]] != key) at = (at + 1) & (m_table.size() - 1);
    if (m_table[at] == kEmpty) {
      m_table[at] = static_cast<std::uint32_t>(m_keys.size());
      m_keys.push_back(key);
    }
    m_lastKey = key;
    m_lastSlot = m_table[at];
    m_lastValid = true;
    return m_lastSlot;
  }
  const std::vector<std::uint64_t>& keys() const { return m_keys; }

 private:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
  static std::size_t hash(std::uint64_t key) { return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 20); }
  void grow() {
    m_table.assign(std::max<std::size_t>(m_table.size() * 2, 256), kEmpty);
    for (std::uint32_t k = 0; k < m_keys.size(); ++k) {
      std::size_t at = hash(m_keys[k]) & (m_table.size() - 1);
      while (m_table[at] != kEmpty) at = (at + 1) & (m_table.size() - 1);
      m_table[at] = k;
    }
  }
  std::vector<std::uint32_t> m_table;
  std::vector<std::uint64_t> m_keys;
  std::uint64_t m_lastKey = 0;
  std::uint32_t m_lastSlot = 0;
  bool m_lastValid = false;
};
}  // namespace

void ResultStore::releaseHeld() {
  if (!m_held) return;
  m_held.reset();
  m_pendingKeys.clear();
  m_pendingRecords.clear();
}

void ResultStore::reservePending() {
  // Room for a whole flush from the start: growing by doubling would copy it several times. The
  // store is flushed after a block or a chunk is taken in, so it holds up to that many more.
  constexpr std::size_t kRoom = kFlushThreshold + 1 + (1 << 18);
  m_pendingKeys.reserve(kRoom);
  m_pendingRecords.reserve(kRoom * kSegmentRecordSize);
  preferLargePages(m_pendingKeys.data(), m_pendingKeys.capacity() * sizeof(std::uint64_t));
  preferLargePages(m_pendingRecords.data(), m_pendingRecords.capacity());
}

void ResultStore::addSegment(const SegmentRecord& record, std::uint64_t key) {
  if (m_pendingKeys.capacity() == 0) reservePending();
  m_pendingKeys.push_back(key);
  const std::size_t at = m_pendingRecords.size();
  m_pendingRecords.resize(at + kSegmentRecordSize);
  record.write(&m_pendingRecords[at]);
}

void ResultStore::addSerialized(std::span<const std::uint8_t> records, std::span<const std::uint64_t> keys) {
  if (m_pendingKeys.capacity() == 0) reservePending();
  m_pendingKeys.insert(m_pendingKeys.end(), keys.begin(), keys.end());
  m_pendingRecords.insert(m_pendingRecords.end(), records.begin(), records.begin() + static_cast<std::ptrdiff_t>(keys.size() * kSegmentRecordSize));
}

void ResultStore::appendSegment(const SegmentRecord& record) {
  const std::size_t at = m_arrivals.size();
  m_arrivals.resize(at + kSegmentRecordSize);
  record.write(&m_arrivals[at]);
}

Result<void> ResultStore::appendRecords(TaskFileId id, std::vector<std::uint8_t>& plain, std::size_t recordSize) {
  if (plain.empty()) return {};
  m_cipher.encipher(plain, recordSize);
  return file(id).append(plain);
}

Result<void> ResultStore::readRecords(TaskFileId id, std::uint64_t offset, std::vector<std::uint8_t>& out,
                                      std::size_t recordSize) {
  auto got = file(id).readAt(offset, out);
  if (!got) return std::unexpected(got.error());
  out.resize(*got / recordSize * recordSize);  // only whole records are deciphered
  m_cipher.decipher(out, recordSize);
  return {};
}

Result<std::size_t> ResultStore::readRun(const SortRun& run, std::vector<std::uint8_t>& out) {
  if (!run.held) return readWholeRecords(TaskFileId::RawSegments, run.record.offset, run.record.length, out);
  // From memory, enciphered as the raw file would hold it.
  const std::size_t at = out.size();
  const std::size_t first = static_cast<std::size_t>(run.record.offset / kSegmentRecordSize);
  const std::size_t n = static_cast<std::size_t>(run.record.length / kSegmentRecordSize);
  out.resize(at + n * kSegmentRecordSize);
  for (std::size_t j = 0; j < n; ++j)
    std::memcpy(&out[at + j * kSegmentRecordSize],
                &m_pendingRecords[std::size_t{m_held->order[first + j]} * kSegmentRecordSize], kSegmentRecordSize);
  m_cipher.encipher(std::span(out.data() + at, n * kSegmentRecordSize), kSegmentRecordSize);
  return n * kSegmentRecordSize;
}

Result<std::size_t> ResultStore::readWholeRecords(TaskFileId id, std::uint64_t offset, std::uint64_t length,
                                                  std::vector<std::uint8_t>& out) {
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(length));
  auto got = file(id).readAt(offset, std::span(out.data() + at, static_cast<std::size_t>(length)));
  if (!got) {
    out.resize(at);
    return std::unexpected(got.error());
  }
  const std::size_t whole = *got / kSegmentRecordSize * kSegmentRecordSize;
  out.resize(at + whole);
  return whole;
}

Result<void> ResultStore::appendSorted(std::span<const std::uint8_t> enciphered) {
  if (m_staging.size() + enciphered.size() > kStagingBytes)
    if (auto r = flushSorted(); !r) return r;
  if (enciphered.size() >= kStagingBytes) {
    if (auto r = file(TaskFileId::SortedSegments).writeAt(m_sortedAt, enciphered); !r) return r;
    m_sortedAt += enciphered.size();
  } else {
    m_staging.insert(m_staging.end(), enciphered.begin(), enciphered.end());
  }
  m_sortedWriteOffset += enciphered.size();
  return {};
}

Result<void> ResultStore::flushSorted() {
  if (m_staging.empty()) return {};
  auto written = file(TaskFileId::SortedSegments).writeAt(m_sortedAt, m_staging);
  m_sortedAt += m_staging.size();
  m_staging.clear();
  return written;
}

// A counting pass by key gives the stable order of a comparison sort by key in linear time:
// each key's records keep their arrival order. The records are then gathered in that order a
// piece at a time, enciphered and written in large sequential writes.
void ResultStore::orderPending(std::uint64_t base, std::vector<IndexRecord>& runs) {
  const std::size_t n = m_pendingKeys.size();
  KeySlots slots;
  std::vector<std::uint32_t> count;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t slot = slots.slot(m_pendingKeys[i]);
    if (slot == count.size()) count.push_back(0);
    ++count[slot];
  }
  const std::vector<std::uint64_t>& keys = slots.keys();
  std::vector<std::uint32_t> byKey(keys.size());
  for (std::uint32_t k = 0; k < byKey.size(); ++k) byKey[k] = k;
  std::sort(byKey.begin(), byKey.end(), [&](std::uint32_t a, std::uint32_t b) { return keys[a] < keys[b]; });
  std::vector<std::uint32_t> next(keys.size());
  runs.clear();
  std::uint32_t first = 0;
  for (const std::uint32_t slot : byKey) {
    next[slot] = first;
    runs.push_back(IndexRecord{keys[slot], base + std::uint64_t{first} * kSegmentRecordSize,
                               std::uint64_t{count[slot]} * kSegmentRecordSize});
    first += count[slot];
  }
  m_order.resize(n);
  for (std::size_t i = 0; i < n; ++i) m_order[next[slots.slot(m_pendingKeys[i])]++] = static_cast<std::uint32_t>(i);
}

Result<void> ResultStore::flushPending() {
  const std::size_t n = m_pendingKeys.size();
  m_held.reset();  // held records go out as this flush
  if (n == 0) return {};
  std::vector<IndexRecord> runs;
  orderPending(m_rawWriteOffset, runs);
  std::vector<std::uint8_t> index(runs.size() * kIndexRecordSize);
  for (std::size_t r = 0; r < runs.size(); ++r) runs[r].write(&index[r * kIndexRecordSize]);

  if (auto r = appendRecords(TaskFileId::Index, index, kIndexRecordSize); !r) return r;
  TaskFile& raw = file(TaskFileId::RawSegments);
  for (std::size_t done = 0; done < n;) {
    const std::size_t piece = std::min(kStagedRecords, n - done);
    stageInOrder(m_pendingRecords, done, piece, m_staging);
    if (auto r = raw.writeAt(m_rawWriteOffset + done * kSegmentRecordSize, m_staging); !r) {
      m_staging.clear();
      return r;
    }
    done += piece;
  }
  m_staging.clear();
  m_rawWriteOffset += n * kSegmentRecordSize;
  m_pendingKeys.clear();
  m_pendingRecords.clear();
  return {};
}

// The scan's last batch of pending records is ordered by key and kept in memory; the sort pass
// takes it as the last flush's runs, which it is. The raw file (cut back to its header once the
// files are rebuilt) never holds it.
Result<void> ResultStore::holdPending() {
  if (m_held) return {};
  if (m_pendingKeys.empty()) return {};
  HeldFlush held;
  orderPending(0, held.runs);
  held.order.swap(m_order);  // the sort pass orders groups in m_order
  m_held = std::move(held);
  return {};
}

void ResultStore::stageInOrder(const std::vector<std::uint8_t>& plain, std::size_t from, std::size_t count,
                               std::vector<std::uint8_t>& out) {
  out.resize(count * kSegmentRecordSize);
  for (std::size_t k = 0; k < count; ++k)
    std::memcpy(&out[k * kSegmentRecordSize], &plain[std::size_t{m_order[from + k]} * kSegmentRecordSize],
                kSegmentRecordSize);
  m_cipher.encipher(out, kSegmentRecordSize);
}

Result<void> ResultStore::readIndex() {
  auto size = file(TaskFileId::Index).size();
  if (!size) return std::unexpected(size.error());
  if (m_held) {
    for (const IndexRecord& run : m_held->runs) m_index.push_back(SortRun{run, true});
    m_held->runs.clear();
  }
  auto byKey = [](const SortRun& a, const SortRun& b) { return a.record.key < b.record.key; };
  if (*size == 0) {
    std::stable_sort(m_index.begin(), m_index.end(), byKey);
    return {};
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*size));
  if (auto r = readRecords(TaskFileId::Index, 0, bytes, kIndexRecordSize); !r) return r;
  std::vector<SortRun> read;
  for (std::size_t at = 0; at + kIndexRecordSize <= bytes.size(); at += kIndexRecordSize) {
    IndexRecord run = IndexRecord::read(&bytes[at]);
    // Runs of an unfinished scan past what it made durable are not read; one that crosses the
    // limit keeps its whole records before it.
    if (run.offset >= m_rawLimit) continue;
    run.length = std::min(run.length, (m_rawLimit - run.offset) / kSegmentRecordSize * kSegmentRecordSize);
    read.push_back(SortRun{run, false});
  }
  // The held runs come last among equal keys, as a last flush's would.
  auto held = std::find_if(m_index.begin(), m_index.end(), [](const SortRun& r) { return r.held; });
  m_index.insert(held, read.begin(), read.end());
  std::stable_sort(m_index.begin(), m_index.end(), byKey);
  return {};
}

void ResultStore::orderByStartTime(const std::vector<std::uint8_t>& plain) {
  // Radix passes by byte, least significant first: each pass is stable, so records of equal
  // times keep their order of arrival, as in the sort map.
  const std::size_t n = plain.size() / kSegmentRecordSize;
  m_order.resize(n);
  m_orderScratch.resize(n);
  for (std::size_t i = 0; i < n; ++i) m_order[i] = static_cast<std::uint32_t>(i);
  auto timeOf = [&](std::uint32_t i) { return le32(&plain[std::size_t{i} * kSegmentRecordSize + kStartTimeAt]); };
  for (int shift = 0; shift < 32; shift += 8) {
    std::size_t counts[257] = {};
    for (std::size_t i = 0; i < n; ++i) ++counts[((timeOf(m_order[i]) >> shift) & 0xFF) + 1];
    if (counts[((timeOf(m_order[0]) >> shift) & 0xFF) + 1] == n) continue;  // one value: order kept
    for (int b = 0; b < 256; ++b) counts[b + 1] += counts[b];
    for (std::size_t i = 0; i < n; ++i) m_orderScratch[counts[(timeOf(m_order[i]) >> shift) & 0xFF]++] = m_order[i];
    m_order.swap(m_orderScratch);
  }
}

Result<void> ResultStore::sortPass() { return sortPass(nullptr); }

// With a grouper, each record is also joined into file entries as it is written, in the order
// and at the offset the grouping pass would read it: the sorted file is not read back.
Result<void> ResultStore::sortPass(EntryGrouper* grouper) {
  if (m_index.empty()) return {};
  auto sortedSize = file(TaskFileId::SortedSegments).size();
  if (!sortedSize) return std::unexpected(sortedSize.error());
  m_sortedAt = *sortedSize;
  std::uint64_t written = 0;  // by this pass: the offset of the next record
  auto group = [&](const std::uint8_t* plain) -> Result<void> {
    if (written == 0)  // the grouping pass empties the entry file once there are records
      if (auto r = file(TaskFileId::FileEntries).truncate(0); !r) return r;
    grouper->add(SegmentRecord::read(plain), written);
    written += kSegmentRecordSize;
    if (grouper->entries().size() < kStagingBytes) return {};
    auto r = appendRecords(TaskFileId::FileEntries, grouper->entries(), kFileEntrySize);
    grouper->entries().clear();
    return r;
  };
  for (std::size_t i = 0; i < m_index.size();) {
    // One key's runs, read whole and in index order.
    m_group.clear();
    std::size_t j = i;
    for (; j < m_index.size() && m_index[j].record.key == m_index[i].record.key; ++j)
      if (auto r = readRun(m_index[j], m_group); !r)
        return std::unexpected(r.error());
    i = j;
    const std::size_t n = m_group.size() / kSegmentRecordSize;
    if (n == 0) continue;
    // The start times lie in each record's first cipher block: when they are in order already,
    // the records go out as read, unchanged (deciphered and enciphered again they would be).
    m_cipher.decipherFirstBlocks(m_group, kSegmentRecordSize, m_blocks);
    bool inOrder = true;
    for (std::size_t k = 1; k < n && inOrder; ++k)
      inOrder = le32(&m_blocks[k * 16 + kStartTimeAt]) >= le32(&m_blocks[(k - 1) * 16 + kStartTimeAt]);
    if (inOrder) {
      if (auto r = appendSorted(m_group); !r) return r;
      if (grouper) {
        m_plain.assign(m_group.begin(), m_group.end());
        m_cipher.decipher(m_plain, kSegmentRecordSize);
        for (std::size_t k = 0; k < n; ++k)
          if (auto r = group(&m_plain[k * kSegmentRecordSize]); !r) return r;
      }
      continue;
    }
    m_cipher.decipher(m_group, kSegmentRecordSize);
    orderByStartTime(m_group);
    if (grouper)
      for (std::size_t k = 0; k < n; ++k)
        if (auto r = group(&m_group[std::size_t{m_order[k]} * kSegmentRecordSize]); !r) return r;
    for (std::size_t done = 0; done < n;) {
      const std::size_t piece = std::min(kStagedRecords, n - done);
      stageInOrder(m_group, done, piece, m_blocks);
      if (auto r = appendSorted(m_blocks); !r) return r;
      done += piece;
    }
  }
  auto flushed = flushSorted();
  if (m_probe) m_probe->reached(ScanMoment::Sorted);
  m_index.clear();
  releaseHeld();
  if (!flushed || !grouper || written == 0) return flushed;
  grouper->finish();
  return appendRecords(TaskFileId::FileEntries, grouper->entries(), kFileEntrySize);
}

Result<void> ResultStore::unsortedPass() {
  if (m_index.empty()) return {};
  auto sortedSize = file(TaskFileId::SortedSegments).size();
  if (!sortedSize) return std::unexpected(sortedSize.error());
  m_sortedAt = *sortedSize;
  for (const auto& entry : m_index) {
    // Copied as the raw file holds them: the raw and sorted files share the cipher.
    m_group.clear();
    if (auto r = readRun(entry, m_group); !r)
      return std::unexpected(r.error());
    if (auto r = appendSorted(m_group); !r) return r;
  }
  auto written = flushSorted();
  m_index.clear();
  releaseHeld();
  return written;
}

Result<void> ResultStore::groupingPass(GroupingVariant variant, const TimeConvention& convention) {
  auto sortedSize = file(TaskFileId::SortedSegments).size();
  if (!sortedSize) return std::unexpected(sortedSize.error());
  if (*sortedSize == 0) return {};
  if (auto r = file(TaskFileId::FileEntries).truncate(0); !r) return r;

  EntryGrouper grouper(variant, convention);
  std::vector<std::uint8_t> chunk;
  for (std::uint64_t chunkAt = 0; chunkAt < *sortedSize; chunkAt += kGroupingReadBytes) {
    chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kGroupingReadBytes, *sortedSize - chunkAt)));
    if (auto r = readRecords(TaskFileId::SortedSegments, chunkAt, chunk, kSegmentRecordSize); !r) return r;
    for (std::size_t at = 0; at < chunk.size(); at += kSegmentRecordSize)
      grouper.add(SegmentRecord::read(&chunk[at]), chunkAt + at);
    if (auto r = appendRecords(TaskFileId::FileEntries, grouper.entries(), kFileEntrySize); !r) return r;
    grouper.entries().clear();
  }
  grouper.finish();
  return appendRecords(TaskFileId::FileEntries, grouper.entries(), kFileEntrySize);
}

Result<void> ResultStore::listPass() {
  if (m_arrivals.empty()) return {};
  auto sortedSize = file(TaskFileId::SortedSegments).size();
  if (!sortedSize) return std::unexpected(sortedSize.error());
  m_sortedAt = *sortedSize;
  m_cipher.encipher(m_arrivals, kSegmentRecordSize);
  auto staged = appendSorted(m_arrivals);
  m_arrivals.clear();
  if (!staged) return staged;
  return flushSorted();
}

Result<void> ResultStore::listAndGroupPass() {
  FileEntry entry{};
  bool opened = false;
  const std::size_t n = m_arrivals.size() / kSegmentRecordSize;
  for (std::size_t i = 0; i < n; ++i) {
    const SegmentRecord r = SegmentRecord::read(&m_arrivals[i * kSegmentRecordSize]);
    if (!opened && r.kind == SegmentKind::Key) {
      opened = true;
      entry.channel = static_cast<std::uint8_t>(r.channel);
      entry.startTime = r.startTime;
      entry.firstRecord = m_sortedWriteOffset + i * kSegmentRecordSize;
    }
    if (opened) {
      entry.recordBytes += kSegmentRecordSize;
      entry.size += r.size;
      entry.endTime = r.endTime;
    }
  }
  if (auto r = listPass(); !r) return r;
  if (entry.recordBytes == 0) return {};
  std::vector<std::uint8_t> bytes(kFileEntrySize);
  entry.write(bytes.data());
  return appendRecords(TaskFileId::FileEntries, bytes, kFileEntrySize);
}

Result<FileMap> ResultStore::loadFileMap(const TimeConvention& convention, const FileMapLoadProgress& progress) {
  auto size = file(TaskFileId::FileEntries).size();
  if (!size) return std::unexpected(size.error());
  auto sortedSize = file(TaskFileId::SortedSegments).size();
  if (!sortedSize) return std::unexpected(sortedSize.error());
  const std::uint64_t count = *size / kFileEntrySize;
  if (progress.started) progress.started(count);
  FileMap map;
  if (count == 0) return map;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count * kFileEntrySize));
  if (auto r = readRecords(TaskFileId::FileEntries, 0, bytes, kFileEntrySize); !r) return std::unexpected(r.error());
  for (std::uint64_t i = 0; i < count; ++i) {
    const FileEntry entry = FileEntry::read(&bytes[i * kFileEntrySize]);
    // A damaged or foreign file must not send the export outside the sorted segment file.
    if (entry.recordBytes % kSegmentRecordSize != 0 || entry.firstRecord > *sortedSize ||
        entry.recordBytes > *sortedSize - entry.firstRecord)
      return fail(ErrorCode::Corrupt, "file entry " + std::to_string(i + 1) + " points outside the task's segment file");
    map.emplace(fileMapKey(entry.channel, dayCode(convention, entry.startTime)), entry);
    if (progress.loaded) progress.loaded(i, entry);
  }
  return map;
}

Result<void> ResultStore::truncateIntermediates() {
  if (file(TaskFileId::RawSegments).isOpen())
    if (auto r = file(TaskFileId::RawSegments).truncate(kTaskHeaderSize); !r) return r;
  if (file(TaskFileId::Index).isOpen())
    if (auto r = file(TaskFileId::Index).truncate(0); !r) return r;
  return {};
}

Result<void> ResultStore::syncFiles() {
  for (const TaskFileId id : {TaskFileId::Index, TaskFileId::SortedSegments, TaskFileId::FileEntries, TaskFileId::RawSegments})
    if (file(id).isOpen())
      if (auto r = file(id).sync(); !r) return r;
  return {};
}

Result<void> ResultStore::restoreCheckpoint(std::uint64_t rawBytes) {
  auto rawSize = file(TaskFileId::RawSegments).size();
  if (!rawSize) return std::unexpected(rawSize.error());
  const std::string at = "the checkpoint's segment file length " + std::to_string(rawBytes);
  if (rawBytes < kTaskHeaderSize || (rawBytes - kTaskHeaderSize) % kSegmentRecordSize != 0)
    return fail(ErrorCode::Corrupt, at + " is not on a record boundary");
  if (rawBytes > *rawSize)
    return fail(ErrorCode::Corrupt, at + " lies past the file's end (" + std::to_string(*rawSize) + " bytes)");
  // The index holds each flush's runs before the flush's records are written, so the flushes a
  // checkpoint holds are the index's first runs, and they cover the raw file up to rawBytes.
  auto indexSize = file(TaskFileId::Index).size();
  if (!indexSize) return std::unexpected(indexSize.error());
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*indexSize));
  if (auto r = readRecords(TaskFileId::Index, 0, bytes, kIndexRecordSize); !r) return r;
  std::uint64_t covered = kTaskHeaderSize;
  std::size_t keep = 0;
  for (std::size_t r = 0; r * kIndexRecordSize < bytes.size(); ++r) {
    const IndexRecord run = IndexRecord::read(&bytes[r * kIndexRecordSize]);
    // A flush's runs lie one after the other, and each flush follows the one before.
    if (run.offset != covered || run.length % kSegmentRecordSize != 0 || run.offset + run.length > rawBytes) break;
    covered = run.offset + run.length;
    keep = r + 1;
  }
  if (covered != rawBytes) return fail(ErrorCode::Corrupt, at + " does not end a flush of the task's index");
  for (const auto& [id, length] : {std::pair{TaskFileId::RawSegments, rawBytes},
                                   std::pair{TaskFileId::Index, std::uint64_t{keep * kIndexRecordSize}},
                                   std::pair{TaskFileId::SortedSegments, std::uint64_t{0}},
                                   std::pair{TaskFileId::FileEntries, std::uint64_t{0}}})
    if (auto r = file(id).truncate(length); !r) return r;
  m_rawWriteOffset = rawBytes;
  m_sortedWriteOffset = 0;
  m_sortedAt = 0;
  return {};
}

Result<std::vector<SegmentRecord>> ResultStore::readFileRecords(const FileEntry& entry, std::uint64_t first,
                                                                std::uint64_t count) {
  const std::uint64_t total = entry.recordCount();
  if (first >= total) return std::vector<SegmentRecord>{};
  count = std::min(count, total - first);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count * kSegmentRecordSize));
  if (auto r = readRecords(TaskFileId::SortedSegments, entry.firstRecord + first * kSegmentRecordSize, bytes,
                           kSegmentRecordSize);
      !r)
    return std::unexpected(r.error());
  if (bytes.size() != count * kSegmentRecordSize)
    return fail(ErrorCode::Corrupt, "the task's segment file ends inside a file entry");
  std::vector<SegmentRecord> records;
  records.reserve(static_cast<std::size_t>(count));
  for (std::size_t at = 0; at < bytes.size(); at += kSegmentRecordSize) records.push_back(SegmentRecord::read(&bytes[at]));
  return records;
}

}  // namespace norvale
