#pragma once
// Reads a byte range of a source ahead of its consumer, on a thread of its own, into a small
// ring of slots: the device streams at its own speed while the consumer works on what came in.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "storage/device_handle.h"

namespace norvale {

class ReadAhead {
 public:
  // Reads [start, end) in slots of slotBytes. Behind its own bytes each slot keeps a copy of the
  // first `tail` bytes of the next one, so that any window of up to `tail` bytes that starts in a
  // slot lies whole in it; bytes past `end` read as zeros. device is the reading thread's own
  // handle (DeviceHandle::share).
  ReadAhead(std::unique_ptr<DeviceHandle> device, std::uint64_t start, std::uint64_t end, std::size_t slotBytes,
            std::size_t tail, int slots = 3);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The bytes [offset, offset + length), length <= tail, offset within the range and not before
  // an offset asked for earlier (slots before it are given back to the reader). Null when the
  // source did not deliver every byte of the window inside the range (a failed or short read):
  // the caller reads those bytes itself and sees what the source says. The pointer holds until
  // the next call.
  const std::uint8_t* window(std::uint64_t offset, std::size_t length);

 private:
  struct Slot {
    std::uint8_t* bytes = nullptr;
    std::int64_t index = -1;  // slot number in the range; -1 free
    bool read = false;        // the reading finished (well or not)
    bool ok = false;          // the source delivered all of the slot's bytes inside the range
    bool tailDone = false;    // the tail holds the next slot's first bytes, or the range ended
    bool tailOk = false;
  };

  void run();
  std::uint64_t slotStart(std::int64_t index) const { return m_start + static_cast<std::uint64_t>(index) * m_slotBytes; }
  Slot* find(std::int64_t index);

  std::unique_ptr<DeviceHandle> m_device;
  std::uint64_t m_start, m_end;
  std::size_t m_slotBytes, m_tail;
  std::int64_t m_lastIndex;  // slot holding the range's last byte
  std::vector<std::uint8_t> m_memory;
  std::vector<Slot> m_slots;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::int64_t m_wanted = 0;     // the consumer's slot: slots before it may be reused
  std::int64_t m_nextRead = 0;   // next slot the reader fills
  bool m_stop = false;
  std::thread m_thread;
};

}  // namespace norvale
