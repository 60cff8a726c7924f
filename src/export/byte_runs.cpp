#include "export/byte_runs.h"

namespace norvale {

void ByteRunList::add(std::uint64_t imageOffset, std::uint64_t length, std::span<const UnreadableSpan> unreadable) {
  std::uint64_t done = 0;
  for (const UnreadableSpan& span : unreadable) {
    if (span.offset > done) append(imageOffset + done, span.offset - done);
    append(std::nullopt, span.length);
    done = span.offset + span.length;
  }
  if (length > done) append(imageOffset + done, length - done);
}

void ByteRunList::append(std::optional<std::uint64_t> imageOffset, std::uint64_t length) {
  if (length == 0) return;
  if (!m_runs.empty()) {
    ByteRun& last = m_runs.back();
    const bool bothZeros = !last.imageOffset && !imageOffset;
    const bool continues = last.imageOffset && imageOffset && *last.imageOffset + last.length == *imageOffset;
    if (bothZeros || continues) {
      last.length += length;
      m_fileSize += length;
      return;
    }
  }
  m_runs.push_back({m_fileSize, imageOffset, length});
  m_fileSize += length;
}

}  // namespace norvale
