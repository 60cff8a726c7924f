// The platform-independent text rules of the disk enumeration.
#include "storage/device_text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace norvale {
namespace {

std::vector<std::uint8_t> descriptorWith(std::uint32_t offset, const char* text, bool terminated = true) {
  std::vector<std::uint8_t> d(offset + std::strlen(text) + (terminated ? 1 : 0), 0);
  std::memcpy(d.data() + offset, text, std::strlen(text));
  return d;
}

TEST(DescriptorText, OffsetZeroIsNothing) {
  auto d = descriptorWith(40, "Vendorless");
  EXPECT_EQ(decodeDescriptorText(d, 0), "");
}

TEST(DescriptorText, PlainTextTrimmed) {
  EXPECT_EQ(decodeDescriptorText(descriptorWith(40, "  Vendorless SSD 860 EVO  "), 40), "Vendorless SSD 860 EVO");
  EXPECT_EQ(decodeDescriptorText(descriptorWith(40, "ATA     "), 40), "ATA");
}

TEST(DescriptorText, HexPairsAreDecodedWhenEveryPairIsPrintable) {
  // "5733" "2d" ... is "W3-"; spaces count as the digit 0 ("2 " = 0x20 = a space).
  EXPECT_EQ(decodeDescriptorText(descriptorWith(40, "57332d"), 40), "W3-");
  EXPECT_EQ(decodeDescriptorText(descriptorWith(40, "4142434400"), 40), "ABCD");
  EXPECT_EQ(decodeDescriptorText(descriptorWith(40, "41 2 42"), 40), "41 2 42");  // odd length: plain text
  EXPECT_EQ(decodeDescriptorText(descriptorWith(40, "412 42"), 40), "A B");
  // A pair that is not printable, or a character that is not a hex digit: the plain text.
  EXPECT_EQ(decodeDescriptorText(descriptorWith(40, "1234"), 40), "1234");
  EXPECT_EQ(decodeDescriptorText(descriptorWith(40, "WD-WX12"), 40), "WD-WX12");
}

TEST(DescriptorText, UnterminatedPlainTextIsEmpty) {
  EXPECT_EQ(decodeDescriptorText(descriptorWith(40, "WD-WX12", false), 40), "");
  EXPECT_EQ(decodeDescriptorText(descriptorWith(40, "41"), 400), "");  // offset past the end
}

TEST(DescriptorText, NonPrintableCharactersAreLeftOut) {
  EXPECT_EQ(decodeDescriptorText(descriptorWith(8, "AB\x01" "C"), 8), "ABC");
}

TEST(AtaIdentify, SerialFromWords10To19ByteSwapped) {
  std::vector<std::uint8_t> id(512, 0);
  const char serial[] = "S3Z9NB0K123456X     ";  // 20 characters as the drive means them
  for (int i = 0; i < 20; i += 2) {
    id[20 + i] = static_cast<std::uint8_t>(serial[i + 1]);
    id[20 + i + 1] = static_cast<std::uint8_t>(serial[i]);
  }
  EXPECT_EQ(ataIdentifySerial(id), "S3Z9NB0K123456X");
  EXPECT_EQ(ataIdentifySerial(std::span<const std::uint8_t>(id).first(39)), "");
}

TEST(SerialText, SpacesRemovedAndLengthCapped) {
  EXPECT_EQ(removeSpaces("  WD-WX 12 AB  "), "WD-WX12AB");
  EXPECT_EQ(removeSpaces(std::string(300, 'x')).size(), 255u);
}

TEST(SerialText, ScsiUnitSerialPage) {
  std::vector<std::uint8_t> page = {0x00, 0x80, 0x00, 0x0A, ' ', ' ', 'A', 'B', ' ', '1', '2', ' ', ' ', ' '};
  EXPECT_EQ(scsiUnitSerial(page), "AB 12");
  page[1] = 0x83;
  EXPECT_EQ(scsiUnitSerial(page), "");
  std::vector<std::uint8_t> lying = {0x00, 0x80, 0xFF, 0xFF, 'Z'};
  EXPECT_EQ(scsiUnitSerial(lying), "Z");
}

TEST(SerialText, ScsiPageCutInsideItsHeaderIsNoSerial) {
  // sysfs may hand over fewer bytes than the 4-byte header: nothing is read past them.
  const std::vector<std::uint8_t> page = {0x00, 0x80, 0x00, 0x02, 'Q', 'R'};
  EXPECT_EQ(scsiUnitSerial(page), "QR");
  for (std::size_t n = 0; n < 4; ++n) EXPECT_EQ(scsiUnitSerial(std::span<const std::uint8_t>(page).first(n)), "") << n;
  EXPECT_EQ(scsiUnitSerial(std::span<const std::uint8_t>(page).first(4)), "");
}

TEST(ModelText, JoinedWithoutSeparators) {
  EXPECT_EQ(joinModelText("ATA     ", "Vendorless SSD 860 ", " RVT04B6Q"), "ATAVendorless SSD 860RVT04B6Q");
  EXPECT_EQ(joinModelText("", "WDC PC SN730", ""), "WDC PC SN730");
}

TEST(MountInfo, FieldsAndEscapes) {
  const char* text =
      "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
      "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
      "90 27 8:17 /sub /mnt/bind\\040point rw - ext4 /dev/sdb1 rw\n"
      "garbage\n"
      "91 27 x:y / /bad rw - ext4 /dev/x rw\n";
  const auto entries = parseMountInfo(text);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1].major, 254u);
  EXPECT_EQ(entries[1].minor, 0u);
  EXPECT_EQ(entries[1].mountPoint, "/");
  EXPECT_EQ(entries[2].major, 8u);
  EXPECT_EQ(entries[2].minor, 17u);
  EXPECT_EQ(entries[2].root, "/sub");
  EXPECT_EQ(entries[2].mountPoint, "/mnt/bind point");
}

TEST(NaturalOrder, DigitsByValue) {
  EXPECT_TRUE(naturalLess("sd2", "sd10"));
  EXPECT_FALSE(naturalLess("sd10", "sd2"));
  EXPECT_TRUE(naturalLess("nvme0n1", "nvme1n1"));
  EXPECT_TRUE(naturalLess("nvme2n1", "nvme10n1"));
  EXPECT_TRUE(naturalLess("sda", "sdb"));
  EXPECT_FALSE(naturalLess("sda", "sda"));
  EXPECT_TRUE(naturalLess("loop", "loop0"));
}

}  // namespace
}  // namespace norvale
