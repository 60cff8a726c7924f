#include "parsers/brand_table.h"

#include "parsers/brand_parser.h"
#include "parsers/marker_packet_parser.h"
#include "parsers/multi_brand_parser.h"
#include "parsers/packed_time.h"
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

constexpr BrandRow kRows[] = {
    row<VolumeTableBrandParser<2>>(2, 2),
    row<WfsParser>(3, 3),
    row<VolumeTableBrandParser<7>>(7, 7),
    row<VolumeTableBrandParser<9>>(9, 9),
    row<VolumeTableBrandParser<10>>(10, 10),
    row<VolumeTableBrandParser<11>>(11, 11),
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
