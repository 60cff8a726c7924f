#pragma once
// The one table of recorder designs: which brand ids each serves and their display names, its
// packet decoder, how to make its scanner, how its times read, how its files
// are rebuilt, exported and converted, and how the identification samples it. Adding a brand
// is a parser unit plus one row in brand_table.cpp.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

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

// A name a recorder stamps into the first bytes of its disk (storage's kSignatureBytes), which
// the device list shows before any scan.
struct DiskStamp {
  std::uint16_t at = 0;    // byte offset from the disk's start
  std::string_view bytes;  // exactly these, trailing zero bytes included; empty: no stamp
  // Stamps are tried from the lowest rank; the first that matches names the disk, which
  // matters where two could match (a stamp at 0 and one at 528 on the same disk).
  std::uint8_t rank = 0;
};

// Brand ids run from the first row's first id to the last row's last id, which is the highest
// brand the task header accepts (kLastBrand, format/task_header.h). The ids of one row are one
// design: they share one parser and one identification count.
struct BrandRow {
  std::uint8_t first = 0;  // brand ids first..last share this row
  std::uint8_t last = 0;
  std::span<const char* const> names;  // display names of ids first..last, in id order
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
  // For a design whose quick scan reads an index of the recorder's own: the recorder as the line
  // naming a disk without that index calls it.
  const char* indexRecorder = nullptr;
  // The stamp this design's recorders put on their disks; it names the row's first id.
  DiskStamp stamp;

  const RebuildPlan& rebuild(std::uint8_t parseMode) const { return parseMode == 0 ? quickRebuild : deepRebuild; }
  // The display name of one of the row's ids.
  const char* name(std::uint8_t brand) const { return names[static_cast<std::size_t>(brand - first)]; }
};

std::span<const BrandRow> brandTable();
// The lowest and the highest brand id of the table.
int firstBrand();
int lastBrand();
// The row serving a brand id; null for 0 and ids above lastBrand().
const BrandRow* findBrand(std::uint8_t brand);
// The time convention of a brand in a parse mode (PackedTime for unknown brands).
TimeConvention timeConventionFor(std::uint8_t brand, std::uint8_t parseMode);
const char* fileExtensionFor(std::uint8_t brand);
// How the conversion reads the brand's files (carrier None for an unknown brand).
ConversionLayout conversionLayoutFor(std::uint8_t brand);

}  // namespace norvale
