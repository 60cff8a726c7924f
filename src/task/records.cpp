#include "task/records.h"

#include "storage/byte_reader.h"

namespace norvale {

void SegmentRecord::write(std::uint8_t* out) const {
  out[0] = static_cast<std::uint8_t>(kind);
  putLe32(out + 1, channel);
  putLe32(out + 5, startTime);
  putLe32(out + 9, endTime);
  putLe64(out + 13, static_cast<std::uint64_t>(firstKeyOffset));
  putLe64(out + 21, deviceOffset);
  putLe64(out + 29, size);
}

SegmentRecord SegmentRecord::read(const std::uint8_t* in) {
  SegmentRecord r;
  r.kind = static_cast<SegmentKind>(in[0]);
  r.channel = le32(in + 1);
  r.startTime = le32(in + 5);
  r.endTime = le32(in + 9);
  r.firstKeyOffset = static_cast<std::int64_t>(le64(in + 13));
  r.deviceOffset = le64(in + 21);
  r.size = le64(in + 29);
  return r;
}

void FileEntry::write(std::uint8_t* out) const {
  out[0] = channel;
  putLe32(out + 1, startTime);
  putLe32(out + 5, endTime);
  putLe64(out + 9, size);
  putLe64(out + 17, firstRecord);
  putLe64(out + 25, recordBytes);
}

FileEntry FileEntry::read(const std::uint8_t* in) {
  FileEntry e;
  e.channel = in[0];
  e.startTime = le32(in + 1);
  e.endTime = le32(in + 5);
  e.size = le64(in + 9);
  e.firstRecord = le64(in + 17);
  e.recordBytes = le64(in + 25);
  return e;
}

void IndexRecord::write(std::uint8_t* out) const {
  putLe32(out, static_cast<std::uint32_t>(key));
  putLe32(out + 4, static_cast<std::uint32_t>(key >> 32));
  putLe64(out + 8, offset);
  putLe64(out + 16, length);
}

IndexRecord IndexRecord::read(const std::uint8_t* in) {
  IndexRecord r;
  r.key = (static_cast<std::uint64_t>(le32(in + 4)) << 32) | le32(in);
  r.offset = le64(in + 8);
  r.length = le64(in + 16);
  return r;
}

}  // namespace norvale
