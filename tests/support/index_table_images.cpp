#include "support/index_table_images.h"

#include <algorithm>
#include <cstring>

#include "parsers/brand_parser.h"
#include "format/packed_time.h"
#include "base/byte_reader.h"
#include "support/task_trace.h"
#include "task/brand_scan.h"
#include "task/result_store.h"

namespace norvale::test {

void SparseImage::put(std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
  if (offset >= m_size) return;
  std::vector<std::uint8_t> chunk(bytes.begin(),
                                  bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(bytes.size(), m_size - offset)));
  m_chunks[offset] = std::move(chunk);
}

std::vector<std::uint8_t> SparseImage::read(std::uint64_t offset, std::uint64_t length) const {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(length));
  for (const auto& [at, bytes] : m_chunks) {
    const std::uint64_t from = std::max(at, offset);
    const std::uint64_t to = std::min(at + bytes.size(), offset + length);
    if (from < to) std::memcpy(out.data() + (from - offset), bytes.data() + (from - at), static_cast<std::size_t>(to - from));
  }
  return out;
}

Result<std::size_t> SparseSource::readAt(std::uint64_t offset, std::span<std::uint8_t> dst) {
  if (m_log) m_log->emplace_back(offset, dst.size());
  if (vanishFrom && offset + dst.size() > *vanishFrom) {
    m_gone = true;
    return fail(ErrorCode::ReadFailed, "no such device", offset);
  }
  if (offset >= m_image->size()) return std::size_t{0};
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(dst.size(), m_image->size() - offset));
  for (std::uint64_t s = offset / 512; s <= (offset + n - 1) / 512; ++s)
    if (m_bad.count(s)) return fail(ErrorCode::ReadFailed, "bad sector", s * 512);
  const auto bytes = m_image->read(offset, n);
  std::memcpy(dst.data(), bytes.data(), n);
  return n;
}

SourceScan scanSparse(const TempDir& dir, std::shared_ptr<const SparseImage> image, const ScanRequest& request,
                      std::set<std::uint64_t> badSectors, std::optional<std::uint64_t> vanishFrom) {
  SourceScan scan;
  const std::string folder = dir.file("task");
  std::filesystem::create_directories(folder);
  RecordingObserver observer;
  TaskContext task;
  observer.stopTask = &task;
  observer.stopAfterProgress = request.stopAfterProgress;
  task.describe(scanHead(request, image->size(), folder));
  task.teardown();
  task.reset();
  auto source = std::make_unique<SparseSource>(image, std::move(badSectors), &scan.reads);
  source->vanishFrom = vanishFrom;
  task.deviceHandle.open(std::move(source));
  ScanOutcome& outcome = scan.outcome;
  if (auto opened = task.store->openFiles(task.taskFolder, TaskFileMode::Create); !opened) {
    outcome.ok = false;
    outcome.error = opened.error().message;
    return scan;
  }
  const std::unique_ptr<BrandParser> parser = createParser(task.description().brand);
  if (!parser) {
    outcome.ok = false;
    outcome.error = "no parser";
    return scan;
  }
  runBrandScan(task, observer, *parser);
  if (auto bytes = task.store->fileSize(TaskFileId::SortedSegments); bytes && *bytes > 0) {
    FileEntry all;
    all.recordBytes = *bytes;
    if (auto records = task.store->readFileRecords(all, 0, all.recordCount())) scan.sorted = *records;
  }
  if (auto loaded = loadBrandFiles(task, observer); !loaded) {
    outcome.ok = false;
    outcome.error = loaded.error().message;
  }
  outcome.endSector = task.endSector;
  for (const auto& [key, entry] : task.fileMap) {
    outcome.files.push_back(entry);
    outcome.keys.push_back(key);
    auto records = task.store->readFileRecords(entry, 0, entry.recordCount());
    std::vector<std::uint8_t> bytes;
    if (records) {
      for (const auto& r : *records) append(bytes, image->read(r.deviceOffset, r.size));
      outcome.records.push_back(*records);
    } else {
      outcome.records.emplace_back();
    }
    outcome.bytes.push_back(std::move(bytes));
  }
  outcome.messages = observer.messages();
  outcome.statuses = observer.statuses;
  traceTask("sparse", folder, outcome);
  return scan;
}

std::vector<std::uint8_t> volumeTable(const VolumeTableBrand& brand, const std::vector<VolumeEntrySpec>& entries,
                                      bool signature) {
  std::vector<std::uint8_t> table(512);
  if (signature) putLe32(&table[brand.signatureAt], 0x55AA55AA);
  for (std::size_t i = 0; i < entries.size() && i < 4; ++i) {
    std::uint8_t* e = &table[brand.entriesAt[i]];
    putLe64(e + brand.superblockSectorAt, entries[i].superblockSector);
    putLe64(e + 0x30, entries[i].firstSector);
    putLe64(e + 0x38, entries[i].sectorCount);
  }
  return table;
}

std::vector<std::uint8_t> superblock(const SuperblockSpec& fields) {
  std::vector<std::uint8_t> s(512);
  putLe32(&s[0x2C], fields.unit);
  putLe32(&s[0x30], fields.unitsPerBlock);
  putLe32(&s[0x44], fields.indexStartUnits);
  putLe32(&s[0x48], fields.dataStartUnits);
  putLe32(&s[0x4C], fields.records);
  putLe32(&s[0x148], fields.magic);
  return s;
}

std::vector<std::uint8_t> volumeIndexRecord(const IndexRecordSpec& fields) {
  std::vector<std::uint8_t> r(32);
  r[0] = fields.kind;
  r[1] = fields.channelByte;
  putLe32(&r[4], fields.start);
  putLe32(&r[8], fields.end);
  putLe32(&r[0x0C], fields.number);
  putLe32(&r[0x14], fields.number);
  putLe32(&r[0x18], fields.number);
  return r;
}

std::vector<std::uint8_t> wfsIndexEntry(const IndexRecordSpec& fields) {
  std::vector<std::uint8_t> r(32);
  putLe32(&r[4], fields.number);
  putLe32(&r[8], fields.number);
  putLe32(&r[12], fields.start);
  putLe32(&r[16], fields.end);
  putLe32(&r[24], fields.number);
  r[31] = fields.channelByte;
  return r;
}

std::vector<std::uint8_t> volumeFrame(const VolumeTableBrand& brand, const FrameSpec& fields) {
  std::vector<std::uint8_t> f(fields.length, fields.fill);
  std::memcpy(f.data(), brand.frameMagic.data(), 4);
  putLe16(&f[4], fields.type);
  f[6] = fields.channelByte;
  std::memset(&f[7], 0, 5);
  putLe32(&f[12], fields.length);
  putLe32(&f[16], fields.time);
  if (fields.length >= 28) {
    std::memcpy(&f[fields.length - 8], brand.tailMagic.data(), 4);
    putLe32(&f[fields.length - 4], fields.length);
  }
  return f;
}

std::vector<std::uint8_t> wfsKeyPacket(std::uint32_t time, std::uint32_t length, std::uint8_t fill) {
  std::vector<std::uint8_t> p(std::size_t{16} + length, fill);
  p[0] = 0; p[1] = 0; p[2] = 1; p[3] = 0xFC;
  putLe32(&p[4], 0);
  putLe32(&p[8], time);
  putLe32(&p[12], length);
  return p;
}

std::vector<std::uint8_t> wfsLongPacket(std::uint32_t length, std::uint8_t fill) {
  std::vector<std::uint8_t> p(std::size_t{8} + length, fill);
  p[0] = 0; p[1] = 0; p[2] = 1; p[3] = 0xFD;
  putLe32(&p[4], length);
  return p;
}

std::vector<std::uint8_t> wfsShortPacket(std::uint16_t length, std::uint8_t fill) {
  std::vector<std::uint8_t> p(std::size_t{8} + length, fill);
  p[0] = 0; p[1] = 0; p[2] = 1; p[3] = 0xFA;
  p[4] = 0; p[5] = 0;
  putLe16(&p[6], length);
  return p;
}

std::vector<std::uint8_t> wfsInfoPacket(std::uint16_t length, std::uint8_t fill) {
  auto p = wfsShortPacket(length, fill);
  p[3] = 0xF9;
  return p;
}

std::vector<std::uint8_t> markerPacket(std::uint8_t channelByte, std::uint32_t time, std::uint32_t payload, bool key,
                                       std::uint8_t fill) {
  std::vector<std::uint8_t> p(std::size_t{128} + payload, fill);
  std::fill(p.begin(), p.begin() + 128, std::uint8_t{0});
  std::memcpy(&p[0], "liu ", 4);
  p[44] = channelByte;
  putLe32(&p[60], payload);
  putLe32(&p[72], time);
  std::memcpy(&p[124], " uil", 4);
  if (p.size() > 132) p[132] = key ? 0x65 : 0x21;  // the coded unit's first byte, when there is room
  return p;
}

void append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

std::uint32_t packed(int year, int month, int day, int hour, int minute, int second) {
  return PackedTime::fromFields(year, month, day, hour, minute, second).raw;
}

std::uint32_t plusSeconds(std::uint32_t time, int seconds) {
  const PackedTime p{time};
  const int s = p.second() + seconds;
  const int m = p.minute() + s / 60;
  return packed(p.year(), p.month(), p.day(), p.hour() + m / 60, m % 60, s % 60);
}

SegmentRecord indexedBlock(std::uint32_t channel, std::uint32_t start, std::uint32_t end, std::uint64_t offset,
                           std::uint64_t size) {
  return SegmentRecord{SegmentKind::Key, channel, start, end, -1, offset, size};
}

bool hasMessage(const std::vector<std::string>& messages, const std::string& text) {
  // A message of that kind: the text, or the text with its particulars after ": " (the
  // bad-block lines name their stretch).
  return std::any_of(messages.begin(), messages.end(), [&](const std::string& m) {
    return m == text || (m.size() > text.size() + 2 && m.starts_with(text) && m.compare(text.size(), 2, ": ") == 0);
  });
}

}  // namespace norvale::test
