// The fuzz targets outside libFuzzer: every seed and every regression input runs through the
// same entry functions, and the input handling and the candidate check are tested on their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <ostream>

#include "base/byte_reader.h"
#include "fuzz/fuzz_targets.h"
#include "parsers/brand_table.h"
#include "parsers/packet_decoder.h"
#include "storage/device_handle.h"
#include "storage/partition_scan.h"
#include "support/test_support.h"

namespace norvale::fuzz {

// Test listings name the target rather than dumping its bytes (found by argument lookup).
void PrintTo(const FuzzTarget& target, std::ostream* out) { *out << target.name; }

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- replay ----

class FuzzReplay : public ::testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzReplay, EverySeedRuns) {
  const FuzzTarget& target = GetParam();
  const auto seeds = seedsFor(target.name);
  ASSERT_FALSE(seeds.empty()) << "no seeds for " << target.name;
  for (const Seed& seed : seeds) {
    SCOPED_TRACE(seed.name);
    EXPECT_LE(seed.bytes.size(), target.maxInput) << "libFuzzer would cut the seed";
    target.run(seed.bytes.data(), seed.bytes.size());
  }
}

TEST_P(FuzzReplay, EveryRegressionInputRuns) {
  const FuzzTarget& target = GetParam();
  const std::filesystem::path dir = std::filesystem::path(NORVALE_FUZZ_REGRESSIONS) / target.name;
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no regression inputs for " << target.name;
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    const Bytes bytes = test::readFile(file.string());
    target.run(bytes.data(), bytes.size());
  }
}

TEST_P(FuzzReplay, ShortAndEmptyInputsAreHarmless) {
  const FuzzTarget& target = GetParam();
  const Bytes bytes(64, 0xFF);
  for (std::size_t n : {0, 1, 2, 3, 7, 13, 64}) target.run(bytes.data(), n);
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(fuzzTargets().begin(), fuzzTargets().end()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the sparse device description ----

TEST(FuzzInput, SparseImagesRoundTrip) {
  Bytes image(70000, 0);
  image[3] = 1;
  std::fill(image.begin() + 1000, image.begin() + 1010, 0x42);
  image[1015] = 7;  // inside the chunk before it: the gap is short
  std::fill(image.begin() + 2000, image.end() - 1, 0x99);  // longer than one chunk
  const Bytes encoded = encodeSparse(image);
  EXPECT_LT(encoded.size(), image.size() + 64);
  EXPECT_EQ(sparseDevice(encoded, image.size()), image);
  EXPECT_EQ(sparseDevice(encodeSparse(Bytes(4096, 0)), 1 << 20), Bytes(4096, 0));
}

TEST(FuzzInput, HostileDescriptionsStayInsideTheDevice) {
  // Size above the cap, an offset past the end, a chunk running past the end, an input that
  // ends inside a chunk.
  Bytes in(4);
  putLe32(in.data(), 0xFFFFFFFF);
  auto chunk = [&](std::uint32_t offset, std::uint16_t length, std::uint8_t fill, std::size_t given) {
    const std::size_t at = in.size();
    in.resize(at + 6);
    putLe32(&in[at], offset);
    putLe16(&in[at + 4], length);
    in.insert(in.end(), given, fill);
  };
  chunk(100 + 4096, 4, 0x11, 4);  // wraps to 100
  chunk(4094, 8, 0x22, 8);        // only two bytes fit; the other six are the chunk's all the same
  chunk(10, 500, 0x33, 3);        // the input ends inside the chunk
  in.push_back(0x44);
  const Bytes device = sparseDevice(in, 4096);
  ASSERT_EQ(device.size(), 4096u);
  EXPECT_EQ(device[100], 0x11);
  EXPECT_EQ(device[103], 0x11);
  EXPECT_EQ(device[104], 0);
  EXPECT_EQ(device[4094], 0x22);
  EXPECT_EQ(device[4095], 0x22);
  EXPECT_EQ(device[0], 0);
  EXPECT_EQ(device[12], 0x33);
  EXPECT_EQ(device[13], 0x44);
  EXPECT_EQ(device[14], 0);
  EXPECT_EQ(std::count(device.begin(), device.end(), 0), 4096 - 4 - 2 - 4);
  // A device of size 0 takes no chunk; inputs shorter than a header are the device itself.
  Bytes empty(10, 0);
  EXPECT_TRUE(sparseDevice(empty, 100).empty());
  EXPECT_EQ(sparseDevice(Bytes{1, 2, 3}, 100), (Bytes{1, 2, 3}));
  EXPECT_EQ(sparseDevice(Bytes{1, 2, 3}, 2), (Bytes{1, 2}));
}

TEST(FuzzInput, PartitionSeedsReachTheProbes) {
  // Seeds that the walk rejects at the first table would leave the fuzzer at the door.
  int withPartitions = 0;
  for (const Seed& seed : seedsFor("partitions")) {
    DeviceHandle handle;
    const Bytes device = sparseDevice(seed.bytes, 8 << 20);
    handle.open(std::make_unique<MemorySource>(device));
    DeviceRecord record;
    record.size = device.size();
    scanPartitions(handle, record);
    if (seed.name.starts_with("mbr-") || seed.name.starts_with("gpt-") || seed.name.starts_with("ebr-")) {
      EXPECT_FALSE(record.partitions.empty()) << seed.name;
      ++withPartitions;
    }
  }
  EXPECT_GE(withPartitions, 3);
}

// ---- the candidate check ----

// Accepts a packet wherever the byte 0xAB stands.
class MarkerDecoder : public PacketDecoder {
 public:
  explicit MarkerDecoder(bool skipsSome) : m_skipsSome(skipsSome) {}
  std::optional<Packet> decode(const PacketWindow& window, DeviceHandle&) const override {
    if (window.available == 0 || window.data[0] != 0xAB) return std::nullopt;
    return Packet{};
  }
  std::size_t nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const override {
    for (std::size_t at = from; at <= last; ++at)
      // The faulty search looks at even positions only.
      if (buffer[at] == 0xAB && (!m_skipsSome || at % 2 == 0)) return at;
    return last + 1;
  }

 private:
  bool m_skipsSome;
};

TEST(FuzzCandidates, ASkippedPacketIsFound) {
  Bytes bytes(300, 0);
  bytes[40] = 0xAB;
  bytes[201] = 0xAB;
  EXPECT_FALSE(candidateMismatch(MarkerDecoder(false), bytes));
  const auto mismatch = candidateMismatch(MarkerDecoder(true), bytes);
  ASSERT_TRUE(mismatch);
  EXPECT_NE(mismatch->find("accepts at 201"), std::string::npos) << *mismatch;
  EXPECT_FALSE(candidateMismatch(MarkerDecoder(true), Bytes{}));
}

TEST(FuzzCandidates, EveryRowAgreesOnForeignBytes) {
  Bytes bytes(8192);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
  for (const BrandRow& row : brandTable()) {
    ASSERT_NE(row.decoder, nullptr);
    EXPECT_FALSE(candidateMismatch(*row.decoder, bytes)) << "brand " << int(row.first);
  }
}

}  // namespace
}  // namespace norvale::fuzz
