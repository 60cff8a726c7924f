#include "storage/read_ahead.h"

#include <algorithm>
#include <cstring>

namespace norvale {
namespace {
// Slots start on 4 KiB boundaries, so that reads past the page cache go straight into them.
constexpr std::size_t kAlign = 4096;
std::size_t roundUp(std::size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }
}  // namespace

ReadAhead::ReadAhead(std::unique_ptr<DeviceHandle> device, std::uint64_t start, std::uint64_t end,
                     std::size_t slotBytes, std::size_t tail, int slots)
    : m_device(std::move(device)),
      m_start(start),
      m_end(std::max(start, end)),
      m_slotBytes(std::max(slotBytes, tail)),
      m_tail(tail),
      m_lastIndex(m_end > m_start ? static_cast<std::int64_t>((m_end - m_start - 1) / m_slotBytes) : -1) {
  const std::size_t stride = roundUp(m_slotBytes + m_tail);
  const int count = std::max(slots, 3);  // the window's slot, the next one for its tail, one being read
  m_memory.resize(stride * static_cast<std::size_t>(count) + kAlign);
  std::uint8_t* base = m_memory.data();
  base += (kAlign - reinterpret_cast<std::uintptr_t>(base) % kAlign) % kAlign;
  m_slots.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) m_slots[static_cast<std::size_t>(i)].bytes = base + stride * static_cast<std::size_t>(i);
  if (m_device) m_thread = std::thread([this] { run(); });
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

ReadAhead::Slot* ReadAhead::find(std::int64_t index) {
  for (auto& slot : m_slots)
    if (slot.index == index) return &slot;
  return nullptr;
}

void ReadAhead::run() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    Slot* slot = nullptr;
    std::int64_t j = 0;
    m_changed.wait(lock, [&] {
      if (m_stop) return true;
      j = std::max(m_nextRead, m_wanted);
      if (j > m_lastIndex) return false;
      for (auto& s : m_slots)
        if (s.index < m_wanted) {  // free, or given back by the consumer
          slot = &s;
          return true;
        }
      return false;
    });
    if (m_stop) return;
    m_nextRead = j + 1;
    *slot = Slot{slot->bytes, j, false, false, false, false};
    lock.unlock();

    const std::uint64_t at = slotStart(j);
    const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(m_slotBytes, m_end - at));
    std::size_t filled = 0;
    const bool ok = m_device->readAt(at, std::span(slot->bytes, length), filled) && filled == length;
    const bool last = j == m_lastIndex;
    if (last) std::memset(slot->bytes + length, 0, m_slotBytes + m_tail - length);

    lock.lock();
    slot->read = true;
    slot->ok = ok;
    if (last) slot->tailDone = slot->tailOk = true;
    // The slot before keeps a copy of this one's first bytes; only the reader writes slots, so
    // the copy runs without the lock, the consumer waiting for tailDone.
    Slot* before = find(j - 1);
    if (before && before->read && !before->tailDone) {
      lock.unlock();
      std::memcpy(before->bytes + m_slotBytes, slot->bytes, m_tail);
      lock.lock();
      before->tailDone = true;
      before->tailOk = ok;
    }
    m_changed.notify_all();
  }
}

const std::uint8_t* ReadAhead::window(std::uint64_t offset, std::size_t length) {
  if (offset < m_start || offset >= m_end || length > m_tail || !m_device) return nullptr;
  const std::int64_t j = static_cast<std::int64_t>((offset - m_start) / m_slotBytes);
  const std::size_t inSlot = static_cast<std::size_t>(offset - slotStart(j));
  const bool needsTail = inSlot + length > m_slotBytes;
  std::unique_lock lock(m_mutex);
  if (j < m_wanted) return nullptr;  // windows go forward only
  if (j > m_wanted) {
    m_wanted = j;
    m_changed.notify_all();
  }
  Slot* slot = nullptr;
  m_changed.wait(lock, [&] {
    slot = find(j);
    return slot && slot->read && (!needsTail || slot->tailDone);
  });
  const bool ok = slot->ok && (!needsTail || slot->tailOk);
  return ok ? slot->bytes + inSlot : nullptr;
}

}  // namespace norvale
