#include "parsers/brand_parser.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "format/task_header.h"
#include "parsers/brand_table.h"

namespace norvale {

bool BrandParser::quickMode() const { return m_job->parseMode == kParseQuick; }

void BrandParser::scan(ScanJob& job, ScanSink& sink) {
  m_job = &job;
  m_sink = &sink;
  m_convention = timeConventionFor(job.brand, job.parseMode);
  m_convention.zone = job.zone;
  clearLists();
  if (quickMode())
    scanQuick();
  else
    scanDeep();
  clearLists();
  m_run.reset();
  m_job = nullptr;
  m_sink = nullptr;
}

std::uint32_t BrandParser::hourCode(std::uint32_t time) const {
  const auto c = m_convention.calendar(time);
  return c ? calendarCode(c->year, c->month, c->day, c->hour) : 0;
}

void BrandParser::startRun(const RunRules& rules, std::function<void(const SegmentRecord&)> add) {
  m_run.emplace(rules, std::move(add));
}

void BrandParser::onPacket(const Packet& packet) {
  if (m_run) {
    m_run->accept(packet);
    return;
  }
  SegmentRecord record;
  record.kind = packet.kind;
  record.channel = packet.channel;
  record.startTime = packet.time;
  record.endTime = packet.time;
  record.firstKeyOffset = 0;
  record.deviceOffset = packet.dataOffset;
  record.size = packet.dataLength;
  addRecord(record, storeKey(packet.channel, hourCode(packet.time)));
}

bool followerHasMagic(const PacketWindow& window, DeviceHandle& device, std::uint64_t at,
                      std::span<const std::uint8_t> magic) {
  const std::uint64_t end = at + magic.size();
  const std::uint64_t inBuffer = static_cast<std::uint64_t>(std::max<std::int64_t>(window.valid, 0));
  if (end <= inBuffer && end <= window.available) return std::memcmp(window.data + at, magic.data(), magic.size()) == 0;
  const std::uint64_t spot = window.deviceOffset + at;
  if (spot + magic.size() > device.size()) return false;  // no follower past the source's end
  std::uint8_t block[1024] = {};
  if (!device.readAt(spot / 512 * 512, block)) return false;
  const std::size_t inBlock = static_cast<std::size_t>(spot % 512);
  return inBlock + magic.size() <= sizeof block && std::memcmp(block + inBlock, magic.data(), magic.size()) == 0;
}

void followerBytes(const PacketWindow& window, DeviceHandle& device, std::uint64_t at, std::span<std::uint8_t> out,
                   std::uint64_t inBufferNeed) {
  const std::uint64_t need = at + std::max<std::uint64_t>(inBufferNeed, out.size());
  const std::uint64_t inBuffer = static_cast<std::uint64_t>(std::max<std::int64_t>(window.valid, 0));
  if (need >= at && need <= inBuffer && at + out.size() <= window.available) {
    std::memcpy(out.data(), window.data + at, out.size());
    return;
  }
  const std::uint64_t spot = window.deviceOffset + at;
  std::memset(out.data(), 0, out.size());
  if (spot + out.size() > device.size()) return;  // no follower past the source's end
  std::uint8_t block[1024] = {};
  const std::size_t inBlock = static_cast<std::size_t>(spot % 512);
  if (!device.readAt(spot / 512 * 512, block) || inBlock + out.size() > sizeof block) return;
  std::memcpy(out.data(), block + inBlock, out.size());
}

void BrandParser::linearBlockScan() {
  const std::uint64_t start = m_job->startOffset;
  const std::uint64_t end = rangeEnd();
  if (start < end) {
    m_sink->scanStarted(static_cast<std::int64_t>(end / kBlockSize));
    std::vector<std::uint8_t> buffer(kBlockSize + kLookAhead);
    DeviceHandle& source = device();
    std::uint64_t pos = start;
    while (keepScanning()) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), end - pos));
      std::memset(buffer.data(), 0, buffer.size());
      if (!source.readAt(pos, std::span(buffer.data(), n))) {
        reportUnreadable();
        pos += n;
        if (m_run) m_run->reject();
      } else {
        std::size_t i = 0;
        while (i <= kWindowLastStart) {
          const std::size_t candidate = m_decoder.nextCandidate(buffer.data(), i, kWindowLastStart);
          if (candidate != i) {
            if (m_run) m_run->reject();  // every skipped position would have been rejected
            i = candidate;
            if (i > kWindowLastStart) break;
          }
          const PacketWindow window{buffer.data() + i, buffer.size() - i,
                                    static_cast<std::int64_t>(n) - static_cast<std::int64_t>(i), pos + i, m_job->zone};
          beforePacketTest(window);
          if (auto packet = m_decoder.decode(window, source)) {
            onPacket(*packet);
            i += static_cast<std::size_t>(std::max<std::uint64_t>(packet->advance, 1));
          } else {
            if (m_run) m_run->reject();
            ++i;
          }
        }
        m_sink->flushIfFull();
        m_sink->progress(static_cast<std::int64_t>((pos + i) / kBlockSize), (pos + i) / 512);
        pos += i;
        afterBlock(pos);
      }
      if (pos >= end) break;
    }
    if (m_run) m_run->finish();
  }
  if (!m_sink->stopRequested()) m_job->endSector = end / 512;
  m_sink->flush();
  m_run.reset();
}

}  // namespace norvale
