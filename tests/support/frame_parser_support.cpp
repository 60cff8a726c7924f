#include "support/frame_parser_support.h"

#include "sample/sample_image.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "task/result_store.h"
#include "task/task_runner.h"

namespace norvale::test {

namespace {
void collectSparse(TaskContext& task, const SparseImage& image, ScanOutcome& outcome) {
  for (const auto& [key, entry] : task.fileMap) {
    outcome.files.push_back(entry);
    outcome.keys.push_back(key);
    auto records = task.store->readFileRecords(entry, 0, entry.recordCount());
    std::vector<std::uint8_t> bytes;
    if (records) {
      for (const auto& r : *records) append(bytes, image.read(r.deviceOffset, r.size));
      outcome.records.push_back(*records);
    } else {
      outcome.records.emplace_back();
    }
    outcome.bytes.push_back(std::move(bytes));
  }
}

// Only the non-zero megabytes are written; the rest of the file stays a hole.
void writeSparseFile(const SparseImage& image, const std::string& path) {
  { std::ofstream create(path, std::ios::binary | std::ios::trunc); }
  std::filesystem::resize_file(path, image.size());
  std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
  constexpr std::uint64_t kPiece = 1 << 20;
  for (std::uint64_t at = 0; at < image.size(); at += kPiece) {
    const auto bytes = image.read(at, std::min(kPiece, image.size() - at));
    if (std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; })) continue;
    out.seekp(static_cast<std::streamoff>(at));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  if (!out) throw std::runtime_error("cannot write " + path);
}

void expectSameFilesShiftedBy(const ScanOutcome& plain, const ScanOutcome& shifted, std::size_t shift) {
  ASSERT_TRUE(plain.ok && shifted.ok);
  ASSERT_FALSE(plain.files.empty());
  ASSERT_EQ(shifted.files.size(), plain.files.size());
  EXPECT_EQ(shifted.keys, plain.keys);
  EXPECT_EQ(shifted.bytes, plain.bytes);
  for (std::size_t f = 0; f < plain.records.size(); ++f) {
    ASSERT_EQ(shifted.records[f].size(), plain.records[f].size());
    for (std::size_t r = 0; r < plain.records[f].size(); ++r) {
      SegmentRecord expected = plain.records[f][r];
      expected.deviceOffset += shift;
      EXPECT_EQ(shifted.records[f][r], expected) << "file " << f << " record " << r;
    }
  }
}
}  // namespace

std::uint32_t localEpoch(int year, int month, int day, int hour, int minute, int second) {
  return sample::localEpoch(year, month, day, hour, minute, second);
}

std::uint32_t utcEpoch(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return static_cast<std::uint32_t>(timegm(&tm));
}

std::vector<std::uint8_t> junkBytes(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(0xA0 + i % 7);
  return bytes;
}

ScanOutcome expectShiftedOffsets(const TempDir& dir, const std::vector<std::uint8_t>& image,
                                 const ScanRequest& request, std::size_t shift) {
  ScanOutcome plain = scanImage(dir, image, request);
  std::vector<std::uint8_t> moved = junkBytes(shift);
  append(moved, image);
  const ScanOutcome shifted = scanImage(dir, moved, request);
  expectSameFilesShiftedBy(plain, shifted, shift);
  return plain;
}

ScanOutcome scanSparseFile(const TempDir& dir, const SparseImage& image, const ScanRequest& request) {
  writeSparseFile(image, dir.file("image.img"));
  return scanImageFile(dir, image.size(), request,
                       [&](TaskContext& task, ScanOutcome& outcome) { collectSparse(task, image, outcome); });
}

std::size_t filesFoundIn(const SparseImage& image, ScanRequest request, const YearWindow& years) {
  TempDir dir;
  request.years = years;
  const ScanOutcome out = scanSparseFile(dir, image, request);
  EXPECT_TRUE(out.ok) << out.error;
  return out.files.size();
}

ScanOutcome loadSparseFile(const TempDir& dir, const SparseImage& image) {
  return loadTaskWith(dir.file("task"), dir.file("image.img"),
                      [&](TaskContext& task, ScanOutcome& outcome) { collectSparse(task, image, outcome); });
}

}  // namespace norvale::test
