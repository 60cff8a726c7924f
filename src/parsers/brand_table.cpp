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
             RebuildPlan deep, ConversionLayout conversion) {
  return BrandRow{first,
                  last,
                  first < kSharedFamilyFirst ? first - 1 : kSharedFamilyFirst - 1,
                  &decoder,
                  []() -> std::unique_ptr<BrandParser> { return std::make_unique<Parser>(); },
                  &Parser::timeConvention,
                  quick,
                  deep,
                  Parser::kFileExtension,
                  conversion};
}

// One brand of a design shared by several brands: the parser is told which brand it serves.
template <typename Parser, std::uint8_t Brand>
BrandRow brandRow(const PacketDecoder& decoder, RebuildPlan quick, RebuildPlan deep, ConversionLayout conversion) {
  return BrandRow{Brand,
                  Brand,
                  Brand - 1,
                  &decoder,
                  []() -> std::unique_ptr<BrandParser> { return std::make_unique<Parser>(Brand); },
                  &Parser::timeConvention,
                  quick,
                  deep,
                  Parser::kFileExtension,
                  conversion};
}

BrandRow withIdentification(BrandRow row, std::uint8_t identifiedBy) {
  row.identifiedBy = identifiedBy;
  return row;
}

// Built on first use, so that a lookup made while other objects are initialised finds it.
std::span<const BrandRow> rows() {
  using enum VideoCarrier;
  using enum HeaderLength;
  static const BrandRow kRows[] = {
    row<ProgramStreamParser>(1, 1, programStreamDecoder(), kSortAndJoin, kSortAndJoin, {ProgramStream, 0, Fixed, true, "mpeg"}),
    row<VolumeTableBrandParser<2>>(2, 2, volumeTableDecoder(2), kSortAndJoin, kSortAndJoin, {Dhav, 0, Fixed, true, "dhav"}),
    row<WfsParser>(3, 3, wfsDecoder(), kSortAndJoin, kSortAndJoin, {Wfs}),
    row<UnitIndexParser>(4, 4, unitIndexDecoder(), kFormedWhileScanning, kUnsortedJoin, {Jvs, 0, Fixed, false}),
    row<SectionIndexParser>(5, 5, sectionIndexDecoder(), kFormedWhileScanning, kFormedWhileScanning, {Headered, 28, Fixed, false}),
    brandRow<TimedFrameChainParser, 6>(timedFrameDecoder(6), kSortAndJoin, kSortAndJoin, {Headered, 0, StatedAtByte4}),
    row<VolumeTableBrandParser<7>>(7, 7, volumeTableDecoder(7), kSortAndJoin, kSortAndJoin, {Dhav}),
    row<ReversedTimePacketParser>(8, 8, reversedTimePacketDecoder(), kSortAndJoin, kSortAndJoin, {Boli}),
    withIdentification(row<VolumeTableBrandParser<9>>(9, 9, volumeTableDecoder(9), kSortAndJoin, kSortAndJoin, {Dhav}), 10),
    row<VolumeTableBrandParser<10>>(10, 10, volumeTableDecoder(10), kSortAndJoin, kSortAndJoin, {Dhav}),
    withIdentification(
        row<VolumeTableBrandParser<11>>(11, 11, volumeTableDecoder(11), kSortAndJoin, kSortAndJoin, {Dhav, 0, Fixed, true, "dhav"}), 2),
    brandRow<TimedFrameChainParser, 12>(timedFrameDecoder(12), kSortAndJoin, kSortAndJoin, {Headered, 32, PayloadLengthAt8}),
    brandRow<UntimedFrameChainParser, 13>(untimedFrameDecoder(13), kJoinArrivals, kJoinArrivals, {Headered, 72, Fixed, false}),
    brandRow<UntimedFrameChainParser, 14>(untimedFrameDecoder(14), kJoinArrivals, kJoinArrivals, {Headered, 64, Fixed, false}),
    // Quick mode reads the index blocks, which form a file per record as they are read.
    brandRow<UntimedFrameChainParser, 15>(untimedFrameDecoder(15), kFormedWhileScanning, kJoinArrivals,
                                          {Headered, 32, Fixed, false}),
    brandRow<TimedFrameChainParser, 16>(timedFrameDecoder(16), kSortAndJoin, kSortAndJoin, {Headered, 48}),
    row<MarkerPacketParser>(17, 17, markerPacketDecoder(), kSortAndJoin, kSortAndJoin, {Headered, 128}),
    row<MultiBrandParser>(kSharedFamilyFirst, kLastBrand, multiBrandDecoder(), kSortAndJoin, kSortAndJoin, {RawStream}),
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

ConversionLayout conversionLayoutFor(std::uint8_t brand) {
  const BrandRow* row = findBrand(brand);
  return row ? row->conversion : ConversionLayout{};
}

}  // namespace norvale
