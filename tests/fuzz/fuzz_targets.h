#pragma once
// The fuzz targets: one entry function per reader of untrusted bytes. Each takes one input as
// libFuzzer hands it over, does a bounded amount of work, and aborts on a broken invariant; the
// sanitizers report memory errors. The same functions run under libFuzzer (NORVALE_FUZZ) and in
// the regular test build, which replays the seeds and tests/fuzz/regressions/ through them.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace norvale {
class PacketDecoder;
}

namespace norvale::fuzz {

// The partition walk and the file-system probes over an in-memory device (a sparse input).
void fuzzPartitions(const std::uint8_t* data, std::size_t size);
// One row's packet decoder (byte 0 picks the row) over the rest of the input: decode at every
// position, compared with nextCandidate.
void fuzzDecoder(const std::uint8_t* data, std::size_t size);
// One row's scan through the task layer: byte 0 picks row and mode, byte 1 the brand id within
// the row, the rest is a sparse device. Scan, rebuild, file map, the records of every file.
void fuzzScan(const std::uint8_t* data, std::size_t size);
// The task-file loader: the input split into the four task files of a folder, written as they
// are or enciphered first (byte 0), then the header read and the task loaded and listed.
void fuzzTaskFiles(const std::uint8_t* data, std::size_t size);
// The brand identification's sampling of an in-memory device with one packet test.
void fuzzIdentify(const std::uint8_t* data, std::size_t size);
// The conversion's stream reader: byte 0 picks the brand, the rest is an exported file's bytes.
void fuzzConvert(const std::uint8_t* data, std::size_t size);

using FuzzEntry = void (*)(const std::uint8_t*, std::size_t);

struct FuzzTarget {
  const char* name;  // the folder of its corpus and regressions, and the fuzzer binary's suffix
  FuzzEntry run;
  std::size_t maxInput;  // -max_len for libFuzzer
};
std::span<const FuzzTarget> fuzzTargets();

// ---- shared input handling ----

// A sparse device description: a little-endian u32 device size (at most maxSize), then chunks of
// u32 offset, u16 length and that many bytes (fewer where the input ends), laid over zeros;
// offsets wrap at the device size and bytes past its end are dropped. Inputs of fewer than 4 bytes are the device as they stand.
std::vector<std::uint8_t> sparseDevice(std::span<const std::uint8_t> input, std::size_t maxSize);
// The description of an image whose zero runs are left out (the inverse of sparseDevice).
std::vector<std::uint8_t> encodeSparse(std::span<const std::uint8_t> image);

// The first position in [0, bytes.size()) where nextCandidate skipped a position decode accepts,
// described; nothing when the two agree. Positions are tried as the scan frame tries them: the
// buffer holds the bytes and 512 zero bytes of look-ahead, device offsets equal buffer offsets.
std::optional<std::string> candidateMismatch(const PacketDecoder& decoder, std::span<const std::uint8_t> bytes);

// Aborts with the message: a broken invariant is a finding.
[[noreturn]] void fail(const std::string& what);

// A folder of this process for the task files of the targets (created on first use, under TMPDIR).
const std::string& scratchFolder();

// ---- seeds ----

struct Seed {
  std::string name;
  std::vector<std::uint8_t> bytes;
};
// The seed inputs of a target, built from the test builders and the built-in sample.
std::vector<Seed> seedsFor(const std::string& target);

}  // namespace norvale::fuzz
