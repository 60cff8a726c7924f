#include "parsers/multi_brand_parser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>

#include "base/byte_reader.h"
#include "parsers/brand_table.h"
#include "sample/sample_image.h"
#include "support/scan_harness.h"

namespace norvale {
namespace {

using sample::appendMultiBrandPacket;
using sample::localEpoch;

using test::ZoneGuard;

std::vector<std::uint8_t> payload(std::size_t size, std::uint8_t nalHeader) {
  std::vector<std::uint8_t> p(size, 0xAA);
  if (size >= 5) {
    p[0] = p[1] = p[2] = 0;
    p[3] = 1;
    p[4] = nalHeader;
  }
  return p;
}

// A source of zeros with a few patched bytes, for packets far larger than memory allows.
class PatchSource final : public ByteSource {
 public:
  explicit PatchSource(std::uint64_t size) : m_size(size) {}
  void patch(std::uint64_t at, std::vector<std::uint8_t> bytes) { m_patches[at] = std::move(bytes); }
  Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> dst) override {
    if (offset >= m_size) return std::size_t{0};
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(dst.size(), m_size - offset));
    std::fill_n(dst.begin(), n, 0);
    for (const auto& [at, bytes] : m_patches)
      for (std::size_t i = 0; i < bytes.size(); ++i)
        if (at + i >= offset && at + i < offset + n) dst[at + i - offset] = bytes[i];
    return n;
  }
  Result<std::uint64_t> size() override { return m_size; }
 private:
  std::uint64_t m_size;
  std::map<std::uint64_t, std::vector<std::uint8_t>> m_patches;
};

class MultiBrandPacketTest : public ::testing::Test {
 protected:
  ZoneGuard zone{"Asia/Shanghai"};
  TaskContext task;
  MultiBrandParser parser;
  DeviceHandle device;  // closed: follower reads leave zeros

  std::optional<Packet> test(const std::vector<std::uint8_t>& bytes, std::uint64_t deviceOffset = 0) {
    std::vector<std::uint8_t> padded = bytes;
    padded.resize(bytes.size() + 512, 0);
    return parser.decoder().decode({padded.data(), padded.size(), static_cast<std::int64_t>(bytes.size()), deviceOffset}, device);
  }
  // One packet followed by a follower header.
  std::vector<std::uint8_t> withFollower(std::uint8_t channel, std::uint32_t time, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> out;
    appendMultiBrandPacket(out, channel, time, data);
    sample::appendFollowerMarker(out);
    return out;
  }
  std::uint32_t t2016 = localEpoch(2016, 5, 17, 8, 0, 0);
};

TEST_F(MultiBrandPacketTest, AcceptedPacketGivesTheRecordFields) {
  auto p = test(withFollower(2, t2016, payload(100, 0x65)), 4096);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->kind, SegmentKind::Key);
  EXPECT_EQ(p->channel, 3u);
  EXPECT_EQ(p->time, t2016);
  EXPECT_EQ(p->dataOffset, 4096u + 66);
  EXPECT_EQ(p->dataLength, 100u);
  EXPECT_EQ(p->advance, 166u);
}

TEST_F(MultiBrandPacketTest, ChannelByteFFIsChannelZero) {
  auto p = test(withFollower(0xFF, t2016, payload(100, 0x65)));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->channel, 0u);
}

TEST_F(MultiBrandPacketTest, KindFollowsTheSecondStartCodeAndBit0x40) {
  EXPECT_EQ(test(withFollower(0, t2016, payload(100, 0x67)))->kind, SegmentKind::Key);
  EXPECT_EQ(test(withFollower(0, t2016, payload(100, 0x21)))->kind, SegmentKind::Other);
  auto noStartCode = payload(100, 0x67);
  noStartCode[3] = 2;
  EXPECT_EQ(test(withFollower(0, t2016, noStartCode))->kind, SegmentKind::Other);
}

TEST_F(MultiBrandPacketTest, PayloadSizeLimits) {
  EXPECT_FALSE(test(withFollower(0, t2016, payload(4, 0x65)))) << "S = 26";
  EXPECT_TRUE(test(withFollower(0, t2016, payload(5, 0x65)))) << "S = 27";
}

TEST_F(MultiBrandPacketTest, LargestPacketIsAcceptedAndOneByteMoreIsNot) {
  for (std::uint32_t s : {multi_brand::kMaxPayload, multi_brand::kMaxPayload + 1}) {
    std::vector<std::uint8_t> header;
    appendMultiBrandPacket(header, 0, t2016, payload(5, 0x65));
    putLe32(&header[8], s);
    auto source = std::make_unique<PatchSource>(std::uint64_t{s} + 44 + 4096);
    source->patch(std::uint64_t{s} + 44 + 43, {0, 0, 0, 1});  // the follower's start code on the device
    DeviceHandle big;
    big.open(std::move(source));
    header.resize(header.size() + 512, 0);
    auto p = parser.decoder().decode({header.data(), header.size(), 71, 0}, big);
    EXPECT_EQ(p.has_value(), s == multi_brand::kMaxPayload) << "S = " << s;
    if (p) {
      EXPECT_EQ(p->advance, 0x63FFFFFu);
    }
  }
}

TEST_F(MultiBrandPacketTest, CaptureTimeMustFallIn2010To2020LocalTime) {
  EXPECT_FALSE(test(withFollower(0, localEpoch(2009, 12, 31, 23, 59, 59), payload(50, 0x65))));
  EXPECT_TRUE(test(withFollower(0, localEpoch(2010, 1, 1, 0, 0, 0), payload(50, 0x65))));
  EXPECT_TRUE(test(withFollower(0, localEpoch(2020, 12, 31, 23, 59, 59), payload(50, 0x65))));
  EXPECT_FALSE(test(withFollower(0, localEpoch(2021, 1, 1, 0, 0, 0), payload(50, 0x65))));
  EXPECT_FALSE(test(withFollower(0, 0, payload(50, 0x65))));
}

TEST_F(MultiBrandPacketTest, PlausibilityIsJudgedInTheLocalZone) {
  // 2009-12-31 20:00 UTC is already 2010 in Shanghai (UTC+8) but not in New York.
  const std::uint32_t t = 1262289600;
  EXPECT_TRUE(test(withFollower(0, t, payload(50, 0x65))));
  ZoneGuard newYork("America/New_York");
  EXPECT_FALSE(test(withFollower(0, t, payload(50, 0x65))));
}

TEST_F(MultiBrandPacketTest, LastPacketWithoutFollowerIsRejected) {
  std::vector<std::uint8_t> lone;
  appendMultiBrandPacket(lone, 0, t2016, payload(100, 0x65));
  EXPECT_FALSE(test(lone));
}

TEST_F(MultiBrandPacketTest, FollowerPastTheBufferIsReadFromTheDevice) {
  auto bytes = withFollower(0, t2016, payload(3000, 0x65));
  auto source = std::make_unique<MemorySource>(bytes);
  device.open(std::move(source));
  // Only the first 1000 bytes are in the window; the follower lies at 3044 + 43 on the device.
  std::vector<std::uint8_t> window(bytes.begin(), bytes.begin() + 1000);
  window.resize(1512, 0);
  EXPECT_TRUE(parser.decoder().decode({window.data(), window.size(), 1000, 0}, device));
  // The same header at an unaligned device offset whose follower the device does not have.
  EXPECT_FALSE(parser.decoder().decode({window.data(), window.size(), 1000, 7}, device));
}

TEST(MultiBrandCandidates, FinderReturnsExactlyThePositionsWithTheStartCode) {
  const PacketDecoder& probe = multiBrandDecoder();
  std::mt19937 rng(7);
  std::vector<std::uint8_t> buffer(kBlockSize + kLookAhead);
  for (int round = 0; round < 3; ++round) {
    for (auto& b : buffer) b = static_cast<std::uint8_t>(rng() % 4);  // many zeros and ones
    std::vector<std::size_t> brute, found;
    for (std::size_t i = 0; i <= kWindowLastStart; ++i)
      if (buffer[i + 43] == 0 && buffer[i + 44] == 0 && buffer[i + 45] == 0 && buffer[i + 46] == 1) brute.push_back(i);
    for (std::size_t i = probe.nextCandidate(buffer.data(), 0, kWindowLastStart); i <= kWindowLastStart;
         i = probe.nextCandidate(buffer.data(), i + 1, kWindowLastStart))
      found.push_back(i);
    EXPECT_EQ(found, brute);
    EXPECT_FALSE(brute.empty());
  }
}

}  // namespace
}  // namespace norvale
