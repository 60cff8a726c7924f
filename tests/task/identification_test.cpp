#include "task/identification.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "parsers/brand_parser.h"
#include "parsers/brand_table.h"
#include "sample/sample_image.h"
#include "support/scan_harness.h"
#include "support/test_support.h"
#include "task/task_context.h"
#include "task/task_runner.h"

namespace norvale {
namespace {

using test::RecordingObserver;

// A packet test that accepts wherever the byte at the window is its brand's marker, 0xE0 plus
// the brand it tests. It can raise a stop flag when it reaches a device offset and keeps what it
// was asked (a test double: real decoders keep nothing).
class MarkerDecoder final : public PacketDecoder {
 public:
  explicit MarkerDecoder(int brand) : m_brand(brand) {}
  static std::uint8_t marker(int brand) { return static_cast<std::uint8_t>(0xE0 + brand); }

  std::optional<Packet> decode(const PacketWindow& window, DeviceHandle&) const override {
    ++asked;
    if (window.valid == static_cast<std::int64_t>(kSamplePositions)) {
      blockStarts.push_back(window.deviceOffset);
      EXPECT_EQ(window.available, kSampleBytes);
    }
    lastOffset = window.deviceOffset;
    if (stopTarget && window.deviceOffset == stopAt) stopTarget->requestStop();
    if (window.data[0] != marker(m_brand)) return std::nullopt;
    return Packet{};
  }
  int testedBrand() const { return m_brand; }
  void forget() {
    asked = 0;
    lastOffset = 0;
    blockStarts.clear();
    stopTarget = nullptr;
    stopAt = 0;
  }

  mutable std::uint64_t asked = 0;
  mutable std::uint64_t lastOffset = 0;
  mutable std::vector<std::uint64_t> blockStarts;
  TaskContext* stopTarget = nullptr;
  std::uint64_t stopAt = 0;

 private:
  int m_brand;
};

MarkerDecoder gMarkerDecoders[] = {MarkerDecoder(2), MarkerDecoder(5), MarkerDecoder(10)};

BrandRow markerRow(MarkerDecoder& decoder) {
  const auto brand = static_cast<std::uint8_t>(decoder.testedBrand());
  return BrandRow{brand, brand, {}, &decoder, nullptr, [](std::uint8_t) { return TimeConvention{}; },
                  {}, {}, "dat"};
}

// Marker decoders for brands 2, 5 and 10; every other brand as the real table has it.
const BrandRow kMarkerRows[] = {markerRow(gMarkerDecoders[0]), markerRow(gMarkerDecoders[1]),
                                markerRow(gMarkerDecoders[2])};
const BrandRow* markerLookup(std::uint8_t brand) {
  for (const auto& row : kMarkerRows)
    if (row.first == brand) return &row;
  return findBrand(brand);
}
// Only the marker decoders.
const BrandRow* markersOnly(std::uint8_t brand) {
  for (const auto& row : kMarkerRows)
    if (row.first == brand) return &row;
  return nullptr;
}
void forgetMarkers() {
  for (auto& d : gMarkerDecoders) d.forget();
}

MarkerDecoder* markerParserFor(const PacketTestSet& tests, int brand) {
  for (const auto& t : tests.tests())
    if (std::find(t.brands.begin(), t.brands.end(), brand) != t.brands.end())
      return const_cast<MarkerDecoder*>(dynamic_cast<const MarkerDecoder*>(t.decoder));
  return nullptr;
}

constexpr std::uint64_t kMiB = 1 << 20;

// A zeroed image of 6 MiB: sampled whole, the blocks start at k x 1.2 MiB (k = 1..5), so the
// fifth starts at the end and reads nothing.
struct SampledImage {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(6 * kMiB, 0);
  std::uint64_t step() const { return bytes.size() / 5; }
  std::uint64_t blockStart(int k) const { return static_cast<std::uint64_t>(k) * step(); }
  void mark(int brand, std::uint64_t at) { bytes[at] = MarkerDecoder::marker(brand); }
  // n markers spread over the first half of block k.
  void markMany(int brand, int k, int n, std::uint64_t from = 1000) {
    for (int i = 0; i < n; ++i) mark(brand, blockStart(k) + from + static_cast<std::uint64_t>(i) * 97);
  }
};

struct Sampling {
  RecordingObserver observer;
  TaskContext task;
  DeviceHandle handle;
  std::unique_ptr<PacketTestSet> tests;

  explicit Sampling(std::unique_ptr<ByteSource> source, PacketTestSet::Lookup lookup = markerLookup) {
    handle.open(std::move(source));
    forgetMarkers();
    tests = std::make_unique<PacketTestSet>(lookup);
  }
  explicit Sampling(const std::vector<std::uint8_t>& image, PacketTestSet::Lookup lookup = markerLookup)
      : Sampling(std::make_unique<MemorySource>(image), std::move(lookup)) {}

  std::vector<BrandHits> run(std::uint64_t startSector, std::uint64_t sectorCount) {
    return sampleBrands(task, observer, handle, startSector, sectorCount, *tests, YearWindow::legacy());
  }
  std::vector<std::pair<StatusCode, std::int64_t>> progress() const {
    std::vector<std::pair<StatusCode, std::int64_t>> out;
    for (const auto& s : observer.statuses)
      if (s.code == StatusCode::IdentifyStart || s.code == StatusCode::IdentifyProgress) out.emplace_back(s.code, s.value);
    return out;
  }
};

std::uint64_t sectorsOf(const std::vector<std::uint8_t>& image) { return image.size() / 512; }

// A chain of multi-brand packets closed by a follower marker.
void appendChain(std::vector<std::uint8_t>& out, int packets) {
  const std::vector<std::uint8_t> payload(100, 0x55);
  const std::uint32_t t = sample::localEpoch(2016, 5, 17, 8, 0, 0);
  for (int i = 0; i < packets; ++i) sample::appendMultiBrandPacket(out, 1, t + static_cast<std::uint32_t>(i), payload);
  sample::appendFollowerMarker(out);
}

void placeChain(std::vector<std::uint8_t>& image, std::uint64_t at, int packets) {
  std::vector<std::uint8_t> chain;
  appendChain(chain, packets);
  std::copy(chain.begin(), chain.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
}

TEST(IdentificationTexts, StatusLineNamesHowManyBrandsWereFound) {
  EXPECT_EQ(identificationResultText(0), "从存储设备底层没有判断出监控类型,请手工选择");
  EXPECT_EQ(identificationResultText(1), "已经识别出1种监控类型,请选择后确定");
  EXPECT_EQ(identificationResultText(12), "已经识别出12种监控类型,请选择后确定");
}

TEST(IdentificationTests, BrandElevenUsesBrandTwosTestAndNineUsesTens) {
  EXPECT_EQ(packetTestBrand(11), 2);
  EXPECT_EQ(packetTestBrand(9), 10);
  for (int b : {1, 2, 3, 4, 5, 6, 7, 8, 10, 12, 13, 14, 15, 16, 17, 18}) EXPECT_EQ(packetTestBrand(b), b);
}

TEST(IdentificationTests, EveryRegisteredParserIsAskedOnceAndCountsItsBrands) {
  PacketTestSet tests;
  std::set<int> counted;
  for (const auto& t : tests.tests()) {
    ASSERT_NE(t.decoder, nullptr);
    for (int b : t.brands) {
      EXPECT_TRUE(counted.insert(b).second) << "brand " << b << " counted twice";
      EXPECT_GE(b, 1);
      EXPECT_LE(b, 18);
    }
  }
  // One count per row of the table, under the row's first id.
  EXPECT_EQ(countedBrands().size(), brandTable().size());
  for (const BrandRow& row : brandTable()) {
    const int b = row.first;
    EXPECT_EQ(counted.count(b) == 1, findBrand(packetTestBrand(b)) != nullptr) << "brand " << b;
  }
  EXPECT_EQ(counted.count(18), 1u);  // the shared family's parser is always built
  EXPECT_LE(tests.tests().size(), 16u);  // 2 and 11 share a test, as do 9 and 10
}

TEST(IdentificationTests, SharedTestsCountForBothBrandsAndMissingParsersAreSkipped) {
  PacketTestSet tests(markersOnly);
  ASSERT_EQ(tests.tests().size(), 3u);
  EXPECT_EQ(tests.tests()[0].brands, (std::vector<int>{2, 11}));
  EXPECT_EQ(tests.tests()[1].brands, (std::vector<int>{5}));
  EXPECT_EQ(tests.tests()[2].brands, (std::vector<int>{9, 10}));
  // Each decoder is the one of the brand whose test it is.
  PacketTestSet again(markersOnly);
  EXPECT_EQ(markerParserFor(again, 11)->testedBrand(), 2);
  EXPECT_EQ(markerParserFor(again, 9)->testedBrand(), 10);
  EXPECT_EQ(markerParserFor(again, 5)->testedBrand(), 5);
}

TEST(IdentificationTests, IdentifyingADeviceLeavesTheTasksHandleAlone) {
  test::TempDir dir;
  test::writeFile(dir.file("disk.img"), std::vector<std::uint8_t>(4096, 0));
  const DeviceRecord device = makeImageRecord(dir.file("disk.img"), 0);
  TaskContext task;
  ASSERT_TRUE(identifyBrands(task, test::noListener(), device, 0, 8, YearWindow::legacy()).has_value());
  EXPECT_FALSE(task.deviceHandle.isOpen());
}

TEST(IdentificationSampling, FiveBlocksAfterTheStartEachSearchedOverOneMiB) {
  // 1001 sectors from sector 3: the step of 102502 bytes is not a multiple of 512.
  std::vector<std::uint8_t> image(3 * kMiB, 0);
  Sampling s(image, markersOnly);
  s.run(3, 1001);
  const std::uint64_t step = 1001 * 512 / 5;
  ASSERT_EQ(step, 102502u);
  std::vector<std::uint64_t> expected;
  for (int k = 1; k <= 5; ++k) expected.push_back(3 * 512 + k * step);
  for (int brand : {2, 5, 10}) {
    const MarkerDecoder* parser = markerParserFor(*s.tests, brand);
    ASSERT_NE(parser, nullptr);
    EXPECT_EQ(parser->blockStarts, expected);
    EXPECT_EQ(parser->asked, 5 * kSamplePositions);  // 2's test is asked once for 2 and 11
    EXPECT_EQ(parser->lastOffset, expected.back() + kSamplePositions - 1);
  }
}

TEST(IdentificationSampling, StatusSixThenSevenPerBlockThenSevenZero) {
  SampledImage image;
  Sampling s(image.bytes, markersOnly);
  s.run(0, sectorsOf(image.bytes));
  using P = std::pair<StatusCode, std::int64_t>;
  EXPECT_EQ(s.progress(), (std::vector<P>{{StatusCode::IdentifyStart, 5},
                                          {StatusCode::IdentifyProgress, 1},
                                          {StatusCode::IdentifyProgress, 2},
                                          {StatusCode::IdentifyProgress, 3},
                                          {StatusCode::IdentifyProgress, 4},
                                          {StatusCode::IdentifyProgress, 5},
                                          {StatusCode::IdentifyProgress, 0}}));
  EXPECT_TRUE(s.observer.messages().empty());  // the read of the fifth block fails silently
}

TEST(IdentificationSampling, MultiBrandDiskCountsEveryPacketForBrandEighteen) {
  SampledImage image;
  placeChain(image.bytes, image.blockStart(1) + 5000, 7);
  placeChain(image.bytes, image.blockStart(3) + 300000, 4);
  // Outside every sample: not counted.
  placeChain(image.bytes, image.blockStart(1) + kSampleBytes + 100, 9);
  TaskContext task;
  RecordingObserver observer;
  DeviceHandle handle;
  handle.open(std::make_unique<MemorySource>(image.bytes));
  const PacketTestSet tests;
  const auto found = sampleBrands(task, observer, handle, 0, sectorsOf(image.bytes), tests, YearWindow::legacy());
  EXPECT_EQ(found, (std::vector<BrandHits>{{18, 11}}));
}

TEST(IdentificationSampling, BuiltInSampleImageIsIdentifiedAsBrandEighteen) {
  test::TempDir dir;
  const auto sample = sample::buildSampleImage();
  test::writeFile(dir.file("sample.img"), sample.bytes);
  TaskContext task;
  const DeviceRecord device = makeImageRecord(dir.file("sample.img"), 0);
  auto found = identifyBrands(task, test::noListener(), device, 0, (sample.bytes.size() + 511) / 512, YearWindow::legacy());
  ASSERT_TRUE(found.has_value()) << found.error().message;
  // Brand 18 leads by far. The start codes in the video pass brand 1's packet test, which takes
  // any 00 00 01 packet followed by another, now and then.
  ASSERT_FALSE(found->empty());
  EXPECT_EQ(found->back().brand, 18);
  EXPECT_GT(found->back().hits, 100);
  for (const auto& other : *found) {
    if (other.brand == 18) continue;
    EXPECT_LT(other.hits * 20, found->back().hits) << other.brand;
  }
}

TEST(IdentificationSampling, BrandTwoDiskAlsoOffersBrandElevenAndTenAlsoNine) {
  SampledImage image;
  image.markMany(2, 1, 40);
  image.markMany(10, 2, 25);
  Sampling s(image.bytes);
  const auto found = s.run(0, sectorsOf(image.bytes));
  EXPECT_EQ(found, (std::vector<BrandHits>{{9, 25}, {10, 25}, {2, 40}, {11, 40}}));
}

TEST(IdentificationSampling, FewerHitsAreListedFirstAndEqualCountsInBrandOrder) {
  // Brand 5 markers and brand 18 packets mixed in the same samples.
  SampledImage image;
  image.markMany(5, 1, 30);
  placeChain(image.bytes, image.blockStart(2) + 7000, 12);
  image.markMany(2, 4, 12, 400000);
  Sampling s(image.bytes);
  const auto found = s.run(0, sectorsOf(image.bytes));
  EXPECT_EQ(found, (std::vector<BrandHits>{{2, 12}, {11, 12}, {18, 12}, {5, 30}}));
}

TEST(IdentificationSampling, StopDuringTheFirstBlockEndsAfterThatPosition) {
  SampledImage image;
  const std::uint64_t stopAt = image.blockStart(1) + 5000;
  image.mark(5, image.blockStart(1) + 10);
  image.mark(5, stopAt);          // the position where the stop is seen is still counted
  image.mark(5, stopAt + 1);      // the next one is not
  image.markMany(5, 2, 10);
  Sampling s(image.bytes);
  MarkerDecoder* parser = markerParserFor(*s.tests, 5);
  parser->stopTarget = &s.task;
  parser->stopAt = stopAt;
  s.task.requestStop();  // a stop left over from earlier work is cleared at the start
  const auto found = s.run(0, sectorsOf(image.bytes));
  EXPECT_EQ(found, (std::vector<BrandHits>{{5, 2}}));
  EXPECT_EQ(parser->lastOffset, stopAt);
  // Every test was asked at the stopping position, none after it.
  EXPECT_EQ(markerParserFor(*s.tests, 2)->lastOffset, stopAt);
  using P = std::pair<StatusCode, std::int64_t>;
  EXPECT_EQ(s.progress(), (std::vector<P>{{StatusCode::IdentifyStart, 5},
                                          {StatusCode::IdentifyProgress, 1},
                                          {StatusCode::IdentifyProgress, 0}}));
  EXPECT_TRUE(s.task.stopRequested());
}

TEST(IdentificationSampling, UnreadableBlockIsSearchedAsZerosWithoutAMessage) {
  SampledImage image;
  image.markMany(5, 1, 3);
  // Block 2 has a marker before and after a bad sector: the whole block counts as zeros.
  image.mark(5, image.blockStart(2) + 100);
  image.mark(5, image.blockStart(2) + 300000);
  auto source = std::make_unique<test::ScriptedSource>(image.bytes);
  source->markBad((image.blockStart(2) + 200000) / 512);
  Sampling s(std::move(source));
  const auto found = s.run(0, sectorsOf(image.bytes));
  EXPECT_EQ(found, (std::vector<BrandHits>{{5, 3}}));
  EXPECT_TRUE(s.observer.messages().empty());
  EXPECT_EQ(s.progress().size(), 7u);
}

TEST(IdentificationSampling, NothingFoundGivesAnEmptyResult) {
  std::vector<std::uint8_t> garbage = test::patternBytes(4 * kMiB);
  Sampling s(garbage, findBrand);
  EXPECT_TRUE(s.run(0, sectorsOf(garbage)).empty());
}

TEST(IdentificationSource, UnopenableDeviceIsReportedAndNothingIsSampled) {
  test::TempDir dir;
  for (const std::string& path : {dir.file("missing.img"), dir.str()}) {
    TaskContext task;
    RecordingObserver observer;
    const DeviceRecord device = makeImageRecord(path, 0);
    auto found = identifyBrands(task, observer, device, 0, 100, YearWindow::legacy());
    ASSERT_FALSE(found.has_value()) << path;
    EXPECT_NE(found.error().message.find("访问源设备失败,请确认源设备是否存在"), std::string::npos);
    EXPECT_EQ(observer.messages(), (std::vector<std::string>{"访问源设备失败,请确认源设备是否存在"}));
    for (const auto& st : observer.statuses) EXPECT_NE(st.code, StatusCode::IdentifyStart);
  }
}

TEST(IdentificationSource, TheTaskInHandKeepsItsSourceStoreAndFiles) {
  test::TempDir dir;
  const auto sample = sample::buildSampleImage();
  const auto outcome = test::scanImage(dir, sample.bytes, {});
  ASSERT_TRUE(outcome.ok) << outcome.error;

  TaskContext task;
  const DeviceRecord device = makeImageRecord(dir.file("image.img"), 0);
  TaskHead head;
  head.description.brand = 18;
  head.description.parseMode = 1;
  head.taskFolder = dir.file("task");
  head.device = &device;
  head.description.length = (sample.bytes.size() + 511) / 512 * 512;
  task.describe(head);
  ASSERT_TRUE(loadTask(task, test::noListener()).has_value());
  const std::size_t files = task.fileMap.size();
  ASSERT_GT(files, 0u);

  auto found = identifyBrands(task, test::noListener(), device, 0, head.description.length / 512, YearWindow::legacy());
  ASSERT_TRUE(found.has_value());
  EXPECT_TRUE(task.deviceHandle.isOpen());
  EXPECT_NE(task.store, nullptr);
  EXPECT_EQ(task.fileMap.size(), files);
  EXPECT_EQ(task.description().brand, 18);
}

}  // namespace
}  // namespace norvale
