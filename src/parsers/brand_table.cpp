#include "parsers/brand_table.h"

#include "parsers/brand_parser.h"
#include "parsers/marker_packet_parser.h"
#include "parsers/multi_brand_parser.h"
#include "format/packed_time.h"
#include "parsers/program_stream_parser.h"
#include "parsers/reversed_time_packet_parser.h"
#include "parsers/section_index_parser.h"
#include "parsers/timed_frame_chain_parser.h"
#include "parsers/unit_index_parser.h"
#include "parsers/untimed_frame_chain_parser.h"
#include "parsers/volume_table_parser.h"
#include "parsers/wfs_parser.h"

namespace norvale {
namespace {

// A row whose parser serves its ids with constants of its own.
template <typename Parser>
BrandRow row(std::uint8_t first, std::uint8_t last, const PacketDecoder& decoder, RebuildPlan quick,
             RebuildPlan deep) {
  return BrandRow{first,
                  last,
                  first <= 17 ? first - 1 : 17,
                  &decoder,
                  []() -> std::unique_ptr<BrandParser> { return std::make_unique<Parser>(); },
                  &Parser::timeConvention,
                  quick,
                  deep,
                  Parser::kFileExtension};
}

// One brand of a design shared by several brands: the parser is told which brand it serves.
template <typename Parser, std::uint8_t Brand>
BrandRow brandRow(const PacketDecoder& decoder, RebuildPlan quick, RebuildPlan deep) {
  return BrandRow{Brand,
                  Brand,
                  Brand - 1,
                  &decoder,
                  []() -> std::unique_ptr<BrandParser> { return std::make_unique<Parser>(Brand); },
                  &Parser::timeConvention,
                  quick,
                  deep,
                  Parser::kFileExtension};
}

// Built on first use, so that a lookup made while other objects are initialised finds it.
std::span<const BrandRow> rows() {
  static const BrandRow kRows[] = {
    row<ProgramStreamParser>(1, 1, programStreamDecoder(), kSortAndJoin, kSortAndJoin),
    row<VolumeTableBrandParser<2>>(2, 2, volumeTableDecoder(2), kSortAndJoin, kSortAndJoin),
    row<WfsParser>(3, 3, wfsDecoder(), kSortAndJoin, kSortAndJoin),
    row<UnitIndexParser>(4, 4, unitIndexDecoder(), kFormedWhileScanning, kUnsortedJoin),
    row<SectionIndexParser>(5, 5, sectionIndexDecoder(), kFormedWhileScanning, kFormedWhileScanning),
    brandRow<TimedFrameChainParser, 6>(timedFrameDecoder(6), kSortAndJoin, kSortAndJoin),
    row<VolumeTableBrandParser<7>>(7, 7, volumeTableDecoder(7), kSortAndJoin, kSortAndJoin),
    row<ReversedTimePacketParser>(8, 8, reversedTimePacketDecoder(), kSortAndJoin, kSortAndJoin),
    row<VolumeTableBrandParser<9>>(9, 9, volumeTableDecoder(9), kSortAndJoin, kSortAndJoin),
    row<VolumeTableBrandParser<10>>(10, 10, volumeTableDecoder(10), kSortAndJoin, kSortAndJoin),
    row<VolumeTableBrandParser<11>>(11, 11, volumeTableDecoder(11), kSortAndJoin, kSortAndJoin),
    brandRow<TimedFrameChainParser, 12>(timedFrameDecoder(12), kSortAndJoin, kSortAndJoin),
    brandRow<UntimedFrameChainParser, 13>(untimedFrameDecoder(13), kJoinArrivals, kJoinArrivals),
    brandRow<UntimedFrameChainParser, 14>(untimedFrameDecoder(14), kJoinArrivals, kJoinArrivals),
    // Quick mode reads the index blocks, which form a file per record as they are read.
    brandRow<UntimedFrameChainParser, 15>(untimedFrameDecoder(15), kFormedWhileScanning, kJoinArrivals),
    brandRow<TimedFrameChainParser, 16>(timedFrameDecoder(16), kSortAndJoin, kSortAndJoin),
    row<MarkerPacketParser>(17, 17, markerPacketDecoder(), kSortAndJoin, kSortAndJoin),
    row<MultiBrandParser>(18, 48, multiBrandDecoder(), kSortAndJoin, kSortAndJoin),
  };
  return kRows;
}

}  // namespace

std::span<const BrandRow> brandTable() { return rows(); }

const BrandRow* findBrand(std::uint8_t brand) {
  for (const auto& r : rows())
    if (brand >= r.first && brand <= r.last) return &r;
  return nullptr;
}

TimeConvention timeConventionFor(std::uint8_t brand, std::uint8_t parseMode) {
  const BrandRow* r = findBrand(brand);
  return r ? r->convention(parseMode) : packedTimeConvention();
}

const char* fileExtensionFor(std::uint8_t brand) {
  const BrandRow* r = findBrand(brand);
  return r ? r->fileExtension : "dat";
}

}  // namespace norvale
