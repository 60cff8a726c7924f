#include "storage/device_handle.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace norvale {

void DeviceHandle::open(const DeviceRecord& record) { open(record, false); }

void DeviceHandle::open(const DeviceRecord& record, bool directReads) {
  m_status = kDeviceOk;
  if (record.kind != DeviceKind::PhysicalDrive && record.kind != DeviceKind::Path) {
    m_status = kDeviceFailed;
    m_lastError = Error{ErrorCode::InvalidArgument, "the device record names no source", 0};
    return;
  }
  auto source = record.kind == DeviceKind::Path ? openEvidenceSource(record.openPath(), directReads)
                                                : openFileSource(record.openPath(), directReads);
  if (!source) {
    m_status = kDeviceFailed;
    m_lastError = source.error();
    m_kind = DeviceKind::None;
    return;
  }
  adopt(std::move(*source));
  m_kind = record.kind;
}

void DeviceHandle::open(std::unique_ptr<ByteSource> source) {
  m_status = source ? kDeviceOk : kDeviceFailed;
  adopt(std::move(source));
  m_kind = m_source ? DeviceKind::Path : DeviceKind::None;
}

void DeviceHandle::adopt(std::shared_ptr<ByteSource> source) {
  m_source = std::move(source);
  m_turns = m_source && !m_source->concurrentReads() ? std::make_shared<std::mutex>() : nullptr;
  m_failedReads = 0;
}

std::unique_ptr<DeviceHandle> DeviceHandle::share() const {
  if (!m_source) return nullptr;
  auto shared = std::make_unique<DeviceHandle>();
  shared->m_source = m_source;
  shared->m_turns = m_turns;
  shared->m_kind = m_kind;
  shared->m_status = kDeviceOk;
  return shared;
}

std::uint64_t DeviceHandle::size() {
  if (!m_source) return 0;
  std::unique_lock<std::mutex> turn;
  if (m_turns) turn = std::unique_lock(*m_turns);
  auto bytes = m_source->size();
  return bytes ? *bytes : 0;
}

void DeviceHandle::close() {
  m_source.reset();
  m_turns.reset();
  m_kind = DeviceKind::None;
}

void DeviceHandle::markFailed(std::uint64_t offset) {
  m_status = kDeviceFailed;
  m_failedOffset = offset;
  ++m_failedReads;
}

// One aligned transfer; returns the bytes transferred. Fails when the platform refuses it or
// nothing at all is transferred; a short transfer counts as success (the end of an image).
std::optional<std::size_t> DeviceHandle::readSectors(std::uint64_t offset, std::span<std::uint8_t> dst) {
  std::unique_lock<std::mutex> turn;
  if (m_turns) turn = std::unique_lock(*m_turns);
  auto got = m_source->readAt(offset, dst);
  if (!got) {
    m_lastError = got.error();
    return std::nullopt;
  }
  if (*got == 0) {
    m_lastError = Error{ErrorCode::ReadFailed, "read at or past the end of the source", offset};
    return std::nullopt;
  }
  return *got;
}

bool DeviceHandle::readAt(std::uint64_t offset, std::span<std::uint8_t> dst) {
  readInto(offset, dst);
  return ok();
}

bool DeviceHandle::readAt(std::uint64_t offset, std::span<std::uint8_t> dst, std::size_t& filled) {
  filled = readInto(offset, dst);
  return ok();
}

bool DeviceHandle::sourceEndsBy(std::uint64_t offset) {
  std::unique_lock<std::mutex> turn;
  if (m_turns) turn = std::unique_lock(*m_turns);
  return m_source->size().value_or(UINT64_MAX) <= offset;
}

// Returns the bytes of dst it wrote: what the source delivered, and the zeros of a sector
// the source ended in.
std::size_t DeviceHandle::readInto(std::uint64_t offset, std::span<std::uint8_t> dst) {
  m_status = kDeviceOk;
  if (!m_source) return 0;
  const std::size_t length = dst.size();
  if (offset % kSectorSize == 0 && length % kSectorSize == 0) {
    if (length == 0) return 0;
    const auto got = readSectors(offset, dst);
    if (!got) markFailed(offset);
    return got.value_or(0);
  }

  // A request that starts inside the source and runs past its end delivers what exists, on
  // this path as on the aligned one: once a piece comes back short, the source has ended and
  // the pieces after it are not read (they would transfer nothing and fail the whole request).
  std::array<std::uint8_t, kSectorSize> sector{};
  std::size_t delivered = 0;
  std::uint64_t aligned = offset;
  const std::size_t headRemainder = offset % kSectorSize;
  if (headRemainder != 0) {
    aligned = offset - headRemainder;
    sector.fill(0);
    const auto got = readSectors(aligned, sector);
    if (!got) {
      markFailed(offset);
      return 0;
    }
    delivered = std::min<std::size_t>(kSectorSize - headRemainder, length);
    std::memcpy(dst.data(), sector.data() + headRemainder, delivered);
    aligned += kSectorSize;
    if (*got < kSectorSize) return delivered;
  }
  const std::size_t rest = length - delivered;
  const std::size_t tail = rest % kSectorSize;
  const std::size_t middle = rest - tail;
  if (middle > 0) {
    // The middle run goes straight into the caller's buffer: it is whole sectors already.
    const auto got = readSectors(aligned, dst.subspan(delivered, middle));
    if (!got) {
      if (delivered > 0 && sourceEndsBy(aligned)) return delivered;  // ended at a sector edge
      markFailed(offset);
      return delivered;
    }
    if (*got < middle) return delivered + *got;
    delivered += middle;
    aligned += middle;
  }
  if (tail > 0) {
    sector.fill(0);
    if (!readSectors(aligned, sector)) {
      if (delivered > 0 && sourceEndsBy(aligned)) return delivered;
      markFailed(offset);
      return delivered;
    }
    std::memcpy(dst.data() + delivered, sector.data(), tail);
    delivered += tail;
  }
  return delivered;
}

}  // namespace norvale
