#include "parsers/brand_table.h"

#include "parsers/brand_parser.h"
#include "parsers/marker_packet_parser.h"
#include "parsers/multi_brand_parser.h"
#include "parsers/packed_time.h"
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

template <typename Parser>
constexpr BrandRow row(std::uint8_t first, std::uint8_t last) {
  return BrandRow{first, last, first <= 17 ? first - 1 : 17,
                  [](TaskContext& task) -> std::unique_ptr<BrandParser> { return std::make_unique<Parser>(task); },
                  &Parser::timeConvention, Parser::kFileExtension};
}

// One brand of a design shared by several brands: the parser is told which brand it serves, so
// its packet test is that brand's even when the task's own brand is another (identification).
template <typename Parser, std::uint8_t Brand>
constexpr BrandRow brandRow() {
  return BrandRow{Brand, Brand, Brand - 1,
                  [](TaskContext& task) -> std::unique_ptr<BrandParser> { return std::make_unique<Parser>(task, Brand); },
                  &Parser::timeConvention, Parser::kFileExtension};
}

constexpr BrandRow kRows[] = {
    row<ProgramStreamParser>(1, 1),
    row<VolumeTableBrandParser<2>>(2, 2),
    row<WfsParser>(3, 3),
    row<UnitIndexParser>(4, 4),
    row<SectionIndexParser>(5, 5),
    brandRow<TimedFrameChainParser, 6>(),
    row<VolumeTableBrandParser<7>>(7, 7),
    row<ReversedTimePacketParser>(8, 8),
    row<VolumeTableBrandParser<9>>(9, 9),
    row<VolumeTableBrandParser<10>>(10, 10),
    row<VolumeTableBrandParser<11>>(11, 11),
    brandRow<TimedFrameChainParser, 12>(),
    brandRow<UntimedFrameChainParser, 13>(),
    brandRow<UntimedFrameChainParser, 14>(),
    brandRow<UntimedFrameChainParser, 15>(),
    brandRow<TimedFrameChainParser, 16>(),
    row<MarkerPacketParser>(17, 17),
    row<MultiBrandParser>(18, 48),
};

}  // namespace

std::span<const BrandRow> brandTable() { return kRows; }

const BrandRow* findBrand(std::uint8_t brand) {
  for (const auto& r : kRows)
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
