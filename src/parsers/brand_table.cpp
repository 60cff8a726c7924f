#include "parsers/brand_table.h"

#include <array>

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

using Names = std::span<const char* const>;

// A row whose parser serves its ids with constants of its own.
template <typename Parser>
BrandRow row(std::uint8_t first, std::uint8_t last, Names names, const PacketDecoder& decoder, RebuildPlan quick,
             RebuildPlan deep, ConversionLayout conversion) {
  return BrandRow{first,
                  last,
                  names,
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
BrandRow brandRow(Names names, const PacketDecoder& decoder, RebuildPlan quick, RebuildPlan deep,
                  ConversionLayout conversion) {
  return BrandRow{Brand,
                  Brand,
                  names,
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

BrandRow withIndexRecorder(BrandRow row, const char* recorder) {
  row.indexRecorder = recorder;
  return row;
}

BrandRow withDiskStamp(BrandRow row, DiskStamp stamp) {
  row.stamp = stamp;
  return row;
}

// Display names, one list per row, in id order.
constexpr const char* kNames1[] = {"海康监控录像系统"};
constexpr const char* kNames2[] = {"大华监控录像系统"};
constexpr const char* kNames3[] = {"WFS监控录像系统"};
constexpr const char* kNames4[] = {"中维监控录像系统"};
constexpr const char* kNames5[] = {"宇视监控录像系统"};
constexpr const char* kNames6[] = {"汉邦监控录像系统"};
constexpr const char* kNames7[] = {"华亿监控录像系统"};
constexpr const char* kNames8[] = {"波粒监控录像系统"};
constexpr const char* kNames9[] = {"智灵监控录像系统"};
constexpr const char* kNames10[] = {"美电贝尔录像系统"};
constexpr const char* kNames11[] = {"乐橙监控录像系统"};
constexpr const char* kNames12[] = {"TP-LINK监控录像系统"};
constexpr const char* kNames13[] = {"乔安NVR监控录像系统"};
constexpr const char* kNames14[] = {"NVR1监控录像系统"};
constexpr const char* kNames15[] = {"天地伟业录像系统"};
constexpr const char* kNames16[] = {"三星监控录像系统"};
constexpr const char* kNames17[] = {"英视通监控录像系统"};
// The multi-brand design's ids end the table: its last is the highest brand a task header
// accepts.
constexpr std::uint8_t kMultiBrandFirst = 18;
constexpr std::uint8_t kMultiBrandLast = 48;
static_assert(kMultiBrandLast == kLastBrand);
constexpr const char* kMultiBrandNames[] = {
    "中视安防监控录像系统", "科达监控录像系统",     "清华同方录像系统",     "中控监控录像系统",
    "帝安视监控录像系统",   "天视通监控录像系统",   "宇视通监控录像系统",   "威特迪监控录像系统",
    "天视达监控录像系统",   "全睿监控录像系统",     "萤石监控录像系统",     "欧瑞博监控录像系统",
    "小米监控录像系统",     "华为监控录像系统",     "D-LINK监控录像系统",   "索尼监控录像系统",
    "松下监控录像系统",     "联想监控录像系统",     "大唐保镖录像系统",     "万顺达监控录像系统",
    "云视通监控录像系统",   "巨峰监控录像系统",     "雅视威监控录像系统",   "威视达康录像系统",
    "壹视安监控录像系统",   "奇盾监控录像系统",     "华创时代监控录像系统", "七方NVR监控录像系统",
    "景科监控录像系统",     "神州威视监控录像系统", "华氏H265监控录像系统",
};
static_assert(std::size(kMultiBrandNames) == kMultiBrandLast - kMultiBrandFirst + 1);

// Built on first use, so that a lookup made while other objects are initialised finds it.
std::span<const BrandRow> rows() {
  using enum VideoCarrier;
  using enum HeaderLength;
  using namespace std::string_view_literals;
  static const auto kRows = [] {
    std::array table{
      withDiskStamp(row<ProgramStreamParser>(1, 1, kNames1, programStreamDecoder(), kSortAndJoin, kSortAndJoin,
                                             {ProgramStream, 0, Fixed, true, "mpeg"}),
                    {528, "HIKVISIO"sv, 6}),
      withDiskStamp(withIndexRecorder(row<VolumeTableBrandParser<2>>(2, 2, kNames2, volumeTableDecoder(2), kSortAndJoin,
                                                                     kSortAndJoin, {Dhav, 0, Fixed, true, "dhav"}),
                                      "大华"),
                    {0, "DHFS4.1\0"sv, 1}),
      withDiskStamp(withIndexRecorder(row<WfsParser>(3, 3, kNames3, wfsDecoder(), kSortAndJoin, kSortAndJoin, {Wfs}), "WFS"),
                    {0, "WFS0.4\0\0"sv, 2}),
      withDiskStamp(row<UnitIndexParser>(4, 4, kNames4, unitIndexDecoder(), kFormedWhileScanning, kUnsortedJoin,
                                         {Jvs, 0, Fixed, false}),
                    {0, "jvbk"sv, 5}),
      withDiskStamp(row<SectionIndexParser>(5, 5, kNames5, sectionIndexDecoder(), kFormedWhileScanning,
                                            kFormedWhileScanning, {Headered, 28, Fixed, false}),
                    {12, "uware_v1"sv, 7}),
      brandRow<TimedFrameChainParser, 6>(kNames6, timedFrameDecoder(6), kSortAndJoin, kSortAndJoin, {Headered, 0, StatedAtByte4}),
      withDiskStamp(withIndexRecorder(row<VolumeTableBrandParser<7>>(7, 7, kNames7, volumeTableDecoder(7), kSortAndJoin,
                                                                     kSortAndJoin, {Dhav}),
                                      "华亿"),
                    {0, "HUAYI1.1"sv, 3}),
      row<ReversedTimePacketParser>(8, 8, kNames8, reversedTimePacketDecoder(), kSortAndJoin, kSortAndJoin, {Boli}),
      withDiskStamp(withIndexRecorder(withIdentification(row<VolumeTableBrandParser<9>>(9, 9, kNames9, volumeTableDecoder(9),
                                                                                        kSortAndJoin, kSortAndJoin, {Dhav}),
                                                         10),
                                      "智灵"),
                    {0, "ZHILING1"sv, 4}),
      withIndexRecorder(row<VolumeTableBrandParser<10>>(10, 10, kNames10, volumeTableDecoder(10), kSortAndJoin, kSortAndJoin,
                                                        {Dhav}),
                        "美电贝尔"),
      withIndexRecorder(withIdentification(row<VolumeTableBrandParser<11>>(11, 11, kNames11, volumeTableDecoder(11),
                                                                           kSortAndJoin, kSortAndJoin,
                                                                           {Dhav, 0, Fixed, true, "dhav"}),
                                           2),
                        "乐橙"),
      brandRow<TimedFrameChainParser, 12>(kNames12, timedFrameDecoder(12), kSortAndJoin, kSortAndJoin, {Headered, 32, PayloadLengthAt8}),
      brandRow<UntimedFrameChainParser, 13>(kNames13, untimedFrameDecoder(13), kJoinArrivals, kJoinArrivals, {Headered, 72, Fixed, false}),
      brandRow<UntimedFrameChainParser, 14>(kNames14, untimedFrameDecoder(14), kJoinArrivals, kJoinArrivals, {Headered, 64, Fixed, false}),
      // Quick mode reads the index blocks, which form a file per record as they are read.
      brandRow<UntimedFrameChainParser, 15>(kNames15, untimedFrameDecoder(15), kFormedWhileScanning, kJoinArrivals,
                                            {Headered, 32, Fixed, false}),
      brandRow<TimedFrameChainParser, 16>(kNames16, timedFrameDecoder(16), kSortAndJoin, kSortAndJoin, {Headered, 48}),
      row<MarkerPacketParser>(17, 17, kNames17, markerPacketDecoder(), kSortAndJoin, kSortAndJoin, {Headered, 128}),
      row<MultiBrandParser>(kMultiBrandFirst, kMultiBrandLast, kMultiBrandNames, multiBrandDecoder(), kSortAndJoin, kSortAndJoin, {RawStream}),
    };
    return table;
  }();
  return kRows;
}

}  // namespace

std::span<const BrandRow> brandTable() { return rows(); }

int firstBrand() { return rows().front().first; }
int lastBrand() { return rows().back().last; }

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
