#pragma once
// DeviceHandle: the one object through which the evidence is read. Callers ask for any byte
// range; the handle splits it into whole 512-byte sectors, as raw disks demand.
#include <cstdint>
#include <memory>
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
  void close();

  bool isOpen() const { return m_source != nullptr; }
  bool ok() const { return m_status == kDeviceOk; }
  std::int32_t status() const { return m_status; }
  std::uint64_t failedOffset() const { return m_failedOffset; }
  DeviceKind kind() const { return m_kind; }
  const Error& lastError() const { return m_lastError; }

 private:
  std::optional<std::size_t> readSectors(std::uint64_t offset, std::span<std::uint8_t> dst);
  void readInto(std::uint64_t offset, std::span<std::uint8_t> dst);
  void markFailed(std::uint64_t offset);

  std::int32_t m_status = 0;
  std::uint64_t m_failedOffset = 0;
  DeviceKind m_kind = DeviceKind::None;
  std::unique_ptr<ByteSource> m_source;
  Error m_lastError{ErrorCode::ReadFailed, {}, 0};
};

}  // namespace norvale
