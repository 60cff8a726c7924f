#include "convert/packet_source.h"

#include <algorithm>
#include <vector>

#include "parsers/brand_parser.h"
#include "parsers/brand_table.h"
#include "parsers/packet_decoder.h"

namespace norvale::convert {

namespace {

// Lends the file's bytes to a DeviceHandle without giving them away.
class BorrowedSource final : public ByteSource {
 public:
  explicit BorrowedSource(ByteSource& bytes) : m_bytes(bytes) {}
  Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> dst) override { return m_bytes.readAt(offset, dst); }
  Result<std::uint64_t> size() override { return m_bytes.size(); }

 private:
  ByteSource& m_bytes;
};

class ParserPacketSource final : public PacketSource {
 public:
  ParserPacketSource(const PacketDecoder& decoder, ByteSource& bytes, const DecoderSettings& settings)
      : m_decoder(decoder), m_settings(settings), m_buffer(kBlockSize + kLookAhead) {
    m_size = bytes.size().value_or(0);
    m_device.open(std::make_unique<BorrowedSource>(bytes));
  }

  std::optional<CarrierPacket> next(std::uint64_t from) override {
    for (std::uint64_t pos = from; pos < m_size;) {
      if (pos < m_blockStart || pos >= m_blockStart + kBlockSize) load(pos);
      // Candidate starts of this block that lie in the file.
      const std::size_t last = static_cast<std::size_t>(std::min<std::uint64_t>(kWindowLastStart, m_size - 1 - m_blockStart));
      const std::size_t i = m_decoder.nextCandidate(m_buffer.data(), static_cast<std::size_t>(pos - m_blockStart), last);
      if (i > last) {
        pos = m_blockStart + last + 1;
        continue;
      }
      pos = m_blockStart + i;
      PacketWindow window{m_buffer.data() + i, m_buffer.size() - i,
                          static_cast<std::int64_t>(m_valid) - static_cast<std::int64_t>(i), pos};
      applySettings(window);
      window.streamEnds = true;
      auto packet = m_decoder.decode(window, m_device);
      const std::uint64_t length = packet ? std::max<std::uint64_t>(packet->advance, 1) : 0;
      if (packet && pos + length <= m_size)  // else cut by the end of the file
        return CarrierPacket{pos, length, packet->kind == SegmentKind::Key, packet->time, packet->channel};
      ++pos;
    }
    return std::nullopt;
  }

 private:
  // The task's rules for the packet test, in one place.
  void applySettings(PacketWindow& window) const {
    window.zone = m_settings.zone;
    window.years = m_settings.years;
  }

  void load(std::uint64_t pos) {
    m_blockStart = pos;
    std::fill(m_buffer.begin(), m_buffer.end(), 0);
    m_valid = static_cast<std::size_t>(std::min<std::uint64_t>(m_buffer.size(), m_size - pos));
    if (!m_device.readAt(pos, std::span(m_buffer.data(), m_valid))) m_valid = 0;
  }

  const PacketDecoder& m_decoder;
  DecoderSettings m_settings;
  DeviceHandle m_device;
  std::vector<std::uint8_t> m_buffer;
  std::uint64_t m_blockStart = UINT64_MAX;
  std::size_t m_valid = 0;
  std::uint64_t m_size = 0;
};

}  // namespace

std::unique_ptr<PacketSource> makePacketSource(std::uint8_t brand, ByteSource& bytes, const DecoderSettings& settings) {
  const BrandRow* row = findBrand(brand);
  if (!row || !row->decoder) return nullptr;
  return std::make_unique<ParserPacketSource>(*row->decoder, bytes, settings);
}

}  // namespace norvale::convert
