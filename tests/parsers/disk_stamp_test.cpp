// The signature check of the first 4,096 bytes.
#include "parsers/disk_stamp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "parsers/brand_table.h"
#include "storage/signature_check.h"
#include "support/test_support.h"

namespace norvale {
namespace {

std::vector<std::uint8_t> with(std::initializer_list<std::pair<std::size_t, const char*>> stamps) {
  std::vector<std::uint8_t> bytes(kSignatureBytes, 0);
  for (const auto& [offset, text] : stamps) std::memcpy(bytes.data() + offset, text, std::strlen(text));
  return bytes;
}

TEST(SignatureCheck, EachOfTheSevenTests) {
  EXPECT_EQ(signatureBrand(with({{0, "DHFS4.1"}})), 2);
  EXPECT_EQ(signatureBrand(with({{0, "WFS0.4"}})), 3);
  EXPECT_EQ(signatureBrand(with({{0, "HUAYI1.1"}})), 7);
  EXPECT_EQ(signatureBrand(with({{0, "ZHILING1"}})), 9);
  EXPECT_EQ(signatureBrand(with({{0, "jvbk"}})), 4);
  EXPECT_EQ(signatureBrand(with({{528, "HIKVISIO"}})), 1);
  EXPECT_EQ(signatureBrand(with({{12, "uware_v1"}})), 5);
  EXPECT_EQ(signatureBrand(with({})), 0);
}

TEST(SignatureCheck, TrailingBytesMustMatchExactly) {
  // "DHFS" needs "4.1" and a zero byte; "WFS0" needs ".4" and two zero bytes.
  EXPECT_EQ(signatureBrand(with({{0, "DHFS4.10"}})), 0);
  EXPECT_EQ(signatureBrand(with({{0, "DHFS4.2"}})), 0);
  EXPECT_EQ(signatureBrand(with({{0, "WFS0.4x"}})), 0);
  EXPECT_EQ(signatureBrand(with({{0, "WFS0.5"}})), 0);
  EXPECT_EQ(signatureBrand(with({{0, "HUAYI1.2"}})), 0);
  EXPECT_EQ(signatureBrand(with({{528, "HIKVISIX"}})), 0);
  EXPECT_EQ(signatureBrand(with({{12, "uware_v2"}})), 0);
  EXPECT_EQ(signatureBrand(with({{0, "JVBK"}})), 0);
}

TEST(SignatureCheck, FirstMatchWinsInTableOrder) {
  EXPECT_EQ(signatureBrand(with({{0, "DHFS4.1"}, {528, "HIKVISIO"}})), 2);
  EXPECT_EQ(signatureBrand(with({{0, "jvbk"}, {528, "HIKVISIO"}})), 4);
  EXPECT_EQ(signatureBrand(with({{0, "jvbk"}, {12, "uware_v1"}})), 4);
  EXPECT_EQ(signatureBrand(with({{528, "HIKVISIO"}, {12, "uware_v1"}})), 1);
  EXPECT_EQ(signatureBrand(with({{0, "ZHILING1"}, {12, "uware_v1"}})), 9);
}

TEST(SignatureCheck, ShortSpansDoNotMatchBeyondTheirEnd) {
  auto bytes = with({{528, "HIKVISIO"}});
  EXPECT_EQ(signatureBrand(std::span<const std::uint8_t>(bytes).first(535)), 0);
  EXPECT_EQ(signatureBrand(std::span<const std::uint8_t>(bytes).first(536)), 1);
  EXPECT_EQ(signatureBrand({}), 0);
}

// A row's stamp, new ones included, is found alone on a disk and names the row; ranks decide
// between two stamps, so no two rows share one.
TEST(SignatureCheck, EveryRowsStampNamesItsRow) {
  std::set<int> ranks;
  for (const BrandRow& row : brandTable()) {
    if (row.stamp.bytes.empty()) continue;
    EXPECT_TRUE(ranks.insert(row.stamp.rank).second) << "brand " << int(row.first) << " shares its rank";
    ASSERT_LE(row.stamp.at + row.stamp.bytes.size(), kSignatureBytes) << "brand " << int(row.first);
    std::vector<std::uint8_t> bytes(kSignatureBytes, 0);
    std::memcpy(bytes.data() + row.stamp.at, row.stamp.bytes.data(), row.stamp.bytes.size());
    EXPECT_EQ(signatureBrand(bytes), row.first);
  }
}

TEST(SignatureCheck, OnADevice) {
  test::TempDir dir;
  const std::string image = dir.file("dvr.img");
  auto bytes = with({{0, "WFS0.4"}});
  bytes.resize(1 << 20);
  test::writeFile(image, bytes);
  auto brand = checkDeviceSignature(makeImageRecord(image, 0));
  ASSERT_TRUE(brand.has_value());
  EXPECT_EQ(*brand, 3);
  // A device smaller than 4,096 bytes is read as far as it goes.
  const std::string tiny = dir.file("tiny.img");
  test::writeFile(tiny, with({{0, "jvbk"}}) /* 4096 */);
  std::filesystem::resize_file(tiny, 100);
  brand = checkDeviceSignature(makeImageRecord(tiny, 0));
  ASSERT_TRUE(brand.has_value());
  EXPECT_EQ(*brand, 4);
}

TEST(SignatureCheck, DeviceThatCannotBeOpenedOrRead) {
  test::TempDir dir;
  auto missing = checkDeviceSignature(makeImageRecord(dir.file("missing.img"), 0));
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().message, "访问源设备失败,请确认源设备是否存在");
  const std::string empty = dir.file("empty.img");
  test::writeFile(empty, {});
  auto unread = checkDeviceSignature(makeImageRecord(empty, 0));
  ASSERT_FALSE(unread.has_value());
  EXPECT_EQ(unread.error().message, "读取源设备失败,可能存在坏道");
}

}  // namespace
}  // namespace norvale
