#pragma once
// Brand 3: recorders with the WFS file system, a superblock at 0x3000 and an index table of one
// 32-byte entry per data block. Deep mode carves the packet chain (00 00 01 FC/FD/FA/F9).
#include <cstdint>
#include <optional>

#include "parsers/index_table.h"
#include "parsers/run_accumulator.h"

namespace norvale {

namespace wfs {
inline constexpr std::uint64_t kSuperblockOffset = 0x3000;
inline constexpr std::uint32_t kSuperblockMagic = 0x789ABCDE;

// Index entry fields.
inline constexpr std::size_t kEntryLinksAt[3] = {4, 8, 24};
inline constexpr std::size_t kEntryStartAt = 12;
inline constexpr std::size_t kEntryEndAt = 16;
inline constexpr std::size_t kEntryChannelAt = 31;  // channel = code / 4 + 1

// Packets: 00 00 01 and a type byte.
inline constexpr std::uint8_t kKeyType = 0xFC;
inline constexpr std::uint8_t kLongType = 0xFD;
inline constexpr std::uint8_t kShortType = 0xFA;  // audio
// Information packets the recorders write between frames; laid out as FA packets.
inline constexpr std::uint8_t kInfoType = 0xF9;
inline constexpr std::size_t kKeyTimeAt = 8;
inline constexpr std::size_t kKeyLengthAt = 12;
inline constexpr std::size_t kKeyHeaderBytes = 16;
inline constexpr std::size_t kLongLengthAt = 4;
inline constexpr std::size_t kShortLengthAt = 6;
inline constexpr std::size_t kHeaderBytes = 8;  // of FD, FA and F9 packets
inline constexpr std::uint32_t kMaxPacketLength = 0x200000;
inline constexpr std::uint64_t kMinRunLength = 1024;
}  // namespace wfs

class WfsDecoder final : public PacketDecoder {
 public:
  std::optional<Packet> decode(const PacketWindow& window, DeviceHandle& device) const override;
  std::size_t nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const override;
};
const PacketDecoder& wfsDecoder();

class WfsParser final : public IndexTableParser {
 public:
  WfsParser() : IndexTableParser(wfsDecoder()) {}

  static TimeConvention timeConvention(std::uint8_t parseMode);
  std::uint32_t hourCode(std::uint32_t time) const override;
  static constexpr const char* kFileExtension = "dat";

 protected:
  void scanQuick() override;
  void scanDeep() override;
  std::optional<IndexEntry> decodeIndexRecord(const std::uint8_t* record, std::uint32_t recordCount) const override;
};

}  // namespace norvale
