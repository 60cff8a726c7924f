#include "format/records.h"

#include "base/byte_reader.h"

namespace norvale {

namespace file_entry_layout {
constexpr std::size_t kChannelAt = 0;
constexpr std::size_t kStartTimeAt = 1;
constexpr std::size_t kEndTimeAt = 5;
constexpr std::size_t kSizeAt = 9;
constexpr std::size_t kFirstRecordAt = 17;
constexpr std::size_t kRecordBytesAt = 25;
static_assert(kRecordBytesAt + 8 == kFileEntrySize);
}  // namespace file_entry_layout

namespace index_layout {
constexpr std::size_t kKeyLowAt = 0;   // the hour code
constexpr std::size_t kKeyHighAt = 4;  // the channel
constexpr std::size_t kOffsetAt = 8;
constexpr std::size_t kLengthAt = 16;
static_assert(kLengthAt + 8 == kIndexRecordSize);
}  // namespace index_layout

void SegmentRecord::write(std::uint8_t* out) const {
  using namespace segment_layout;
  out[kKindAt] = static_cast<std::uint8_t>(kind);
  putLe32(out + kChannelAt, channel);
  putLe32(out + kStartTimeAt, startTime);
  putLe32(out + kEndTimeAt, endTime);
  putLe64(out + kFirstKeyAt, static_cast<std::uint64_t>(firstKeyOffset));
  putLe64(out + kDeviceOffsetAt, deviceOffset);
  putLe64(out + kSizeAt, size);
}

SegmentRecord SegmentRecord::read(const std::uint8_t* in) {
  using namespace segment_layout;
  SegmentRecord r;
  r.kind = static_cast<SegmentKind>(in[kKindAt]);
  r.channel = le32(in + kChannelAt);
  r.startTime = le32(in + kStartTimeAt);
  r.endTime = le32(in + kEndTimeAt);
  r.firstKeyOffset = static_cast<std::int64_t>(le64(in + kFirstKeyAt));
  r.deviceOffset = le64(in + kDeviceOffsetAt);
  r.size = le64(in + kSizeAt);
  return r;
}

void FileEntry::write(std::uint8_t* out) const {
  using namespace file_entry_layout;
  out[kChannelAt] = channel;
  putLe32(out + kStartTimeAt, startTime);
  putLe32(out + kEndTimeAt, endTime);
  putLe64(out + kSizeAt, size);
  putLe64(out + kFirstRecordAt, firstRecord);
  putLe64(out + kRecordBytesAt, recordBytes);
}

FileEntry FileEntry::read(const std::uint8_t* in) {
  using namespace file_entry_layout;
  FileEntry e;
  e.channel = in[kChannelAt];
  e.startTime = le32(in + kStartTimeAt);
  e.endTime = le32(in + kEndTimeAt);
  e.size = le64(in + kSizeAt);
  e.firstRecord = le64(in + kFirstRecordAt);
  e.recordBytes = le64(in + kRecordBytesAt);
  return e;
}

void IndexRecord::write(std::uint8_t* out) const {
  using namespace index_layout;
  putLe32(out + kKeyLowAt, static_cast<std::uint32_t>(key));
  putLe32(out + kKeyHighAt, static_cast<std::uint32_t>(key >> 32));
  putLe64(out + kOffsetAt, offset);
  putLe64(out + kLengthAt, length);
}

IndexRecord IndexRecord::read(const std::uint8_t* in) {
  using namespace index_layout;
  IndexRecord r;
  r.key = (static_cast<std::uint64_t>(le32(in + kKeyHighAt)) << 32) | le32(in + kKeyLowAt);
  r.offset = le64(in + kOffsetAt);
  r.length = le64(in + kLengthAt);
  return r;
}

}  // namespace norvale
