#pragma once
// Reading a file entry's bytes from the source as export writes them, and the SHA-256 of what
// was read. Unreadable sectors read as zeros, and the reader says where they were.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "storage/device_handle.h"

namespace norvale {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void update(const std::uint8_t* data, std::size_t n);
  // The digest as lower-case hex; the object is spent afterwards.
  std::string hex();

 private:
  struct State;
  State* m_state;
};

// Part of a piece that could not be read, relative to the piece's start.
struct UnreadableSpan {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

// Reads source bytes through aligned 1 MiB blocks, since a file's records are many small pieces
// that lie close together. A block that cannot be read is retried sector by sector so that
// only the unreadable sectors are lost; they read as zeros and are counted.
class SourceReader {
 public:
  static constexpr std::size_t kBlockBytes = 1 << 20;
  explicit SourceReader(DeviceHandle& device) : m_device(device), m_block(kBlockBytes) {}

  // Copies size bytes from offset to out; returns the count of bytes that could not be read.
  // With spans, also appends where in the piece they lie (adjacent ones joined).
  std::uint64_t read(std::uint64_t offset, std::size_t size, std::uint8_t* out,
                     std::vector<UnreadableSpan>* spans = nullptr);

 private:
  void load(std::uint64_t blockStart);

  DeviceHandle& m_device;
  std::vector<std::uint8_t> m_block;
  std::uint64_t m_blockStart = UINT64_MAX;
  std::set<std::size_t> m_badSectors;
};

}  // namespace norvale
