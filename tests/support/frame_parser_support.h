#pragma once
// Builders for the frame-chain and block-index recorder suites: local epoch times, byte
// appenders, and large sparse images (recorders that place their indexes a gigabyte into the
// disk) written as sparse files, so a test holds only the bytes it sets.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "storage/byte_source.h"
#include "support/scan_harness.h"

namespace norvale::test {

// Seconds since 1970 of a local calendar time (the zone of the TZ variable).
std::uint32_t localEpoch(int year, int month, int day, int hour, int minute, int second);
// Seconds since 1970 of a UTC calendar time.
std::uint32_t utcEpoch(int year, int month, int day, int hour, int minute, int second);

void append(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& bytes);
// Bytes that hold none of the recorders' magics or start codes.
std::vector<std::uint8_t> junkBytes(std::size_t n);

// A device image of a given size holding a few pieces of bytes; everything else reads as zero.
class SparseImage {
 public:
  explicit SparseImage(std::uint64_t size) : m_size(size) {}
  std::uint64_t size() const { return m_size; }
  void put(std::uint64_t offset, const std::vector<std::uint8_t>& bytes);
  std::vector<std::uint8_t> bytesAt(std::uint64_t offset, std::uint64_t length) const;
  // Writes a sparse file of size() bytes.
  void writeTo(const std::string& path) const;

 private:
  std::uint64_t m_size;
  std::map<std::uint64_t, std::vector<std::uint8_t>> m_pieces;
};

// A read-only source over a sparse image, for packet tests whose followers lie far away.
class SparseSource final : public ByteSource {
 public:
  explicit SparseSource(SparseImage image) : m_image(std::move(image)) {}
  Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> dst) override;
  Result<std::uint64_t> size() override { return m_image.size(); }
  // Reads that touch this sector fail, as on a disk with a bad sector.
  void markBad(std::uint64_t sector) { m_bad.insert(sector); }

 private:
  SparseImage m_image;
  std::set<std::uint64_t> m_bad;
};

// Scans the image, and the image behind `shift` foreign bytes, and expects the same files whose
// records lie exactly `shift` bytes further on.
void expectShiftedOffsets(const TempDir& dir, const std::vector<std::uint8_t>& image, const ScanRequest& request,
                          std::size_t shift);

// A request for a whole-image scan of a brand in a mode.
ScanRequest scanOf(std::uint8_t brand, std::uint8_t mode, int stopAfterProgress = -1);

// scanImage for a sparse image: each file's bytes are read back from the image's pieces.
ScanOutcome scanSparse(const TempDir& dir, const SparseImage& image, const ScanRequest& request);
// Runs a whole task on an image whose listed sectors cannot be read (the parser, the cut of the
// intermediate files and the load, as the runner does).
ScanOutcome scanWithBadSectors(const TempDir& dir, const SparseImage& image, const std::set<std::uint64_t>& bad,
                               const ScanRequest& request);

// loadTaskFolder for a task scanned with scanSparse (the image is not read into memory).
ScanOutcome loadSparseTask(const TempDir& dir, const SparseImage& image);

}  // namespace norvale::test
