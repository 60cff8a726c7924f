#include "parsers/volume_table_parser.h"

#include <cstring>

#include "base/byte_reader.h"
#include "format/packed_time.h"

namespace norvale {

using namespace volume_table;

const PacketDecoder& volumeTableDecoder(std::uint8_t brand) {
  static const VolumeTableDecoder kDecoders[] = {
      VolumeTableDecoder(kVolumeTableBrands[0]), VolumeTableDecoder(kVolumeTableBrands[1]),
      VolumeTableDecoder(kVolumeTableBrands[2]), VolumeTableDecoder(kVolumeTableBrands[3]),
      VolumeTableDecoder(kVolumeTableBrands[4])};
  static_assert(std::size(kDecoders) == std::size(kVolumeTableBrands));
  for (std::size_t i = 0; i < std::size(kVolumeTableBrands); ++i)
    if (kVolumeTableBrands[i].brand == brand) return kDecoders[i];
  return kDecoders[0];
}

VolumeTableParser::VolumeTableParser(std::uint8_t brand)
    : IndexTableParser(volumeTableDecoder(brand)),
      m_brand(findVolumeTableBrand(brand) ? *findVolumeTableBrand(brand) : kVolumeTableBrands[0]) {}

TimeConvention VolumeTableParser::timeConvention(std::uint8_t) { return packedTimeConvention(); }
std::uint32_t VolumeTableParser::hourCode(std::uint32_t time) const { return PackedTime{time}.hourCode(); }

void VolumeTableParser::buildVolumes(DeviceHandle& source, ScanSink& sink) {
  m_volumes.clear();
  const std::uint64_t size = source.size();
  const std::uint64_t deviceSectors = size / 512;
  // A source too small to hold the table has none; that is not a read failure.
  if (m_brand.tableOffset + kTableBytes <= size) {
    std::uint8_t table[kTableBytes] = {};
    if (!source.readAt(m_brand.tableOffset, table)) {
      sink.report(VolumeTableUnreadable{});
      return;
    }
    if (le32(table + m_brand.signatureAt) == kSignature) {
      std::uint64_t previousEnd = 0;
      for (const std::size_t at : m_brand.entriesAt) {
        const std::uint8_t* entry = table + at;
        const std::uint64_t superblockSector = le64(entry + m_brand.superblockSectorAt);
        const std::uint64_t first = le64(entry + kEntryFirstSectorAt);
        const std::uint64_t count = le64(entry + kEntrySectorCountAt);
        // (first + count) x 512 <= size, without letting hostile values wrap around.
        const bool fits = first <= deviceSectors && count <= deviceSectors - first;
        if (superblockSector != kSuperblockSector || count < kMinVolumeSectors || !fits) continue;
        const RecorderVolume volume{superblockSector * 512, first * 512, count * 512};
        if (volume.start < previousEnd) break;  // overlapping volumes: the table is not trusted further
        m_volumes.push_back(volume);
        previousEnd = volume.start + volume.size;
      }
    }
  }
  if (m_volumes.empty()) m_volumes.push_back(RecorderVolume{kDefaultSuperblockOffset, 0, size});
}

void VolumeTableParser::scanQuick() {
  buildVolumes(device(), sink());
  for (const RecorderVolume& volume : m_volumes) {
    if (!keepScanning()) break;
    readVolumeIndex(volume);
  }
  m_volumes.clear();
}

void VolumeTableParser::readVolumeIndex(const RecorderVolume& volume) {
  const std::uint64_t at = volume.start + volume.superblockOffset;
  if (at + index_table::kSuperblockBytes > deviceSize()) {
    sink().report(NoRecorderIndex{m_brand.brand});
    return;
  }
  std::uint8_t sector[index_table::kSuperblockBytes] = {};
  if (!device().readAt(at, sector)) {
    reportUnreadable(at, sizeof sector);
    return;
  }
  const auto layout = readIndexSuperblock(sector, volume.start, kSignature);
  if (!layout) {
    sink().report(NoRecorderIndex{m_brand.brand});
    return;
  }
  walkIndex(*layout);
}

std::optional<IndexEntry> VolumeTableParser::decodeIndexRecord(const std::uint8_t* record,
                                                                std::uint32_t recordCount) const {
  const std::uint32_t start = le32(record + kRecordStartAt);
  const std::uint32_t end = le32(record + kRecordEndAt);
  if (!PackedTime{start}.plausible(years()) || !PackedTime{end}.plausible(years())) return std::nullopt;
  for (const std::size_t at : kRecordNumbersAt)
    if (le32(record + at) > recordCount) return std::nullopt;
  const std::uint8_t kind = record[kRecordKindAt];
  if (kind != 1 && kind != 2) return std::nullopt;
  return IndexEntry{static_cast<std::uint32_t>((record[kRecordChannelAt] & 0x0F) + 1), start, end};
}

void VolumeTableParser::scanDeep() {
  RunRules rules;
  rules.breakRule = RunBreakRule::ChannelAndGap;
  rules.minimumLength = kMinRunLength;
  rules.continues = &packedRunContinues;
  startRun(rules, [this](const SegmentRecord& run) {
    addRecord(run, storeKey(run.channel, PackedTime{run.startTime}.hourCode()));
  });
  linearBlockScan();
}

std::size_t VolumeTableDecoder::nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const {
  const std::uint8_t* at = buffer + from;
  const std::uint8_t* const stop = buffer + last + 1;
  while (at < stop) {
    const auto* hit = static_cast<const std::uint8_t*>(std::memchr(at, m_brand.frameMagic[0], static_cast<std::size_t>(stop - at)));
    if (!hit) break;
    // The buffer's look-ahead holds the rest of a magic that starts at last.
    if (std::memcmp(hit, m_brand.frameMagic.data(), 4) == 0) return static_cast<std::size_t>(hit - buffer);
    at = hit + 1;
  }
  return last + 1;
}

std::optional<Packet> VolumeTableDecoder::decode(const PacketWindow& w, DeviceHandle& device) const {
  if (w.available < kFrameHeaderBytes) return std::nullopt;
  const std::uint8_t* p = w.data;
  if (std::memcmp(p, m_brand.frameMagic.data(), 4) != 0) return std::nullopt;
  const std::uint32_t time = le32(p + kFrameTimeAt);
  if (!PackedTime{time}.plausible(w.years)) return std::nullopt;
  const std::uint32_t length = le32(p + kFrameLengthAt);
  if (length <= kFrameHeaderBytes || length > kMaxFrameLength) return std::nullopt;
  const std::uint16_t type = le16(p + kFrameTypeAt);
  const SegmentKind kind = (type == 0x00FC || type == 0x00FD) ? SegmentKind::Key : SegmentKind::Other;

  // The tail is taken from the buffer when the whole frame came from the device with it,
  // otherwise from a two-sector read around it (a failed read leaves zeros and rejects).
  bool tailOk = false;
  if (w.valid >= 0 && length <= static_cast<std::uint64_t>(w.valid) && length <= w.available) {
    const std::uint8_t* tail = p + length - kFrameTailBytes;
    tailOk = std::memcmp(tail, m_brand.tailMagic.data(), 4) == 0 && le32(tail + 4) == length;
  } else {
    const std::uint64_t q = w.deviceOffset + length - kFrameTailBytes;
    if (q + kFrameTailBytes <= device.size()) {  // a frame cut by the source's end is not read on
      std::uint8_t block[1024] = {};
      const std::uint8_t* tail = block + q % 512;
      tailOk = device.readAt(q / 512 * 512, block) && std::memcmp(tail, m_brand.tailMagic.data(), 4) == 0 && le32(tail + 4) == length;
    }
  }
  if (!tailOk) return std::nullopt;

  Packet packet;
  packet.kind = kind;
  packet.channel = static_cast<std::uint8_t>(p[kFrameChannelAt] + 1);
  packet.time = time;
  packet.dataOffset = w.deviceOffset;
  packet.dataLength = length;
  packet.advance = length;
  return packet;
}

}  // namespace norvale
