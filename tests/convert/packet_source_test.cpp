// The conversion's packet walk: the task's zone for the packet test, and a file's last packet
// judged without the follower that lay on the disk.
#include <gtest/gtest.h>

#include <cstring>

#include "base/byte_reader.h"
#include "convert/carrier_images.h"
#include "convert/converter.h"
#include "parsers/brand_table.h"
#include "storage/byte_source.h"
#include "support/frame_parser_support.h"

namespace norvale::convert {
namespace {

// Brand 6's recording with its first picture moved to firstPicture (seconds since 1970), scanned
// in the zone and year window given and converted: every picture must come through.
void expectEveryPictureConverted(std::uint32_t firstPicture, const std::string& zone, const YearWindow& years) {
  auto file = test::headeredFile(6);
  const std::uint32_t start = test::localEpoch(2016, 5, 17, 8, 0, 0);
  for (std::size_t i = 0; i + 16 <= file.size(); ++i)
    if (std::memcmp(&file[i], "HBMS", 4) == 0) putLe32(&file[i + 12], le32(&file[i + 12]) - start + firstPicture);
  auto open = test::scanAndOpen(test::imageWith(file), 6, {}, zone, years);
  ASSERT_TRUE(open->task) << open->scanned.error;
  ASSERT_EQ(open->scanned.files.size(), 1u);
  test::TempDir out;
  auto result = convertFiles(*open->task, open->observer, {0}, {out.str(), false});
  ASSERT_TRUE(result) << result.error().message;
  EXPECT_TRUE((*result)[0].complete) << (*result)[0].error;
  EXPECT_EQ((*result)[0].frames, static_cast<std::uint64_t>(test::kClipFrames));
}

TEST(PacketSource, PacketTimesAreTestedInTheTasksZoneNotTheWorkstations) {
  // 2009-12-31 12:00 UTC: New Year's morning of 2010 in Auckland (the recorder's zone), still
  // 2009 in the workstation's (the tests run in Asia/Shanghai).
  expectEveryPictureConverted(1262260800u, "Pacific/Auckland", YearWindow::legacy());
}

TEST(PacketSource, PacketTimesAreTestedInTheTasksYearWindow) {
  // Dated 2024: the scan found it in a window reaching that year, and so must the conversion,
  // which tests every packet's time again.
  expectEveryPictureConverted(test::localEpoch(2024, 3, 14, 9, 0, 0), {}, YearWindow{2010, 2027});
}

TEST(PacketSource, TheLastPacketOfAFileIsJudgedWithoutAFollower) {
  // Each carrier without the bytes that followed its last packet on the disk.
  struct Cut {
    std::uint8_t brand;
    std::vector<std::uint8_t> bytes;
    std::size_t follower;
  };
  const Cut cuts[] = {{1, test::programStreamFile(), 20}, {3, test::wfsFile(), 8},  {4, test::jvsFile(), 32},
                      {8, test::boliFile(), 24},          {6, test::headeredFile(6), 37}};
  for (const Cut& c : cuts) {
    auto bytes = c.bytes;
    bytes.resize(bytes.size() - c.follower);
    MemorySource source(bytes);
    StreamInput input;
    input.bytes = &source;
    input.brand = c.brand;
    input.parseMode = kParseDeep;
    input.convention = timeConventionFor(c.brand, kParseDeep);
    std::uint64_t units = 0;
    const auto summary = readStream(input, [&](AccessUnit&&) { return ++units, true; });
    EXPECT_EQ(units, static_cast<std::uint64_t>(test::kClipFrames)) << int(c.brand);
    EXPECT_EQ(summary.skippedBytes, 0u) << int(c.brand);
  }
}

}  // namespace
}  // namespace norvale::convert
