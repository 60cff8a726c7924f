#pragma once
// The fast candidate search of packet tests that need fixed bytes at a fixed place.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace norvale {

// First position p in from..last whose bytes p + patternAt on hold the `length` bytes of
// pattern; last + 1 when there is none. memchr looks for the pattern's byte at `anchor` (its
// rarest), so the buffer must hold last + patternAt + length bytes.
inline std::size_t findPattern(const std::uint8_t* buffer, std::size_t from, std::size_t last,
                               const std::uint8_t* pattern, std::size_t length, std::size_t patternAt,
                               std::size_t anchor) {
  const std::uint8_t* at = buffer + from + patternAt + anchor;
  const std::uint8_t* const stop = buffer + last + patternAt + anchor + 1;
  while (at < stop) {
    const auto* hit = static_cast<const std::uint8_t*>(std::memchr(at, pattern[anchor], static_cast<std::size_t>(stop - at)));
    if (!hit) break;
    const std::uint8_t* begin = hit - anchor;
    if (std::memcmp(begin, pattern, length) == 0) return static_cast<std::size_t>(begin - buffer) - patternAt;
    at = hit + 1;
  }
  return last + 1;
}

}  // namespace norvale
