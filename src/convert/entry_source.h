#pragma once
// The bytes of one file entry exactly as export writes them: its segment records' bytes read
// from the task's source in record order, behind the ByteSource interface so that the stream
// readers see one contiguous file. Unreadable source sectors read as zeros and are counted.
#include <cstdint>
#include <memory>
#include <vector>

#include "storage/byte_source.h"
#include "task/task_context.h"

namespace norvale::convert {

class EntrySource final : public ByteSource {
 public:
  // Reads the entry's records from the task's store; the task's device must stay open.
  static Result<std::unique_ptr<EntrySource>> open(TaskContext& task, const FileEntry& entry);

  Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> dst) override;
  Result<std::uint64_t> size() override { return m_size; }

  // Where each record begins in the file, with its start time (the brand's time value).
  struct Piece {
    std::uint64_t offset = 0;
    std::uint32_t time = 0;
  };
  std::vector<Piece> pieces() const;
  // The device offset of a file offset.
  std::uint64_t deviceOffset(std::uint64_t fileOffset) const;
  std::uint64_t unreadableBytes() const { return m_unreadable; }

 private:
  EntrySource(DeviceHandle& device, std::vector<SegmentRecord> records);
  void loadBlock(std::uint64_t blockStart);

  DeviceHandle& m_device;
  std::vector<SegmentRecord> m_records;
  std::vector<std::uint64_t> m_starts;  // file offset of each record
  std::uint64_t m_size = 0;
  std::uint64_t m_unreadable = 0;
  std::vector<std::uint8_t> m_block;
  std::uint64_t m_blockStart = UINT64_MAX;
  std::vector<bool> m_badSectors;
  std::vector<bool> m_counted;  // bad sectors already counted (a sector may be read twice)
};

}  // namespace norvale::convert
