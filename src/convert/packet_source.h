#pragma once
// Finds a brand's packets in a file's bytes with the brand's own packet test and candidate
// search, as the scan does. With the brand table's conversion layout, this is where the
// conversion reaches into the parsers: everything else sees CarrierPacket only.
#include <cstdint>
#include <memory>
#include <optional>

#include "format/year_window.h"
#include "storage/byte_source.h"

namespace norvale {
class TimeZone;
}

namespace norvale::convert {

struct CarrierPacket {
  std::uint64_t offset = 0;  // in the file
  std::uint64_t length = 0;  // the whole packet, header and trailer included
  bool key = false;
  std::uint32_t time = 0;    // the brand's time value; 0 when the packet carries none
  std::uint32_t channel = 0;
};

// What the packet tests take from the task, as the scan gives it to them.
struct DecoderSettings {
  const TimeZone* zone = nullptr;  // the recorder's, for times in local time; null: the workstation's
  YearWindow years;                // the task's: the years its recorder's times may show
};

class PacketSource {
 public:
  virtual ~PacketSource() = default;
  // The first packet at or after the file offset `from`; empty at the end of the bytes. The
  // file's last packet had its follower on the disk: it is judged without one.
  virtual std::optional<CarrierPacket> next(std::uint64_t from) = 0;
};

// Null when the brand has no packet test.
std::unique_ptr<PacketSource> makePacketSource(std::uint8_t brand, ByteSource& bytes, const DecoderSettings& settings);

}  // namespace norvale::convert
