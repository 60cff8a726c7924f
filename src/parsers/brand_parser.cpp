#include "parsers/brand_parser.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "task/brand_registry.h"

namespace norvale {

std::string BrandParser::brandText() const { return brandName(m_task.brand); }

void BrandParser::reportStoreFailure(const Error& error) {
  if (m_storeFailed) return;
  m_storeFailed = true;
  m_task.postMessage("写入任务文件失败,请检查任务路径所在磁盘: " + error.message);
}

void BrandParser::run() {
  clearLists();
  m_storeFailed = false;
  ResultStore& store = *m_task.store;
  if (auto r = store.writeHeader(); !r) reportStoreFailure(r.error());
  const std::string brand = brandText();
  m_task.postMessage((quickMode() ? "正在快速解析**" : "正在深度解析**") + brand + "**视频流信息...");
  if (!m_storeFailed) {
    if (quickMode())
      scanQuick();
    else
      scanDeep();
  }
  m_task.postMessage("正在构建重组**" + brand + "**视频流信息...");
  if (auto r = rebuild(); !r) reportStoreFailure(r.error());
  m_task.postMessage((quickMode() ? "快速解析**" : "深度解析**") + brand + "**视频流信息完成");
  if (auto r = store.writeHeader(); !r) reportStoreFailure(r.error());
  clearLists();
}

std::uint32_t BrandParser::hourCode(std::uint32_t time) const {
  const TimeConvention convention = timeConvention();
  const auto c = convention.calendar ? convention.calendar(time) : std::nullopt;
  return c ? calendarCode(c->year, c->month, c->day, c->hour) : 0;
}

Result<void> BrandParser::load() { return m_task.store->loadFileMap(timeConvention()); }

Result<void> BrandParser::rebuild() {
  ResultStore& store = *m_task.store;
  if (auto r = store.readIndex(); !r) return r;
  if (auto r = store.sortPass(); !r) return r;
  return store.groupingPass(GroupingVariant::JoinRule, timeConvention());
}

void BrandParser::addRecord(const SegmentRecord& record, std::uint64_t key) {
  m_task.store->addSegment(record, key);
  m_task.status.foundBytes += record.size;
  m_task.status.foundCount += 1;
}

void BrandParser::flushIfFull() {
  if (m_task.store->pendingCount() > kFlushThreshold)
    if (auto r = m_task.store->flushPending(); !r) reportStoreFailure(r.error());
}

void BrandParser::onPacket(const Packet& packet) {
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

bool BrandParser::followerHasMagic(const PacketWindow& window, DeviceHandle& device, std::uint64_t at,
                                   std::span<const std::uint8_t> magic) const {
  const std::uint64_t end = at + magic.size();
  const std::uint64_t inBuffer = static_cast<std::uint64_t>(std::max<std::int64_t>(window.valid, 0));
  if (end <= inBuffer && end <= window.available) return std::memcmp(window.data + at, magic.data(), magic.size()) == 0;
  const std::uint64_t spot = window.deviceOffset + at;
  if (spot + magic.size() > device.size()) return false;  // no follower past the source's end
  std::uint8_t block[1024] = {};
  device.readAt(spot / 512 * 512, block);
  const std::size_t inBlock = static_cast<std::size_t>(spot % 512);
  return inBlock + magic.size() <= sizeof block && std::memcmp(block + inBlock, magic.data(), magic.size()) == 0;
}

void BrandParser::followerBytes(const PacketWindow& window, DeviceHandle& device, std::uint64_t at,
                                std::span<std::uint8_t> out, std::uint64_t inBufferNeed) {
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
  device.readAt(spot / 512 * 512, block);
  const std::size_t inBlock = static_cast<std::size_t>(spot % 512);
  if (!device.ok() || inBlock + out.size() > sizeof block) {
    std::memset(out.data(), 0, out.size());
    return;
  }
  std::memcpy(out.data(), block + inBlock, out.size());
}

void BrandParser::linearBlockScan() {
  const std::uint64_t start = m_task.startOffset;
  const std::uint64_t end = m_task.startOffset + m_task.length;
  if (start < end) {
    m_task.status.code = StatusCode::ScanStart;
    m_task.status.value = static_cast<std::int64_t>(end / kBlockSize);
    m_task.notify();
    std::vector<std::uint8_t> buffer(kBlockSize + kLookAhead);
    DeviceHandle& device = m_task.deviceHandle;
    std::uint64_t pos = start;
    while (!m_task.stopRequested() && !m_storeFailed) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), end - pos));
      std::memset(buffer.data(), 0, buffer.size());
      device.readAt(pos, std::span(buffer.data(), n));
      if (!device.ok()) {
        m_task.postMessage("读取源设备失败,可能存在坏道");
        pos += n;
        onUnreadableBlock();
      } else {
        std::size_t i = 0;
        while (i <= kWindowLastStart) {
          const std::size_t candidate = nextCandidate(buffer.data(), i, kWindowLastStart);
          if (candidate != i) {
            onRejected();  // every skipped position would have been rejected
            i = candidate;
            if (i > kWindowLastStart) break;
          }
          const PacketWindow window{buffer.data() + i, buffer.size() - i,
                                    static_cast<std::int64_t>(n) - static_cast<std::int64_t>(i), pos + i};
          beforePacketTest(window);
          if (auto packet = testPacket(window, device)) {
            onPacket(*packet);
            i += static_cast<std::size_t>(std::max<std::uint64_t>(packet->advance, 1));
          } else {
            onRejected();
            ++i;
          }
        }
        flushIfFull();
        m_task.status.currentSector = (pos + i) / 512;
        m_task.status.code = StatusCode::ScanProgress;
        m_task.status.value = static_cast<std::int64_t>((pos + i) / kBlockSize);
        m_task.notify();
        pos += i;
        afterBlock(pos);
      }
      if (pos >= end) break;
    }
    afterLinearScan();
  }
  if (!m_task.stopRequested()) m_task.endSector = end / 512;
  if (auto r = m_task.store->flushPending(); !r) reportStoreFailure(r.error());
}

}  // namespace norvale
