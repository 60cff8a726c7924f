#include <algorithm>
#include <cstring>

#include "storage/byte_source.h"

namespace norvale {

Result<std::size_t> MemorySource::readAt(std::uint64_t offset, std::span<std::uint8_t> dst) {
  if (offset >= m_bytes.size()) return std::size_t{0};
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(dst.size(), m_bytes.size() - offset));
  std::memcpy(dst.data(), m_bytes.data() + offset, n);
  return n;
}

}  // namespace norvale
