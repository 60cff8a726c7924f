#include "task/scan_wording.h"

#include <type_traits>

#include "parsers/brand_table.h"

namespace norvale {

std::string unreadableStretchText(std::uint64_t firstSector, std::uint64_t sectors) {
  return std::string(kUnreadableBlockText) + ": 扇区 " + std::to_string(firstSector) + " 起 " + std::to_string(sectors) +
         " 个扇区";
}

std::string noRecorderIndexText(std::uint8_t brand) {
  const BrandRow* row = findBrand(brand);
  if (!row || !row->indexRecorder) return {};
  return std::string("此设备可能不是") + row->indexRecorder + "监控系统或者请选择深度解析方式";
}

std::string scanNoticeText(const ScanNotice& notice) {
  return std::visit(
      [](const auto& e) -> std::string {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, UnreadableStretch>)
          return unreadableStretchText(e.firstSector, e.sectors);
        else if constexpr (std::is_same_v<E, SourceGone>)
          return kSourceGoneText;
        else if constexpr (std::is_same_v<E, VolumeTableUnreadable>)
          return kUnreadableBlockText;
        else if constexpr (std::is_same_v<E, IndexPastSourceEnd>)
          return "索引表超出源设备末尾,超出部分未读取";
        else if constexpr (std::is_same_v<E, IndexRecordsPastSourceEnd>)
          return std::to_string(e.records) + "条索引记录指向源设备末尾之后的数据块,已忽略";
        else {
          static_assert(std::is_same_v<E, NoRecorderIndex>, "every scan notice has its words");
          return noRecorderIndexText(e.brand);
        }
      },
      notice);
}

}  // namespace norvale
