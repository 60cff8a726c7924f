#include "parsers/index_table.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/byte_reader.h"

namespace norvale {

using namespace index_table;

std::optional<IndexTableLayout> readIndexSuperblock(std::span<const std::uint8_t> sector, std::uint64_t volumeStart,
                                                    std::uint32_t magic) {
  if (sector.size() < kSuperblockBytes) return std::nullopt;
  const std::uint8_t* p = sector.data();
  if (le32(p + kMagicAt) != magic) return std::nullopt;
  const std::uint64_t unit = le32(p + kUnitAt);
  const std::uint64_t blockSize = unit * le32(p + kUnitsPerBlockAt);
  if (blockSize == 0 || unit % 512 != 0 || blockSize > kMaxBlockSize) return std::nullopt;
  const std::uint32_t records = le32(p + kRecordCountAt);
  const std::uint64_t indexBytes = static_cast<std::uint64_t>(records) * kRecordBytes;
  if (indexBytes == 0 || indexBytes > kMaxIndexBytes) return std::nullopt;
  IndexTableLayout layout;
  layout.blockSize = blockSize;
  layout.recordCount = records;
  // unit <= 10 MiB and the unit counts are 32-bit: these stay far below 2^64.
  layout.indexStart = volumeStart + le32(p + kIndexStartAt) * unit;
  layout.indexLength = (indexBytes + 511) / 512 * 512;
  layout.dataStart = volumeStart + le32(p + kDataStartAt) * unit;
  return layout;
}

void IndexTableParser::walkIndex(const IndexTableLayout& layout) {
  DeviceHandle& source = device();
  const std::uint64_t size = deviceSize();
  // A hostile or foreign superblock may place the index past the source: read only what exists.
  std::uint64_t end = layout.indexEnd();
  if (end > size) {
    end = std::max(size, layout.indexStart);
    sink().report(IndexPastSourceEnd{});
  }
  sink().scanStarted(static_cast<std::int64_t>(layout.indexLength / kBlockSize));

  std::vector<std::uint8_t> buffer(kBlockSize);
  std::uint64_t pos = layout.indexStart;
  std::uint64_t k = 0;
  std::uint64_t pastEnd = 0;
  while (pos < end && keepScanning()) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, end - pos));
    std::memset(buffer.data(), 0, buffer.size());
    if (!source.readAt(pos, std::span(buffer.data(), n))) {
      k += n / kRecordBytes;  // later records keep their data blocks
      reportUnreadable(pos, n);
      pos += n;
      continue;
    }
    endStretch();
    const std::size_t count = (n - 1) / kRecordBytes + 1;
    for (std::size_t r = 0; r < count; ++r, ++k) {
      const auto entry = decodeIndexRecord(buffer.data() + r * kRecordBytes, layout.recordCount);
      if (!entry) continue;
      SegmentRecord record;
      record.kind = SegmentKind::Key;
      record.channel = entry->channel;
      record.startTime = entry->startTime;
      record.endTime = entry->endTime;
      record.firstKeyOffset = -1;
      record.deviceOffset = layout.dataStart + k * layout.blockSize;
      // A block that is not on the source cannot be recovered from it; one cut by the source's
      // end keeps the bytes that are there.
      if (record.deviceOffset >= size) {
        ++pastEnd;
        continue;
      }
      record.size = std::min(layout.blockSize, size - record.deviceOffset);
      addRecord(record, storeKey(record.channel, hourCode(record.startTime)));
    }
    pos += n;
    sink().progress(static_cast<std::int64_t>((pos - layout.indexStart) / kBlockSize));
    sink().flushIfFull();
  }
  if (pastEnd > 0) sink().report(IndexRecordsPastSourceEnd{pastEnd});
  if (!sink().stopRequested()) job().endSector = size / 512;
  sink().flush();
}

}  // namespace norvale
