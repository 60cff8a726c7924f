#include "parsers/brand_parser.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "format/task_header.h"
#include "parsers/brand_table.h"
#include "storage/read_ahead.h"

namespace norvale {

bool BrandParser::quickMode() const { return m_job->parseMode == kParseQuick; }

void BrandParser::scan(ScanJob& job, ScanSink& sink) {
  m_job = &job;
  m_sink = &sink;
  m_convention = timeConventionFor(job.brand, job.parseMode);
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
  const auto c = m_convention.calendar ? m_convention.calendar(time) : std::nullopt;
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

// ---- The linear block scan ----
//
// The walk: in each block (1 MiB of start positions, read with 512 bytes of look-ahead) the
// decoder's candidate search leads from position to position; a rejected candidate, and every
// position the search skipped, ends the open run; an accepted packet moves the walk on by its
// length. The next block starts where the walk left the last one: after a packet that ran past
// the block's end, or at the block's end.
//

namespace {
constexpr std::size_t kWindowBytes = kBlockSize + kLookAhead;
constexpr std::size_t kReadAheadSlot = 8 << 20;
constexpr std::uint64_t kReadAheadFrom = 8 * kBlockSize;  // smaller ranges read block by block

// The walk's steps as the one-thread scan takes them.
struct DirectEvents {
  static constexpr bool kDirect = true;  // the parser's own hooks run at every tested position
  RunAccumulator* run = nullptr;
  std::function<void(const Packet&)> onAccept;
  bool join(std::uint64_t) { return false; }
  void accept(std::uint64_t, const Packet& packet) { onAccept(packet); }
  void reject(std::uint64_t) {
    if (run) run->reject();
  }
  void tested(std::uint64_t, bool) {}
};
}  // namespace

template <typename Events>
BrandParser::WalkStop BrandParser::walkWindow(const std::uint8_t* buffer, std::size_t n, std::uint64_t pos,
                                              DeviceHandle& source, Events& events) {
  std::size_t i = 0;
  while (i <= kWindowLastStart) {
    if (events.join(pos + i)) return {i, true};
    const std::size_t candidate = m_decoder.nextCandidate(buffer, i, kWindowLastStart);
    if (candidate != i) {
      events.reject(pos + i);  // every skipped position would have been rejected
      i = candidate;
      if (i > kWindowLastStart) break;
    }
    const PacketWindow window{buffer + i, kWindowBytes - i, static_cast<std::int64_t>(n) - static_cast<std::int64_t>(i),
                              pos + i};
    if constexpr (Events::kDirect) beforePacketTest(window);
    if (auto packet = m_decoder.decode(window, source)) {
      events.tested(pos + i, true);
      events.accept(pos + i, *packet);
      i += static_cast<std::size_t>(std::max<std::uint64_t>(packet->advance, 1));
    } else {
      events.tested(pos + i, false);
      events.reject(pos + i);
      ++i;
    }
  }
  return {i, false};
}

void BrandParser::linearBlockScan() {
  const std::uint64_t start = m_job->startOffset;
  const std::uint64_t end = rangeEnd();
  if (start < end) {
    m_sink->scanStarted(static_cast<std::int64_t>(end / kBlockSize));
    sequentialWalk(start, end);
    if (m_run) m_run->finish();
  }
  if (!m_sink->stopRequested()) m_job->endSector = end / 512;
  m_sink->flush();
  m_run.reset();
}

void BrandParser::sequentialWalk(std::uint64_t start, std::uint64_t end) {
  DeviceHandle& source = device();
  std::vector<std::uint8_t> buffer(kWindowBytes);
  std::optional<ReadAhead> ahead;
  if (m_job->options.readAhead && end - start >= kReadAheadFrom)
    ahead.emplace(source.share(), start, end, kReadAheadSlot, kWindowBytes);
  DirectEvents events;
  events.run = openRun();
  events.onAccept = [this](const Packet& p) { onPacket(p); };
  std::uint64_t pos = start;
  while (keepScanning()) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), end - pos));
    // The read-ahead's window when it holds the block as the device gave it, else a read of
    // the block itself (which also tells the failures); only bytes past what the device gave
    // need zeros.
    const std::uint8_t* window = ahead ? ahead->window(pos, kWindowBytes) : nullptr;
    bool read = window != nullptr;
    if (!read) {
      std::size_t filled = 0;
      read = source.readAt(pos, std::span(buffer.data(), n), filled);
      if (read) std::memset(buffer.data() + filled, 0, buffer.size() - filled);
      window = buffer.data();
    }
    if (!read) {
      reportUnreadable();
      pos += n;
      rejectRun();
    } else {
      const std::size_t i = walkWindow(window, n, pos, source, events).next;
      m_sink->flushIfFull();
      m_sink->progress(static_cast<std::int64_t>((pos + i) / kBlockSize), (pos + i) / 512);
      pos += i;
      afterBlock(pos);
    }
    if (pos >= end) break;
  }
}

}  // namespace norvale
