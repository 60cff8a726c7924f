// The channel / day tree and the file rows of one day.
#include <gtest/gtest.h>

#include "task/result_listing.h"

namespace norvale {
namespace {

FileEntry entry(std::uint8_t channel, std::uint64_t size) {
  FileEntry e;
  e.channel = channel;
  e.size = size;
  return e;
}

TEST(ResultListing, EmptyMapGivesNoChannels) { EXPECT_TRUE(channelTree({}).empty()); }

TEST(ResultListing, ChannelsAndDaysInKeyOrder) {
  FileMap map;
  const auto may17 = calendarCode(2016, 5, 17), may18 = calendarCode(2016, 5, 18);
  map.emplace(fileMapKey(2, may18), entry(2, 1));
  map.emplace(fileMapKey(1, may17), entry(1, 2));
  map.emplace(fileMapKey(1, may17), entry(1, 3));
  map.emplace(fileMapKey(2, 0), entry(2, 4));
  map.emplace(fileMapKey(1, may18), entry(1, 5));
  const auto tree = channelTree(map);
  ASSERT_EQ(tree.size(), 2u);
  EXPECT_EQ(tree[0].text, "通道1");
  ASSERT_EQ(tree[0].days.size(), 2u);
  EXPECT_EQ(tree[0].days[0].text, "2016年05月17日");
  EXPECT_EQ(tree[0].days[0].key, fileMapKey(1, may17));
  EXPECT_EQ(tree[0].days[1].text, "2016年05月18日");
  EXPECT_EQ(tree[1].text, "通道2");
  ASSERT_EQ(tree[1].days.size(), 2u);
  EXPECT_EQ(tree[1].days[0].text, "所有日期");
  EXPECT_EQ(tree[1].days[1].key, fileMapKey(2, may18));
}

TEST(ResultListing, FilesUnderAKeyCarryTheirMapPositions) {
  FileMap map;
  const auto day = calendarCode(2020, 1, 2);
  map.emplace(fileMapKey(1, day), entry(1, 10));
  map.emplace(fileMapKey(3, day), entry(3, 30));
  map.emplace(fileMapKey(3, day), entry(3, 31));
  map.emplace(fileMapKey(4, day), entry(4, 40));
  const auto rows = filesUnderKey(map, fileMapKey(3, day));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].position, 1u);
  EXPECT_EQ(rows[0].entry.size, 30u);
  EXPECT_EQ(rows[1].position, 2u);
  EXPECT_EQ(rows[1].entry.size, 31u);
  EXPECT_TRUE(filesUnderKey(map, fileMapKey(2, day)).empty());
  EXPECT_TRUE(filesUnderKey(map, fileMapKey(3, 0)).empty());
}

}  // namespace
}  // namespace norvale
