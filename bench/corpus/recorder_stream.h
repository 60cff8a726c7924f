#pragma once
// Recorder disk images made in code, for the benchmark and for the scan-identity tests: the
// video streams recorders write (bursts of one channel's frames, channels taking turns), laid
// out in each recorder design's own packet format, plus the worst case of the result store
// (dense small packets) and foreign data. Every image is a pure function of its parameters.
//
// The packet layouts are written here from the designs' field tables, not from the parsers'
// constants, so that a parser that drifts from its design is caught rather than followed.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace norvale::corpus {

// Receives an image's bytes in order.
class ImageWriter {
 public:
  virtual ~ImageWriter() = default;
  virtual void write(std::span<const std::uint8_t> bytes) = 0;
};

// An image held in memory (tests).
class MemoryImageWriter final : public ImageWriter {
 public:
  void write(std::span<const std::uint8_t> bytes) override { m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end()); }
  std::vector<std::uint8_t>& bytes() { return m_bytes; }

 private:
  std::vector<std::uint8_t> m_bytes;
};

// What the cameras of a recorder send: frames of 25 per second, a key frame every GOP, and
// recordings of some length with pauses between them (motion or schedule recording).
struct StreamLayout {
  int channels = 8;                 // 4 to 16 cameras
  int framesPerSecond = 25;
  int gopFrames = 50;               // a key frame every two seconds
  std::uint32_t keyMin = 30'000, keyMax = 120'000;    // key frame bytes
  std::uint32_t otherMin = 2'000, otherMax = 15'000;  // other frame bytes
  int burstFrames = 25;             // frames of one channel written together (one second)
  int recordingSeconds = 120;       // then the recorder pauses
  int pauseSeconds = 300;
  std::uint32_t seed = 1;
  // The recorder's wall time of the first recording, as seconds since 1970 read as UTC
  // (2016-05-17 08:00:00 by default).
  std::int64_t clockStart = 1463472000;
};

// The brands whose packet layout is distinct (2 stands for 7, 9, 10 and 11, which differ only
// in their magics; each can still be built by its own number).
std::span<const std::uint8_t> distinctLayoutBrands();
// Can the brand's deep-mode packets be built?
bool hasRecorderLayout(std::uint8_t brand);

// Writes `size` bytes of recordings in the brand's layout (the last burst is cut at the end,
// as the end of a disk image cuts it). False for a brand without a layout here.
bool writeRecorderImage(std::uint8_t brand, const StreamLayout& layout, std::uint64_t size, ImageWriter& out);

// Brand 18 packets of exactly packetBytes bytes (300 by default), 16 channels taking turns by the
// second: millions of segment records per gigabyte, the result store's worst case.
void writeDenseImage(std::uint64_t size, std::uint32_t packetBytes, std::uint32_t seed, ImageWriter& out);

// Uniformly random bytes.
void writeRandomImage(std::uint64_t size, std::uint32_t seed, ImageWriter& out);

// Small deterministic generator (splitmix64), shared so that images agree between runs.
class Random {
 public:
  explicit Random(std::uint64_t seed) : m_state(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in lo..hi (inclusive).
  std::uint32_t between(std::uint32_t lo, std::uint32_t hi) {
    return lo + static_cast<std::uint32_t>(next() % (static_cast<std::uint64_t>(hi - lo) + 1));
  }
  void fill(std::uint8_t* out, std::size_t n);

 private:
  std::uint64_t m_state;
};

}  // namespace norvale::corpus
