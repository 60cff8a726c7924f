#pragma once
// Where a written file's bytes lie on the source: runs in file order, each either read from the
// source at an offset or zeros written for sectors that could not be read.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "export/source_reader.h"

namespace norvale {

struct ByteRun {
  std::uint64_t fileOffset = 0;
  std::optional<std::uint64_t> imageOffset;  // byte offset on the source; none: zeros stand in
  std::uint64_t length = 0;
  bool operator==(const ByteRun&) const = default;
};

class ByteRunList {
 public:
  // The file's next piece: length bytes read from imageOffset, with the spans of it that could
  // not be read. Pieces must come in file order; a run is extended only where it continues in
  // both the file and the source.
  void add(std::uint64_t imageOffset, std::uint64_t length, std::span<const UnreadableSpan> unreadable = {});
  const std::vector<ByteRun>& runs() const { return m_runs; }
  std::uint64_t fileSize() const { return m_fileSize; }

 private:
  void append(std::optional<std::uint64_t> imageOffset, std::uint64_t length);

  std::vector<ByteRun> m_runs;
  std::uint64_t m_fileSize = 0;
};

}  // namespace norvale
