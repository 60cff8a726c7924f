// Reads for a scan that streams: how much of a request a handle filled, handles shared between
// threads, the read-ahead ring, and reads past the page cache.
#include <gtest/gtest.h>

#include <thread>

#include "storage/byte_source.h"
#include "storage/device_handle.h"
#include "storage/read_ahead.h"
#include "support/test_support.h"

namespace norvale {
namespace {

using test::ScriptedSource;

std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& bytes, std::uint64_t at, std::size_t n) {
  return {bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + n)};
}

TEST(DeviceHandleFilled, SaysHowMuchOfTheRequestItWrote) {
  const auto image = test::patternBytes(5000);
  DeviceHandle handle;
  handle.open(std::make_unique<MemorySource>(image));
  struct Case {
    std::uint64_t offset;
    std::size_t length, filled;
  };
  // Aligned and not, inside the image and running past its end (5000 bytes: the last sector
  // is short, and a tail sector the image ends in is filled with its zeros).
  const Case cases[] = {{0, 1024, 1024}, {512, 8192, 4488}, {100, 300, 300}, {1000, 8000, 4000}, {4990, 30, 30},
                        {4608, 1024, 392}};
  for (const auto& c : cases) {
    std::vector<std::uint8_t> out(c.length, 0xEE);
    std::size_t filled = 99;
    ASSERT_TRUE(handle.readAt(c.offset, out, filled)) << c.offset;
    EXPECT_EQ(filled, c.filled) << c.offset << "+" << c.length;
    const std::size_t real = static_cast<std::size_t>(std::min<std::uint64_t>(c.length, 5000 - c.offset));
    EXPECT_EQ(slice(out, 0, real), slice(image, c.offset, real)) << c.offset;
    for (std::size_t i = real; i < filled; ++i) ASSERT_EQ(out[i], 0) << "the zeros of the sector the image ends in";
    for (std::size_t i = filled; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << "bytes past what was filled stay";
  }
  std::vector<std::uint8_t> out(512);
  std::size_t filled = 7;
  EXPECT_FALSE(handle.readAt(8192, out, filled)) << "a read past the end fails";
  EXPECT_EQ(filled, 0u);
}

TEST(DeviceHandleShared, SharedHandlesReadTheSourceWithStatusesOfTheirOwn) {
  auto scripted = std::make_unique<ScriptedSource>(test::patternBytes(1 << 20));
  scripted->markBad(100);
  DeviceHandle handle;
  handle.open(std::move(scripted));
  auto other = handle.share();
  ASSERT_TRUE(other);
  std::vector<std::uint8_t> out(512);
  EXPECT_FALSE(other->readAt(100 * 512, out));
  EXPECT_EQ(other->failedReads(), 1u);
  EXPECT_TRUE(handle.ok()) << "the first handle's status is its own";
  EXPECT_EQ(handle.failedReads(), 0u);
  EXPECT_TRUE(other->readAt(0, out));
  EXPECT_EQ(other->size(), 1u << 20);
  DeviceHandle closed;
  EXPECT_EQ(closed.share(), nullptr);
}

TEST(DeviceHandleShared, ThreadsReadingASourceThatCannotServeThemAtOnceTakeTurns) {
  // ScriptedSource keeps a log of every read: not safe for two threads at once, so the reads
  // take turns and the log holds all of them.
  std::vector<std::pair<std::uint64_t, std::size_t>> reads;
  const auto image = test::patternBytes(4 << 20);
  auto scripted = std::make_unique<ScriptedSource>(image);
  scripted->log = &reads;
  DeviceHandle handle;
  handle.open(std::move(scripted));
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t, own = handle.share()] {
      std::vector<std::uint8_t> out(4096);
      for (int i = 0; i < 200; ++i) {
        const std::uint64_t at = static_cast<std::uint64_t>((t * 200 + i) % 1000) * 4096;
        if (!own->readAt(at, out) || out != slice(image, at, 4096)) ++wrong;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(reads.size(), 800u);
}

struct Ring {
  std::vector<std::uint8_t> image;
  DeviceHandle handle;
  Ring(std::size_t size, std::initializer_list<std::uint64_t> bad = {}) : image(test::patternBytes(size)) {
    auto scripted = std::make_unique<ScriptedSource>(image);
    for (auto s : bad) scripted->markBad(s);
    handle.open(std::move(scripted));
  }
};

TEST(ReadAhead, WindowsHoldTheRangesBytesAcrossSlotsAndZerosPastItsEnd) {
  Ring r(300'000);
  const std::uint64_t start = 512, end = 250'000;
  ReadAhead ahead(r.handle.share(), start, end, 40'000, 10'000);
  // Inside a slot, reaching into the next one's first bytes, and at the range's last byte.
  for (std::uint64_t at : {std::uint64_t{512}, std::uint64_t{30'000}, std::uint64_t{40'511}, std::uint64_t{41'000},
                           std::uint64_t{120'000}, std::uint64_t{200'000}, std::uint64_t{249'000}}) {
    const std::uint8_t* w = ahead.window(at, 10'000);
    ASSERT_NE(w, nullptr) << at;
    const std::size_t inRange = static_cast<std::size_t>(std::min<std::uint64_t>(10'000, end - at));
    EXPECT_TRUE(std::equal(w, w + inRange, r.image.begin() + static_cast<std::ptrdiff_t>(at))) << at;
    EXPECT_TRUE(std::all_of(w + inRange, w + 10'000, [](std::uint8_t b) { return b == 0; })) << at;
  }
  EXPECT_EQ(ahead.window(100'000, 10), nullptr) << "windows go forward only";
  EXPECT_EQ(ahead.window(end, 10), nullptr);
  EXPECT_EQ(ahead.window(249'000, 10'001), nullptr) << "a window longer than the tail";
}

TEST(ReadAhead, AFailedSlotReadLeavesItsWindowsToTheCaller) {
  // Sector 200 (bytes 102400..102911) lies in the third slot of 40'000 bytes (80'000..119'999).
  Ring r(300'000, {200});
  ReadAhead ahead(r.handle.share(), 0, 300'000, 40'000, 10'000);
  EXPECT_NE(ahead.window(10'000, 10'000), nullptr);
  EXPECT_EQ(ahead.window(75'000, 10'000), nullptr) << "its tail comes from the failed slot";
  EXPECT_NE(ahead.window(70'000, 10'000), nullptr) << "this window ends before the failed slot";
  EXPECT_EQ(ahead.window(81'000, 1000), nullptr);
  const std::uint8_t* after = ahead.window(120'000, 10'000);
  ASSERT_NE(after, nullptr);
  EXPECT_TRUE(std::equal(after, after + 10'000, r.image.begin() + 120'000));
}

TEST(ReadAhead, JumpsFarAheadAndARangePastTheSourcesEndAreAnsweredRight) {
  Ring r(1 << 20);
  ReadAhead ahead(r.handle.share(), 0, 2 << 20, 64 << 10, 16 << 10);  // ends a MiB past the source
  ASSERT_NE(ahead.window(0, 4096), nullptr);
  const std::uint8_t* far = ahead.window(900'000, 4096);
  ASSERT_NE(far, nullptr);
  EXPECT_TRUE(std::equal(far, far + 4096, r.image.begin() + 900'000));
  EXPECT_EQ(ahead.window(1'040'000, 16 << 10), nullptr) << "the source ends inside the window";
  EXPECT_EQ(ahead.window((1 << 20) + 4096, 4096), nullptr);
}

TEST(ReadAhead, StopsCleanlyWhateverTheConsumerLeftUnread) {
  Ring r(1 << 20);
  for (int i = 0; i < 20; ++i) {
    ReadAhead ahead(r.handle.share(), 0, 1 << 20, 32 << 10, 8 << 10, 3);
    if (i % 2) {
      ASSERT_NE(ahead.window(static_cast<std::uint64_t>(i) * 1000, 100), nullptr);
    }
  }
}

TEST(DirectReads, ReadPastThePageCacheTheSameBytesAsAPlainOpen) {
  test::TempDir dir;  // on a disk file system: the direct open is expected to hold
  const auto image = test::patternBytes((3 << 20) + 777);
  test::writeFile(dir.file("image.img"), image);
  auto plain = openFileSource(dir.file("image.img"), false);
  auto direct = openFileSource(dir.file("image.img"), true);
  ASSERT_TRUE(plain && direct);
  EXPECT_FALSE((*plain)->readsPastCache());
  // A file system that refuses O_DIRECT (tmpfs) gets a plain open: comparing it with the plain
  // open would prove nothing.
  if (!(*direct)->readsPastCache()) GTEST_SKIP() << "the temporary folder's file system refuses direct reads";
  struct Case {
    std::uint64_t offset;
    std::size_t length;
  };
  // Aligned to 4 KiB and not, across the bounce buffer's size, and through the file's end.
  const Case cases[] = {{0, 4096}, {4096, 1 << 20}, {512, 1024}, {1000, 3000}, {100, (2 << 20) + 5},
                        {(3 << 20) - 4096, 8192}, {(3 << 20) + 700, 1000}, {(3 << 20) + 777, 10}};
  for (const auto& c : cases) {
    std::vector<std::uint8_t> a(c.length, 1), b(c.length, 2);
    auto gotA = (*plain)->readAt(c.offset, a);
    auto gotB = (*direct)->readAt(c.offset, b);
    ASSERT_TRUE(gotA && gotB) << c.offset;
    ASSERT_EQ(*gotA, *gotB) << c.offset;
    EXPECT_TRUE(std::equal(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(*gotA), b.begin())) << c.offset;
  }
  EXPECT_EQ((*direct)->size().value_or(0), image.size());
  EXPECT_FALSE(openFileSource(dir.file("missing.img"), true)) << "a missing file is refused as by the plain open";
}

}  // namespace
}  // namespace norvale
