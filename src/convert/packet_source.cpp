#include "convert/packet_source.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "parsers/brand_parser.h"
#include "parsers/brand_table.h"
#include "parsers/packet_decoder.h"

namespace norvale::convert {

namespace {

constexpr std::uint64_t kMirrorBytes = 4096;

// Lends the file's bytes to a DeviceHandle without giving them away. The file's last packet
// had its follower on the disk, not in the file: past the end, the bytes of the file's first
// packet stand in for it, so the packet test accepts the last packet as the scan did.
class BorrowedSource final : public ByteSource {
 public:
  explicit BorrowedSource(ByteSource& bytes) : m_bytes(bytes), m_size(bytes.size().value_or(0)) {}
  Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> dst) override {
    std::size_t done = 0;
    if (offset < m_size) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(dst.size(), m_size - offset));
      auto got = m_bytes.readAt(offset, dst.first(n));
      if (!got) return got;
      done = *got;
      if (done < n) return done;
    }
    while (done < dst.size() && offset + done < m_size + kMirrorBytes) {
      const std::uint64_t mirrored = m_head + (offset + done - m_size);
      if (mirrored >= m_size) break;
      const std::size_t n = static_cast<std::size_t>(
          std::min<std::uint64_t>({dst.size() - done, m_size + kMirrorBytes - (offset + done), m_size - mirrored}));
      auto got = m_bytes.readAt(mirrored, dst.subspan(done, n));
      if (!got || *got == 0) break;
      done += *got;
    }
    return done;
  }
  Result<std::uint64_t> size() override { return m_size + kMirrorBytes; }
  void setHead(std::uint64_t head) { m_head = head; }

 private:
  ByteSource& m_bytes;
  std::uint64_t m_size;
  std::uint64_t m_head = 0;  // where the first packet lies
};

class ParserPacketSource final : public PacketSource {
 public:
  ParserPacketSource(const BrandRow& row, std::uint8_t parseMode, ByteSource& bytes)
      : m_decoder(*row.decoder), m_convention(row.convention(parseMode)), m_buffer(kBlockSize + kLookAhead) {
    auto borrowed = std::make_unique<BorrowedSource>(bytes);
    m_borrowed = borrowed.get();
    m_size = bytes.size().value_or(0);
    m_device.open(std::move(borrowed));
  }

  std::optional<CarrierPacket> next(std::uint64_t from) override {
    for (std::uint64_t pos = from; pos < m_size; ++pos) {
      if (pos < m_blockStart || pos >= m_blockStart + kBlockSize) load(pos);
      const std::size_t i = static_cast<std::size_t>(pos - m_blockStart);
      const PacketWindow window{m_buffer.data() + i, m_buffer.size() - i,
                                static_cast<std::int64_t>(m_valid) - static_cast<std::int64_t>(i), pos};
      auto packet = m_decoder.decode(window, m_device);
      if (!packet) continue;
      const std::uint64_t length = std::max<std::uint64_t>(packet->advance, 1);
      if (pos + length > m_size) continue;  // cut by the end of the file
      if (!m_headKnown) {
        m_headKnown = true;
        m_borrowed->setHead(pos);
        m_blockStart = UINT64_MAX;  // what lay past the end reads differently now
      }
      return CarrierPacket{pos, length, packet->kind == SegmentKind::Key, packet->time, packet->channel};
    }
    return std::nullopt;
  }

  TimeConvention timeConvention() const override { return m_convention; }

 private:
  void load(std::uint64_t pos) {
    m_blockStart = pos;
    std::fill(m_buffer.begin(), m_buffer.end(), 0);
    m_valid = static_cast<std::size_t>(std::min<std::uint64_t>(m_buffer.size(), m_size + kMirrorBytes - pos));
    if (!m_device.readAt(pos, std::span(m_buffer.data(), m_valid))) m_valid = 0;
  }

  const PacketDecoder& m_decoder;
  TimeConvention m_convention;
  DeviceHandle m_device;
  std::vector<std::uint8_t> m_buffer;
  std::uint64_t m_blockStart = UINT64_MAX;
  std::size_t m_valid = 0;
  std::uint64_t m_size = 0;
  BorrowedSource* m_borrowed = nullptr;
  bool m_headKnown = false;
};

}  // namespace

std::unique_ptr<PacketSource> makePacketSource(std::uint8_t brand, std::uint8_t parseMode, ByteSource& bytes) {
  const BrandRow* row = findBrand(brand);
  if (!row || !row->decoder) return nullptr;
  return std::make_unique<ParserPacketSource>(*row, parseMode, bytes);
}

}  // namespace norvale::convert
