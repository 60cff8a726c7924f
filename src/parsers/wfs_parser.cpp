#include "parsers/wfs_parser.h"

#include <cstring>

#include "base/byte_reader.h"
#include "format/packed_time.h"

namespace norvale {

using namespace wfs;

namespace {
// The brand whose row this design is.
constexpr std::uint8_t kWfsBrand = 3;
constexpr std::uint8_t kStartCode[3] = {0, 0, 1};
}  // namespace

const PacketDecoder& wfsDecoder() {
  static const WfsDecoder decoder;
  return decoder;
}

TimeConvention WfsParser::timeConvention(std::uint8_t) { return packedTimeConvention(); }
std::uint32_t WfsParser::hourCode(std::uint32_t time) const { return PackedTime{time}.hourCode(); }

void WfsParser::scanQuick() {
  // A source too small for the superblock has no file system of this kind.
  if (kSuperblockOffset + index_table::kSuperblockBytes > deviceSize()) {
    sink().report(NoRecorderIndex{kWfsBrand});
    return;
  }
  std::uint8_t sector[index_table::kSuperblockBytes] = {};
  if (!device().readAt(kSuperblockOffset, sector)) {
    reportUnreadable(kSuperblockOffset, sizeof sector);
    return;
  }
  const auto layout = readIndexSuperblock(sector, 0, kSuperblockMagic);
  if (!layout) {
    sink().report(NoRecorderIndex{kWfsBrand});
    return;
  }
  walkIndex(*layout);
}

std::optional<IndexEntry> WfsParser::decodeIndexRecord(const std::uint8_t* entry, std::uint32_t recordCount) const {
  const std::uint32_t start = le32(entry + kEntryStartAt);
  const std::uint32_t end = le32(entry + kEntryEndAt);
  if (!PackedTime{start}.plausible(years()) || !PackedTime{end}.plausible(years())) return std::nullopt;
  for (const std::size_t at : kEntryLinksAt)
    if (le32(entry + at) > recordCount) return std::nullopt;
  return IndexEntry{static_cast<std::uint32_t>(entry[kEntryChannelAt] / 4 + 1), start, end};
}

// Only key packets carry a time: the run's times come from its key packets, untimed packets
// never break it, and runs without any key packet are kept too.
void WfsParser::scanDeep() {
  RunRules rules;
  rules.breakRule = RunBreakRule::GapOnly;
  rules.onlyKeyPacketsSetEnd = true;
  rules.keyPacketSetsStart = true;
  rules.minimumLength = kMinRunLength;
  rules.continues = &packedRunContinues;
  startRun(rules, [this](const SegmentRecord& run) {
    addRecord(run, storeKey(run.channel, PackedTime{run.startTime}.hourCode()));
  });
  linearBlockScan();
}

std::size_t WfsDecoder::nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const {
  // Search for the 01 of 00 00 01; the look-ahead holds the bytes after a start code at last.
  const std::uint8_t* at = buffer + from + 2;
  const std::uint8_t* const stop = buffer + last + 3;
  while (at < stop) {
    const auto* one = static_cast<const std::uint8_t*>(std::memchr(at, 1, static_cast<std::size_t>(stop - at)));
    if (!one) break;
    if (one[-1] == 0 && one[-2] == 0) {
      const std::uint8_t type = one[1];
      if (type == kKeyType || type == kLongType || type == kShortType || type == kInfoType) return static_cast<std::size_t>(one - buffer) - 2;
    }
    at = one + 1;
  }
  return last + 1;
}

std::optional<Packet> WfsDecoder::decode(const PacketWindow& w, DeviceHandle& device) const {
  if (w.available < kHeaderBytes) return std::nullopt;
  const std::uint8_t* p = w.data;
  if (std::memcmp(p, kStartCode, 3) != 0) return std::nullopt;
  Packet packet;
  std::uint64_t size = 0;
  switch (p[3]) {
    case kKeyType: {
      if (w.available < kKeyHeaderBytes) return std::nullopt;
      const std::uint32_t length = le32(p + kKeyLengthAt);
      if (length > kMaxPacketLength) return std::nullopt;
      packet.time = le32(p + kKeyTimeAt);
      if (!PackedTime{packet.time}.plausible(w.years)) return std::nullopt;
      packet.kind = SegmentKind::Key;
      size = static_cast<std::uint64_t>(length) + kKeyHeaderBytes;
      break;
    }
    case kLongType: {
      const std::uint32_t length = le32(p + kLongLengthAt);
      if (length > kMaxPacketLength) return std::nullopt;
      packet.kind = SegmentKind::Other;
      size = static_cast<std::uint64_t>(length) + kHeaderBytes;
      break;
    }
    case kShortType:
    case kInfoType:
      packet.kind = SegmentKind::Other;
      size = static_cast<std::uint64_t>(le16(p + kShortLengthAt)) + kHeaderBytes;
      break;
    default:
      return std::nullopt;
  }
  if (!followerHasMagic(w, device, size, kStartCode)) return std::nullopt;
  packet.channel = 1;
  packet.dataOffset = w.deviceOffset;
  packet.dataLength = size;
  packet.advance = size;
  return packet;
}

}  // namespace norvale
