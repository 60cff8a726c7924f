#include "storage/device_handle.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace norvale {

void DeviceHandle::open(const DeviceRecord& record) {
  m_status = kDeviceOk;
  if (record.kind != DeviceKind::PhysicalDrive && record.kind != DeviceKind::Path) {
    m_status = kDeviceFailed;
    m_lastError = Error{ErrorCode::InvalidArgument, "the device record names no source", 0};
    return;
  }
  auto source = record.kind == DeviceKind::Path ? openEvidenceSource(record.openPath())
                                                : openFileSource(record.openPath());
  if (!source) {
    m_status = kDeviceFailed;
    m_lastError = source.error();
    m_kind = DeviceKind::None;
    return;
  }
  m_source = std::move(*source);
  m_kind = record.kind;
}

void DeviceHandle::open(std::unique_ptr<ByteSource> source) {
  m_status = source ? kDeviceOk : kDeviceFailed;
  m_source = std::move(source);
  m_kind = m_source ? DeviceKind::Path : DeviceKind::None;
}

std::uint64_t DeviceHandle::size() {
  if (!m_source) return 0;
  auto bytes = m_source->size();
  return bytes ? *bytes : 0;
}

void DeviceHandle::close() {
  m_source.reset();
  m_kind = DeviceKind::None;
}

void DeviceHandle::markFailed(std::uint64_t offset) {
  m_status = kDeviceFailed;
  m_failedOffset = offset;
}

// One aligned transfer; returns the bytes transferred. Fails when the platform refuses it or
// nothing at all is transferred; a short transfer counts as success (the end of an image).
std::optional<std::size_t> DeviceHandle::readSectors(std::uint64_t offset, std::span<std::uint8_t> dst) {
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

void DeviceHandle::readInto(std::uint64_t offset, std::span<std::uint8_t> dst) {
  m_status = kDeviceOk;
  if (!m_source) return;
  const std::size_t length = dst.size();
  if (offset % kSectorSize == 0 && length % kSectorSize == 0) {
    if (length > 0 && !readSectors(offset, dst)) markFailed(offset);
    return;
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
    if (!got) return markFailed(offset);
    delivered = std::min<std::size_t>(kSectorSize - headRemainder, length);
    std::memcpy(dst.data(), sector.data() + headRemainder, delivered);
    aligned += kSectorSize;
    if (*got < kSectorSize) return;
  }
  const std::size_t rest = length - delivered;
  const std::size_t tail = rest % kSectorSize;
  const std::size_t middle = rest - tail;
  if (middle > 0) {
    // The middle run goes straight into the caller's buffer: it is whole sectors already.
    const auto got = readSectors(aligned, dst.subspan(delivered, middle));
    if (!got) {
      if (delivered > 0 && m_source->size().value_or(UINT64_MAX) <= aligned) return;  // ended at a sector edge
      return markFailed(offset);
    }
    delivered += middle;
    aligned += middle;
    if (*got < middle) return;
  }
  if (tail > 0) {
    sector.fill(0);
    if (!readSectors(aligned, sector)) {
      if (delivered > 0 && m_source->size().value_or(UINT64_MAX) <= aligned) return;
      return markFailed(offset);
    }
    std::memcpy(dst.data() + delivered, sector.data(), tail);
  }
}

}  // namespace norvale
