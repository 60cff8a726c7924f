#include "storage/device_handle.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace norvale {
namespace {

using test::ScriptedSource;
using Reads = std::vector<std::pair<std::uint64_t, std::size_t>>;

struct LoggedHandle {
  Reads reads;
  std::vector<std::uint8_t> image = test::patternBytes(8192);
  DeviceHandle handle;
  ScriptedSource* source = nullptr;
  bool whole = false;  // what the last read returned
  LoggedHandle() {
    auto s = std::make_unique<ScriptedSource>(image);
    s->log = &reads;
    source = s.get();
    handle.open(std::move(s));
  }
  std::vector<std::uint8_t> read(std::uint64_t offset, std::size_t length) {
    std::vector<std::uint8_t> out(length, 0xEE);
    whole = handle.readAt(offset, out);
    EXPECT_EQ(whole, handle.ok()) << "a read returns what ok() says after it";
    return out;
  }
};

TEST(DeviceHandleSplitRead, ShortRequestCrossingASectorReadsHeadAndTail) {
  // 1000..1099 crosses the sector boundary at 1024: 24 bytes from the head, 76 from the tail.
  LoggedHandle h;
  auto out = h.read(1000, 100);
  EXPECT_EQ(h.reads, (Reads{{512, 512}, {1024, 512}}));
  EXPECT_TRUE(h.handle.ok());
  EXPECT_EQ(out, std::vector<std::uint8_t>(h.image.begin() + 1000, h.image.begin() + 1100));
}

TEST(DeviceHandleSplitRead, RequestInsideOneSectorReadsItOnce) {
  LoggedHandle h;
  auto out = h.read(600, 100);
  EXPECT_EQ(h.reads, (Reads{{512, 512}}));
  EXPECT_EQ(out, std::vector<std::uint8_t>(h.image.begin() + 600, h.image.begin() + 700));
}

TEST(DeviceHandleSplitRead, HeadMiddleTail) {
  LoggedHandle h;
  auto out = h.read(1000, 2000);
  EXPECT_EQ(h.reads, (Reads{{512, 512}, {1024, 1536}, {2560, 512}}));
  EXPECT_EQ(out, std::vector<std::uint8_t>(h.image.begin() + 1000, h.image.begin() + 3000));
}

TEST(DeviceHandleSplitRead, AlignedRequestIsOneRead) {
  LoggedHandle h;
  auto out = h.read(0, 4096);
  EXPECT_EQ(h.reads, (Reads{{0, 4096}}));
  EXPECT_EQ(out, std::vector<std::uint8_t>(h.image.begin(), h.image.begin() + 4096));
}

TEST(DeviceHandleSplitRead, AlignedOffsetOneByteReadsTailSector) {
  LoggedHandle h;
  auto out = h.read(1024, 1);
  EXPECT_EQ(h.reads, (Reads{{1024, 512}}));
  EXPECT_EQ(out[0], h.image[1024]);
}

TEST(DeviceHandleEnds, ReadRunningPastEndDeliversWhatExists) {
  LoggedHandle h;
  auto out = h.read(8192 - 512, 1024);
  EXPECT_TRUE(h.handle.ok());
  EXPECT_EQ(out[511], h.image[8191]);
}

TEST(DeviceHandleEnds, UnalignedReadRunningPastEndDeliversWhatExists) {
  // The split path must not fail the whole request because its tail lies past the end: a scan
  // block that starts after a packet (unaligned) and reaches the end of an image would be lost.
  LoggedHandle h;
  auto out = h.read(8192 - 700, 2000);
  EXPECT_TRUE(h.handle.ok());
  EXPECT_EQ(out[0], h.image[8192 - 700]);
  EXPECT_EQ(out[699], h.image[8191]);
  auto inside = h.read(8192 - 100, 50);  // head only, inside the last sector
  EXPECT_TRUE(h.handle.ok());
  EXPECT_EQ(inside[49], h.image[8192 - 51]);
}

TEST(DeviceHandleEnds, ReadAtEndFailsWithCallerOffset) {
  LoggedHandle h;
  h.read(8192, 512);
  EXPECT_EQ(h.handle.status(), kDeviceFailed);
  EXPECT_EQ(h.handle.failedOffset(), 8192u);
  h.read(8193, 10);  // unaligned: the failed offset is the caller's, not the aligned one
  EXPECT_EQ(h.handle.failedOffset(), 8193u);
  h.read(0, 512);
  EXPECT_EQ(h.handle.status(), kDeviceOk) << "every read starts by clearing the status";
}

TEST(DeviceHandleFailures, BadSectorInMiddleStopsSplitRead) {
  LoggedHandle h;
  h.source->markBad(3);  // bytes 1536..2047
  auto out = h.read(1000, 2000);
  EXPECT_EQ(h.handle.status(), kDeviceFailed);
  EXPECT_EQ(h.handle.failedOffset(), 1000u);
  EXPECT_EQ(h.reads.size(), 2u) << "the tail is not read after the middle failed";
  EXPECT_EQ(out[0], h.image[1000]) << "the head already copied stays in place";
}

TEST(DeviceHandleFailures, EachReadReturnsItsOwnOutcome) {
  // A failed read does not make the next one fail, nor a good one hide a failure after it.
  LoggedHandle h;
  h.source->markBad(2);
  h.read(0, 512);
  EXPECT_TRUE(h.whole);
  h.read(1000, 100);  // its tail lies in the bad sector
  EXPECT_FALSE(h.whole);
  EXPECT_EQ(h.handle.failedOffset(), 1000u);
  h.read(1536, 1024);
  EXPECT_TRUE(h.whole);
  h.read(512, 2048);  // aligned, through the bad sector
  EXPECT_FALSE(h.whole);
  EXPECT_EQ(h.handle.lastError().code, ErrorCode::ReadFailed);
}

TEST(DeviceHandleFailures, ClosedHandleReadsNothingAndKeepsOk) {
  DeviceHandle handle;
  std::vector<std::uint8_t> out(16, 0xAB);
  EXPECT_TRUE(handle.readAt(0, out));
  EXPECT_EQ(handle.status(), kDeviceOk);
  EXPECT_EQ(out[0], 0xAB);
  handle.close();
  handle.close();  // twice is safe
}

TEST(DeviceHandleOpen, MissingImageFails) {
  test::TempDir dir;
  DeviceHandle handle;
  handle.open(makeImageRecord(dir.file("absent.img"), 0));
  EXPECT_EQ(handle.status(), kDeviceFailed);
  EXPECT_EQ(handle.lastError().code, ErrorCode::NotFound);
  EXPECT_FALSE(handle.isOpen());
}

TEST(DeviceHandleOpen, ReadOnlyImageOpensAndReads) {
  test::TempDir dir;
  const auto path = dir.file("evidence.img");
  test::writeFile(path, test::patternBytes(3000));  // not a multiple of 512
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  DeviceHandle handle;
  const auto record = makeImageRecord(path, 2);
  EXPECT_EQ(record.driveNumber, 20);
  EXPECT_EQ(record.secondName, "evidence");
  EXPECT_EQ(record.size, 3000u);
  handle.open(record);
  ASSERT_TRUE(handle.ok());
  EXPECT_EQ(handle.kind(), DeviceKind::Path);
  EXPECT_EQ(handle.size(), 3000u);
  std::vector<std::uint8_t> out(1024, 0xEE);
  std::size_t filled = 0;
  EXPECT_TRUE(handle.readAt(2048, out, filled));  // only 952 bytes exist from there
  EXPECT_TRUE(handle.ok());
  EXPECT_EQ(filled, 952u);
  EXPECT_EQ(out[0], static_cast<std::uint8_t>(2048 % 251));
  EXPECT_EQ(out[951], static_cast<std::uint8_t>(2999 % 251));
  // A short transfer: what lies past the image's end is not the image's, and is left alone.
  for (std::size_t i = 952; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << i;
}

TEST(DeviceHandleOpen, FolderIsRefused) {
  test::TempDir dir;
  DeviceHandle handle;
  handle.open(makeImageRecord(dir.str(), 0));
  EXPECT_EQ(handle.status(), kDeviceFailed);
}

}  // namespace
}  // namespace norvale
