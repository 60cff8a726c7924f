#include "task/result_store.h"

#include <algorithm>
#include <cstring>

#include "storage/byte_reader.h"

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
  m_pending.clear();
  m_pending.shrink_to_fit();
  m_index.clear();
  m_sortMap.clear();
  m_arrivals.clear();
  m_rawWriteOffset = kTaskHeaderSize;
  m_sortedWriteOffset = 0;
  close();
}

Result<std::uint64_t> ResultStore::fileSize(TaskFileId id) const { return file(id).size(); }

Result<void> ResultStore::writeHeader(const TaskHeader& header) {
  return file(TaskFileId::RawSegments).writeAt(0, header.encode());
}

Result<void> ResultStore::appendSorted(std::vector<std::uint8_t>& plain) {
  const std::uint64_t length = plain.size();
  if (auto r = appendRecords(TaskFileId::SortedSegments, plain, kSegmentRecordSize); !r) return r;
  m_sortedWriteOffset += length;
  return {};
}

Result<void> ResultStore::rebuild(const RebuildPlan& plan, const TimeConvention& convention) {
  for (const RebuildStep step : plan) {
    Result<void> done;
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

void ResultStore::addSegment(const SegmentRecord& record, std::uint64_t key) { m_pending.emplace_back(key, record); }

void ResultStore::appendSegment(const SegmentRecord& record) { m_arrivals.push_back(record); }

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

Result<void> ResultStore::flushPending() {
  if (m_pending.empty()) return {};
  std::stable_sort(m_pending.begin(), m_pending.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::uint8_t> buffer(m_pending.size() * kSegmentRecordSize);
  std::vector<std::uint8_t> index;
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < m_pending.size(); ++i) {
    m_pending[i].second.write(&buffer[i * kSegmentRecordSize]);
    const bool runEnds = i + 1 == m_pending.size() || m_pending[i + 1].first != m_pending[i].first;
    if (runEnds) {
      IndexRecord record{m_pending[i].first, m_rawWriteOffset + runStart * kSegmentRecordSize,
                         (i + 1 - runStart) * kSegmentRecordSize};
      index.resize(index.size() + kIndexRecordSize);
      record.write(&index[index.size() - kIndexRecordSize]);
      runStart = i + 1;
    }
  }
  if (auto r = appendRecords(TaskFileId::Index, index, kIndexRecordSize); !r) return r;
  m_cipher.encipher(buffer, kSegmentRecordSize);
  if (auto r = file(TaskFileId::RawSegments).writeAt(m_rawWriteOffset, buffer); !r) return r;
  m_rawWriteOffset += buffer.size();
  m_pending.clear();
  return {};
}

Result<void> ResultStore::readIndex() {
  auto size = file(TaskFileId::Index).size();
  if (!size) return std::unexpected(size.error());
  if (*size == 0) return {};
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*size));
  if (auto r = readRecords(TaskFileId::Index, 0, bytes, kIndexRecordSize); !r) return r;
  std::vector<IndexRecord> read;
  for (std::size_t at = 0; at + kIndexRecordSize <= bytes.size(); at += kIndexRecordSize)
    read.push_back(IndexRecord::read(&bytes[at]));
  m_index.insert(m_index.end(), read.begin(), read.end());
  std::stable_sort(m_index.begin(), m_index.end(), [](const auto& a, const auto& b) { return a.key < b.key; });
  return {};
}

Result<void> ResultStore::writeOutSortMap() {
  std::stable_sort(m_sortMap.begin(), m_sortMap.end(),
                   [](const SegmentRecord& a, const SegmentRecord& b) { return a.startTime < b.startTime; });
  std::vector<std::uint8_t> buffer(m_sortMap.size() * kSegmentRecordSize);
  for (std::size_t i = 0; i < m_sortMap.size(); ++i) m_sortMap[i].write(&buffer[i * kSegmentRecordSize]);
  m_sortMap.clear();
  return appendSorted(buffer);
}

Result<void> ResultStore::sortPass() {
  if (m_index.empty()) return {};
  std::vector<std::uint8_t> run;
  for (std::size_t i = 0; i < m_index.size(); ++i) {
    if (i > 0 && m_index[i].key != m_index[i - 1].key)
      if (auto r = writeOutSortMap(); !r) return r;
    run.resize(static_cast<std::size_t>(m_index[i].length));
    if (auto r = readRecords(TaskFileId::RawSegments, m_index[i].offset, run, kSegmentRecordSize); !r) return r;
    for (std::size_t at = 0; at < run.size(); at += kSegmentRecordSize)
      m_sortMap.push_back(SegmentRecord::read(&run[at]));
  }
  auto written = writeOutSortMap();
  m_index.clear();
  return written;
}

Result<void> ResultStore::unsortedPass() {
  std::vector<std::uint8_t> run;
  for (const auto& entry : m_index) {
    run.resize(static_cast<std::size_t>(entry.length));
    if (auto r = readRecords(TaskFileId::RawSegments, entry.offset, run, kSegmentRecordSize); !r) return r;
    // Deciphered and enciphered again as a whole: the raw and sorted files share the cipher.
    if (auto r = appendSorted(run); !r) return r;
  }
  m_index.clear();
  return {};
}

Result<void> ResultStore::groupingPass(GroupingVariant variant, const TimeConvention& convention) {
  auto sortedSize = file(TaskFileId::SortedSegments).size();
  if (!sortedSize) return std::unexpected(sortedSize.error());
  if (*sortedSize == 0) return {};
  if (auto r = file(TaskFileId::FileEntries).truncate(0); !r) return r;

  FileEntry open{};
  std::vector<std::uint8_t> entries;
  auto emit = [&] {
    entries.resize(entries.size() + kFileEntrySize);
    open.write(&entries[entries.size() - kFileEntrySize]);
    open = FileEntry{};
  };
  auto openFrom = [&](const SegmentRecord& r, std::uint64_t at) {
    open = FileEntry{static_cast<std::uint8_t>(r.channel), r.startTime, r.endTime, r.size, at, kSegmentRecordSize};
  };
  auto add = [&](const SegmentRecord& r) {
    open.endTime = std::max(open.endTime, r.endTime);
    open.size += r.size;
    open.recordBytes += kSegmentRecordSize;
  };

  std::vector<std::uint8_t> chunk;
  for (std::uint64_t chunkAt = 0; chunkAt < *sortedSize; chunkAt += kGroupingChunkBytes) {
    chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kGroupingChunkBytes, *sortedSize - chunkAt)));
    if (auto r = readRecords(TaskFileId::SortedSegments, chunkAt, chunk, kSegmentRecordSize); !r) return r;
    for (std::size_t at = 0; at < chunk.size(); at += kSegmentRecordSize) {
      const SegmentRecord r = SegmentRecord::read(&chunk[at]);
      const std::uint64_t recordOffset = chunkAt + at;
      const bool isOpen = open.size != 0;
      const bool sameChannel = r.channel == open.channel;
      if (r.kind == SegmentKind::Key) {
        bool joins = isOpen && open.size < kFileEntrySizeLimit;
        if (variant != GroupingVariant::WithoutChannel) joins = joins && sameChannel;
        if (variant == GroupingVariant::JoinRule)
          joins = joins && convention.joins(open.startTime, r.endTime);
        if (joins) {
          add(r);
        } else {
          if (isOpen) emit();
          openFrom(r, recordOffset);
        }
      } else if (isOpen) {
        if (sameChannel || variant == GroupingVariant::WithoutChannel)
          add(r);
        else
          emit();
      }
    }
    if (auto r = appendRecords(TaskFileId::FileEntries, entries, kFileEntrySize); !r) return r;
    entries.clear();
  }
  if (open.size != 0) emit();
  return appendRecords(TaskFileId::FileEntries, entries, kFileEntrySize);
}

Result<void> ResultStore::listPass() {
  std::vector<std::uint8_t> buffer(m_arrivals.size() * kSegmentRecordSize);
  for (std::size_t i = 0; i < m_arrivals.size(); ++i) m_arrivals[i].write(&buffer[i * kSegmentRecordSize]);
  m_arrivals.clear();
  return appendSorted(buffer);
}

Result<void> ResultStore::listAndGroupPass() {
  FileEntry entry{};
  bool opened = false;
  std::vector<std::uint8_t> buffer(m_arrivals.size() * kSegmentRecordSize);
  for (std::size_t i = 0; i < m_arrivals.size(); ++i) {
    const SegmentRecord& r = m_arrivals[i];
    r.write(&buffer[i * kSegmentRecordSize]);
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
  m_arrivals.clear();
  if (auto r = appendSorted(buffer); !r) return r;
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
