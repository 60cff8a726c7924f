#pragma once
// Turns found segments into files: pending segments are flushed to the task files, sorted by
// channel, hour and time, joined into file entries, and loaded into the task's file map.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "format/rebuild_plan.h"
#include "format/records.h"
#include "format/task_header.h"
#include "base/error.h"
#include "task/task_cipher.h"
#include "task/task_file.h"
#include "task/task_probe.h"
#include "format/time_convention.h"

namespace norvale {

inline constexpr std::size_t kFlushThreshold = 1'999'999;  // flush when more are pending
inline constexpr std::uint64_t kFileEntrySizeLimit = 0x40000000;  // 1 GiB
inline constexpr std::size_t kGroupingChunkBytes = 37'000'000;

enum class TaskFileId { RawSegments = 0, Index = 1, SortedSegments = 2, FileEntries = 3 };

enum class GroupingVariant {
  JoinRule,             // channel, size limit and the brand's join rule
  WithoutJoinRule,      // channel and size limit
  WithoutChannel,       // size limit only; other-kind records join whatever their channel
};

// "%s/Attr00N.map" for N = 1..4.
std::string taskFilePath(const std::string& folder, TaskFileId id);

// What loading the file map tells as it goes: the entry count first, then each entry.
struct FileMapLoadProgress {
  std::function<void(std::uint64_t count)> started;
  std::function<void(std::uint64_t index, const FileEntry& entry)> loaded;
};

class EntryGrouper;

class ResultStore {
 public:
  // Opens the four task files of the task folder, all or none.
  Result<void> openFiles(const std::string& folder, TaskFileMode mode);
  void close();
  bool isOpen() const;
  // The test's probe of the task (not owned; null: none): its faults go to every task file opened
  // after, and the rebuild tells it when the sorted segments are written.
  void setProbe(TaskProbe* probe) { m_probe = probe; }
  // Empties every map and list, rewinds the write offsets and closes the files.
  void reset();

  // The 256-byte plain task header at the start of the raw segment file.
  Result<void> writeHeader(const TaskHeader& header);

  void addSegment(const SegmentRecord& record, std::uint64_t key);
  // Segments serialised as the raw file holds them, with their keys, as addSegment for each.
  void addSerialized(std::span<const std::uint8_t> records, std::span<const std::uint64_t> keys);
  void appendSegment(const SegmentRecord& record);
  std::size_t pendingCount() const { return m_pendingKeys.size(); }
  std::size_t arrivalCount() const { return m_arrivals.size() / kSegmentRecordSize; }

  Result<void> flushPending();
  // The last flush of a scan: the pending records are ordered and held in memory, and the next
  // read of the index and sort (or unsorted) pass take them as that flush's runs. Records added
  // after it need the held ones flushed first (holdsPending says so).
  Result<void> holdPending();
  bool holdsPending() const { return m_held.has_value(); }
  Result<void> readIndex();
  Result<void> sortPass();
  Result<void> unsortedPass();
  Result<void> groupingPass(GroupingVariant variant, const TimeConvention& convention);
  Result<void> listPass();
  Result<void> listAndGroupPass();
  // Carries out a brand's rebuild: its passes, in order.
  Result<void> rebuild(const RebuildPlan& plan, const TimeConvention& convention);
  // The same for a task whose scan did not finish and left no file entries: from the records the
  // raw file holds before rawLimit (bytes from the file's start; what lies past it was never
  // made durable by the scan), into sorted segments and file entries made anew. Writes only the
  // task files.
  Result<void> rebuildFound(const RebuildPlan& plan, const TimeConvention& convention, std::uint64_t rawLimit);
  // Reads the file entries, keyed by channel and day of the start.
  Result<FileMap> loadFileMap(const TimeConvention& convention, const FileMapLoadProgress& progress = {});
  Result<void> truncateIntermediates();
  // Makes every task file durable (fsync), the raw segment file last but its header.
  Result<void> syncFiles();
  // The raw segment file's length once every flushed record is written.
  std::uint64_t rawLength() const { return m_rawWriteOffset; }
  // Takes the files of an unfinished task back to its checkpoint: the raw segment file is cut to
  // rawBytes, the index to the flushes it holds whole, the sorted segments and file entries
  // are emptied for the rebuild. Refuses, changing nothing, a length that is no record boundary,
  // lies past the file's end, or cuts a flush.
  Result<void> restoreCheckpoint(std::uint64_t rawBytes);

  // The sorted segment records of a file entry, in order (export reads them).
  Result<std::vector<SegmentRecord>> readFileRecords(const FileEntry& entry, std::uint64_t first,
                                                     std::uint64_t count);
  Result<std::uint64_t> fileSize(TaskFileId id) const;

 private:
  TaskFile& file(TaskFileId id) { return m_files[static_cast<int>(id)]; }
  const TaskFile& file(TaskFileId id) const { return m_files[static_cast<int>(id)]; }
  Result<void> appendRecords(TaskFileId id, std::vector<std::uint8_t>& plain, std::size_t recordSize);
  Result<void> readRecords(TaskFileId id, std::uint64_t offset, std::vector<std::uint8_t>& out,
                           std::size_t recordSize);
  // Reads whole enciphered records (as the file holds them) to the end of out; returns the
  // bytes added (a run cut short by the file's end keeps its whole records).
  Result<std::size_t> readWholeRecords(TaskFileId id, std::uint64_t offset, std::uint64_t length,
                                       std::vector<std::uint8_t>& out);
  // The scan's last flush, held in memory (holdPending): its runs by key, their offsets counting
  // from the first record in key order, until the index takes them; and the pending records'
  // numbers in key order.
  struct HeldFlush {
    std::vector<IndexRecord> runs;
    std::vector<std::uint32_t> order;
  };
  // A run the sort pass reads: the index's, in the raw file, or one of the held flush's.
  struct SortRun {
    IndexRecord record;
    bool held = false;
  };
  // A run's whole records to the end of out, enciphered as the raw file holds them; returns the
  // bytes added.
  Result<std::size_t> readRun(const SortRun& run, std::vector<std::uint8_t>& out);
  // Every write to the sorted segment file goes through here, so the write offset is its size.
  // Enciphered records are staged and written in large pieces; flushSorted writes the rest.
  Result<void> appendSorted(std::span<const std::uint8_t> enciphered);
  Result<void> flushSorted();
  // Stable order of records by start time (the sort map's order), for a group that is not in
  // order already; `plain` holds the deciphered records.
  void orderByStartTime(const std::vector<std::uint8_t>& plain);
  Result<void> sortPass(EntryGrouper* grouper);
  // Records m_order[from, from + count) of plain into out, enciphered as the task files hold them.
  void stageInOrder(const std::vector<std::uint8_t>& plain, std::size_t from, std::size_t count,
                    std::vector<std::uint8_t>& out);
  // Orders the pending records by key into m_order, with one run a key from base on.
  void orderPending(std::uint64_t base, std::vector<IndexRecord>& runs);
  void releaseHeld();
  void reservePending();

  std::array<TaskFile, 4> m_files;
  TaskProbe* m_probe = nullptr;
  TaskCipher m_cipher;
  std::uint64_t m_rawWriteOffset = kTaskHeaderSize;
  std::uint64_t m_rawLimit = UINT64_MAX;  // raw bytes the index's runs may point into
  std::uint64_t m_sortedWriteOffset = 0;  // bytes appended to the sorted segment file
  // Pending segments in arrival order, serialised as the raw file holds them, with their keys;
  // ordered by key (stably) when flushed.
  std::vector<std::uint8_t> m_pendingRecords;
  std::vector<std::uint64_t> m_pendingKeys;
  std::vector<SortRun> m_index;
  std::optional<HeldFlush> m_held;  // set: the pending records are the scan's held last flush
  std::vector<std::uint8_t> m_arrivals;  // serialised, in arrival order
  // Scratch of the flush and the sort pass, kept from one use to the next: memory the kernel
  // does not have to clear again.
  std::vector<std::uint32_t> m_order;
  std::vector<std::uint32_t> m_orderScratch;
  std::vector<std::uint8_t> m_staging;
  std::vector<std::uint8_t> m_group;
  std::vector<std::uint8_t> m_blocks;
  std::vector<std::uint8_t> m_plain;
  std::uint64_t m_sortedAt = 0;  // where the staged sorted records go in the file
};

}  // namespace norvale
