#pragma once
// A brand's packet decoder: given the bytes at a candidate position, says whether a packet of
// the brand's design starts there and what it holds. Decoders are stateless and shared: the scan,
// the identification and the conversion ask the same object, from any thread.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "format/records.h"
#include "format/time_zone.h"
#include "format/year_window.h"
#include "storage/device_handle.h"

namespace norvale {

// A candidate position in a read buffer.
struct PacketWindow {
  const std::uint8_t* data = nullptr;
  std::size_t available = 0;    // bytes that may be read from data (the buffer's end)
  std::int64_t valid = 0;       // bytes from data that came from the device (may be <= 0)
  std::uint64_t deviceOffset = 0;
  const TimeZone* zone = nullptr;  // the recorder's, for times in local time; null: the workstation's
  YearWindow years;                // the years the recorder's times may show
  // The device ends where a stream ends (an exported file, not a disk): a packet ending there
  // has no follower and is judged without one.
  bool streamEnds = false;
};

// What a decoder accepted.
struct Packet {
  SegmentKind kind = SegmentKind::Other;
  std::uint32_t channel = 0;     // from 1; 0 where the packet names none
  std::uint32_t time = 0;        // in the brand's time convention; 0 where the packet has none
  std::uint64_t dataOffset = 0;  // device offset of the bytes kept
  std::uint64_t dataLength = 0;
  std::uint64_t advance = 1;     // whole packet length: where the walk goes on
};

class PacketDecoder {
 public:
  virtual ~PacketDecoder() = default;
  // The packet at the window, or none. device serves the follower check when the follower
  // lies past the window's valid bytes; nothing else of the decoder changes.
  virtual std::optional<Packet> decode(const PacketWindow& window, DeviceHandle& device) const = 0;
  // First position >= from (up to last) where decode could accept; last + 1 when there is
  // none. Decoders with fixed bytes override it with a fast search; the result must be the same
  // as trying every position.
  virtual std::size_t nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const {
    (void)buffer;
    (void)last;
    return from;
  }
};

// Does the spot at relative offset `at` from the window carry magic? Reads the device when the
// spot lies past the valid bytes (a failed read says no).
bool followerHasMagic(const PacketWindow& window, DeviceHandle& device, std::uint64_t at,
                      std::span<const std::uint8_t> magic);
// Copies out.size() bytes at relative offset `at`: from the buffer when `at + inBufferNeed`
// bytes are valid there, otherwise from a 1024-byte device read at the spot rounded down to a
// sector (zeros when that read fails). inBufferNeed defaults to out.size(). False when there is
// no follower to judge: the spot lies past the end of a window whose stream ends there.
bool followerBytes(const PacketWindow& window, DeviceHandle& device, std::uint64_t at, std::span<std::uint8_t> out,
                   std::uint64_t inBufferNeed = 0);

}  // namespace norvale
