#pragma once
// The one table of recorder designs: which brand ids each serves, its parser slot, its packet
// decoder, how to make its scanner, how its times read, and how its files are rebuilt. Adding a
// brand is a parser unit plus one line in brand_table.cpp.
#include <cstdint>
#include <memory>
#include <span>

#include "format/rebuild_plan.h"
#include "format/task_header.h"
#include "format/time_convention.h"

namespace norvale {

class BrandParser;
class PacketDecoder;

// Where the conversion finds a brand's video in the files export writes.
enum class VideoCarrier : std::uint8_t {
  None,           // no reader
  RawStream,      // the file is the coded stream itself; the record times time it
  ProgramStream,  // MPEG-2 program stream: packs, a stream map, PES packets
  Dhav,           // DHAV frames: 24-byte header, extension fields, payload, 8-byte trailer
  Wfs,            // FC (key, timed) and FD video packets, FA audio, F9 information
  Jvs,            // 16-byte headers; the 80-byte channel packet carries no video
  Boli,           // 16-byte headers
  Headered,       // a header of the design's own, then the coded video to the packet's end
};
// Where a Headered packet's video begins.
enum class HeaderLength : std::uint8_t {
  Fixed,             // after headerBytes
  StatedAtByte4,     // the header states its own length in its byte 4
  PayloadLengthAt8,  // after headerBytes, for the 32-bit length at byte 8 (the packet is padded)
};
struct ConversionLayout {
  VideoCarrier carrier = VideoCarrier::None;
  std::uint16_t headerBytes = 0;
  HeaderLength headerLength = HeaderLength::Fixed;
  bool packetTimes = true;        // false: no packet carries a time; pictures spread over the file's span
  const char* demuxer = nullptr;  // FFmpeg's demuxer for the library walk, when it has one
};

// Brand ids run from 1 to kLastBrand (format/task_header.h). Those from kSharedFamilyFirst on
// are one design and share one row, one parser slot and one identification count.
inline constexpr std::uint8_t kSharedFamilyFirst = 18;
inline constexpr int kParserSlotCount = kSharedFamilyFirst;

struct BrandRow {
  std::uint8_t first = 0;  // brand ids first..last share this row
  std::uint8_t last = 0;
  int slot = 0;            // parser slot in the task context
  const PacketDecoder* decoder = nullptr;
  std::unique_ptr<BrandParser> (*create)() = nullptr;
  TimeConvention (*convention)(std::uint8_t parseMode) = nullptr;
  RebuildPlan quickRebuild;
  RebuildPlan deepRebuild;
  const char* fileExtension = "dat";  // of exported files
  ConversionLayout conversion;
  // The identification samples this id with another design's packet test (0: its own), where
  // two ids write the same packets.
  std::uint8_t identifiedBy = 0;

  const RebuildPlan& rebuild(std::uint8_t parseMode) const { return parseMode == 0 ? quickRebuild : deepRebuild; }
};

std::span<const BrandRow> brandTable();
// The row serving a brand id; null for 0 and ids above kLastBrand.
const BrandRow* findBrand(std::uint8_t brand);
// The time convention of a brand in a parse mode (PackedTime for unknown brands).
TimeConvention timeConventionFor(std::uint8_t brand, std::uint8_t parseMode);
const char* fileExtensionFor(std::uint8_t brand);
// How the conversion reads the brand's files (carrier None for an unknown brand).
ConversionLayout conversionLayoutFor(std::uint8_t brand);

}  // namespace norvale
