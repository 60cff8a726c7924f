#pragma once
// Helpers for the frame-chain and block-index recorder suites (brands 1, 4, 5, 6, 8, 12-16), on
// top of the shared sparse images: local and UTC epoch times, foreign filler bytes, whole tasks
// on sparse images written as sparse files (scan, reload), and the shifted-image check.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/index_table_images.h"
#include "support/scan_harness.h"

namespace norvale::test {

// Seconds since 1970 of a local calendar time (the zone of the TZ variable).
std::uint32_t localEpoch(int year, int month, int day, int hour, int minute, int second);
// Seconds since 1970 of a UTC calendar time.
std::uint32_t utcEpoch(int year, int month, int day, int hour, int minute, int second);

// Bytes that hold none of the recorders' magics or start codes.
std::vector<std::uint8_t> junkBytes(std::size_t n);

// Scans the image, and the image behind `shift` foreign bytes, and expects the same files whose
// records lie exactly `shift` bytes further on. Returns the scan of the image itself.
ScanOutcome expectShiftedOffsets(const TempDir& dir, const std::vector<std::uint8_t>& image,
                                 const ScanRequest& request, std::size_t shift);

// scanImage for a sparse image, written as a sparse file and scanned by the task runner; each
// file's bytes are read back from the image.
ScanOutcome scanSparseFile(const TempDir& dir, const SparseImage& image, const ScanRequest& request);
// The count of files a scan of the image finds in the given year window.
std::size_t filesFoundIn(const SparseImage& image, ScanRequest request, const YearWindow& years);
// loadTaskFolder for a task scanned with scanSparseFile (the image is not read into memory).
ScanOutcome loadSparseFile(const TempDir& dir, const SparseImage& image);

}  // namespace norvale::test
