#pragma once
// DeviceHandle: the one object through which the evidence is read. Callers ask for any byte
// range; the handle splits it into whole 512-byte sectors, as raw disks demand.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "storage/byte_source.h"
#include "storage/device_record.h"

namespace norvale {

inline constexpr std::int32_t kDeviceOk = 50002;
inline constexpr std::int32_t kDeviceFailed = 50003;

class DeviceHandle {
 public:
  DeviceHandle() = default;
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;
  ~DeviceHandle() { close(); }

  // Opens the record's source read-only: a disk as it is, an image path as the evidence it is
  // (plain file, split set or EWF set, see openEvidenceSource). Sets status 50002, or 50003 on failure (the reason
  // is kept in lastError()). Does not close a handle that is already open.
  void open(const DeviceRecord& record);
  // The same, reading a disk or a plain image file past the page cache (O_DIRECT) when
  // directReads; split and EWF sets, and platforms without such reads, read as usual.
  void open(const DeviceRecord& record, bool directReads);
  // Takes over an already opened source (in-memory images, tests) as kind 3.
  void open(std::unique_ptr<ByteSource> source);
  // What the open source is (raw, split or EWF, with an EWF set's hashes and notes).
  EvidenceInfo evidenceInfo() { return m_source ? m_source->evidenceInfo() : EvidenceInfo{}; }
  // Byte size of the open object; 0 when nothing is open or the size cannot be read.
  std::uint64_t size();
  // Fills dst from offset and returns what ok() says after it: false leaves status() at 50003,
  // with failedOffset() and lastError() telling where and why. A caller that ignored it would
  // take bytes never read for the source's, hence nodiscard. A closed handle reads nothing and
  // stays ok. Unaligned requests are split into a head sector, an aligned middle run and a tail
  // sector.
  [[nodiscard]] bool readAt(std::uint64_t offset, std::span<std::uint8_t> dst);
  // As readAt, also saying how many bytes from dst's start it filled; the rest of dst is left
  // as it was (a request that runs past the source's end fills what exists).
  [[nodiscard]] bool readAt(std::uint64_t offset, std::span<std::uint8_t> dst, std::size_t& filled);
  // A second handle on the same open source, for another thread: it keeps its own status, and
  // the reads of a source that cannot serve threads at once take turns. Empty when nothing is
  // open.
  std::unique_ptr<DeviceHandle> share() const;
  void close();
  // The open source is still attached (see ByteSource::stillThere); false when nothing is open.
  bool sourceStillThere() const { return m_source && m_source->stillThere(); }

  bool isOpen() const { return m_source != nullptr; }
  bool ok() const { return m_status == kDeviceOk; }
  std::int32_t status() const { return m_status; }
  std::uint64_t failedOffset() const { return m_failedOffset; }
  DeviceKind kind() const { return m_kind; }
  const Error& lastError() const { return m_lastError; }
  // Reads through this handle that failed since it was opened.
  std::uint64_t failedReads() const { return m_failedReads; }

 private:
  std::optional<std::size_t> readSectors(std::uint64_t offset, std::span<std::uint8_t> dst);
  std::size_t readInto(std::uint64_t offset, std::span<std::uint8_t> dst);
  void markFailed(std::uint64_t offset);
  void adopt(std::shared_ptr<ByteSource> source);
  bool sourceEndsBy(std::uint64_t offset);

  std::int32_t m_status = 0;
  std::uint64_t m_failedOffset = 0;
  std::uint64_t m_failedReads = 0;
  DeviceKind m_kind = DeviceKind::None;
  std::shared_ptr<ByteSource> m_source;
  std::shared_ptr<std::mutex> m_turns;  // set when the source reads one thread at a time
  Error m_lastError{ErrorCode::ReadFailed, {}, 0};
};

}  // namespace norvale
