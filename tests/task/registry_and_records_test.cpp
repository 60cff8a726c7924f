#include <gtest/gtest.h>

#include <set>

#include "task/brand_registry.h"
#include "format/records.h"
#include "task/task_cipher.h"

namespace norvale {
namespace {

TEST(BrandRegistry, DisplayTextsCarryTheNumberAndTwoBlanks) {
  EXPECT_EQ(brandName(0), "[0]  未知监控录像系统");
  EXPECT_EQ(brandName(12), "[12]  TP-LINK监控录像系统");
  EXPECT_EQ(brandName(48), "[48]  华氏H265监控录像系统");
  EXPECT_EQ(brandName(49), "");
  EXPECT_EQ(brandName(-1), "");
  std::set<std::string> distinct;
  for (int id = 0; id < brandCount(); ++id) distinct.insert(brandName(id));
  EXPECT_EQ(distinct.size(), 49u);
}

TEST(BrandRegistry, ListTextGivesItsNumberBack) {
  for (int id = 0; id < brandCount(); ++id) EXPECT_EQ(numberFromListText(brandName(id)), id);
  EXPECT_EQ(numberFromListText("[1] 深度解析(速度慢)"), 1);
  EXPECT_FALSE(numberFromListText("no brackets"));
  EXPECT_FALSE(numberFromListText("[] empty"));
  EXPECT_FALSE(numberFromListText("[x1] not a number"));
}

TEST(BrandRegistry, ParseModeNames) {
  EXPECT_EQ(parseModeName(0), "快速解析(速度快)");
  EXPECT_EQ(parseModeName(1), "深度解析(速度慢)");
  EXPECT_EQ(parseModeName(2), "");
  EXPECT_EQ(parseModeText(1), "[1] 深度解析(速度慢)");
}

TEST(Records, SegmentRecordIsThirtySevenBytesAtFixedOffsets) {
  SegmentRecord r{SegmentKind::Key, 0x04030201, 0x08070605, 0x0C0B0A09, -1, 0x1122334455667788ull, 0x99};
  std::uint8_t bytes[kSegmentRecordSize];
  r.write(bytes);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[1], 0x01);
  EXPECT_EQ(bytes[4], 0x04);
  EXPECT_EQ(bytes[5], 0x05);
  EXPECT_EQ(bytes[9], 0x09);
  for (int i = 13; i < 21; ++i) EXPECT_EQ(bytes[i], 0xFF) << "first key offset -1 at " << i;
  EXPECT_EQ(bytes[21], 0x88);
  EXPECT_EQ(bytes[28], 0x11);
  EXPECT_EQ(bytes[29], 0x99);
  EXPECT_EQ(SegmentRecord::read(bytes), r);
}

TEST(Records, FileEntryAndIndexRecordLayouts) {
  FileEntry e{7, 100, 200, 0x0102030405060708ull, 37 * 5, 37 * 3};
  std::uint8_t bytes[kFileEntrySize];
  e.write(bytes);
  EXPECT_EQ(bytes[0], 7);
  EXPECT_EQ(bytes[1], 100);
  EXPECT_EQ(bytes[5], 200);
  EXPECT_EQ(bytes[9], 0x08);
  EXPECT_EQ(bytes[17], 37 * 5);
  EXPECT_EQ(bytes[25], 37 * 3);
  EXPECT_EQ(FileEntry::read(bytes), e);
  EXPECT_EQ(e.recordCount(), 3u);

  IndexRecord index{storeKey(3, 0xAABBCCDD), 256, 74};
  std::uint8_t ib[kIndexRecordSize];
  index.write(ib);
  EXPECT_EQ(ib[0], 0xDD) << "the hour code comes first";
  EXPECT_EQ(ib[4], 3) << "then the channel";
  EXPECT_EQ(IndexRecord::read(ib).key, index.key);
  EXPECT_EQ(IndexRecord::read(ib).length, 74u);
}

TEST(Records, KeysOrderByChannelThenTime) {
  EXPECT_LT(storeKey(1, calendarCode(2020, 1, 1, 23)), storeKey(2, calendarCode(2010, 1, 1, 0)));
  EXPECT_EQ(calendarCode(2016, 5, 17, 8), 33035816u);
  EXPECT_EQ(fileMapKey(2, calendarCode(2016, 5, 17)) >> 32, 2u);
}

TEST(TaskCipher, EnciphersWholeBlocksOfEachRecordOnly) {
  TaskCipher cipher;
  std::vector<std::uint8_t> plain(kSegmentRecordSize * 3 + 5);
  for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i * 7);
  auto buffer = plain;
  cipher.encipher(buffer, kSegmentRecordSize);
  for (int r = 0; r < 3; ++r) {
    const std::size_t at = r * kSegmentRecordSize;
    EXPECT_NE(std::vector<std::uint8_t>(buffer.begin() + at, buffer.begin() + at + 16),
              std::vector<std::uint8_t>(plain.begin() + at, plain.begin() + at + 16));
    for (std::size_t i = 32; i < kSegmentRecordSize; ++i) EXPECT_EQ(buffer[at + i], plain[at + i]) << "byte " << i;
  }
  for (std::size_t i = kSegmentRecordSize * 3; i < plain.size(); ++i)
    EXPECT_EQ(buffer[i], plain[i]) << "a trailing partial record stays as it is";
  cipher.decipher(buffer, kSegmentRecordSize);
  EXPECT_EQ(buffer, plain);
}

TEST(TaskCipher, SameRecordEnciphersTheSameWayEverywhere) {
  // ECB record by record: equal records give equal bytes, whatever their position.
  TaskCipher cipher;
  std::vector<std::uint8_t> twice(kFileEntrySize * 2, 0x5A);
  cipher.encipher(twice, kFileEntrySize);
  EXPECT_TRUE(std::equal(twice.begin(), twice.begin() + kFileEntrySize, twice.begin() + kFileEntrySize));
  TaskCipher another;
  std::vector<std::uint8_t> once(kFileEntrySize, 0x5A);
  another.encipher(once, kFileEntrySize);
  EXPECT_TRUE(std::equal(once.begin(), once.end(), twice.begin())) << "the key is fixed in the program";
}

}  // namespace
}  // namespace norvale
