// The words of the scan's notices: each recorder design that reports a missing index names its
// own recorder, and the counted and placed notices carry their numbers into the line.
#include <gtest/gtest.h>

#include <set>

#include "parsers/volume_table_parser.h"
#include "task/scan_wording.h"

namespace norvale {
namespace {

TEST(ScanWording, EveryBrandWithAnIndexNamesItsOwnRecorder) {
  std::set<std::string> texts;
  std::vector<std::uint8_t> brands = {3};  // the WFS design
  for (const auto& row : kVolumeTableBrands) brands.push_back(row.brand);
  for (const std::uint8_t brand : brands) {
    const std::string text = scanNoticeText(NoRecorderIndex{brand});
    EXPECT_TRUE(text.starts_with("此设备可能不是") && text.ends_with("监控系统或者请选择深度解析方式")) << int(brand);
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), brands.size()) << "one recorder named twice";
  EXPECT_EQ(scanNoticeText(NoRecorderIndex{3}), "此设备可能不是WFS监控系统或者请选择深度解析方式");
}

TEST(ScanWording, NoticesCarryTheirNumbersIntoTheLine) {
  EXPECT_EQ(scanNoticeText(UnreadableStretch{2048, 2049}), "读取源设备失败,可能存在坏道: 扇区 2048 起 2049 个扇区");
  EXPECT_EQ(scanNoticeText(IndexRecordsPastSourceEnd{12}), "12条索引记录指向源设备末尾之后的数据块,已忽略");
  EXPECT_EQ(scanNoticeText(SourceGone{}), kSourceGoneText);
  EXPECT_EQ(scanNoticeText(VolumeTableUnreadable{}), kUnreadableBlockText);
}

}  // namespace
}  // namespace norvale
