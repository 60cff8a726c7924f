#pragma once
// Explicit little- and big-endian field readers over a byte span: recorder structures are read
// field by field at named offsets, never by casting buffers to structs.
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace norvale {

inline std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t le64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(le32(p)) | (static_cast<std::uint64_t>(le32(p + 4)) << 32);
}
inline std::uint16_t be16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }
inline std::uint32_t be32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
inline void putLe16(std::uint8_t* p, std::uint16_t v) { p[0] = v & 0xFF; p[1] = v >> 8; }
inline void putLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void putLe64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Bounds-checked reads: an empty optional when the field does not lie inside the span.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
  std::size_t size() const { return m_bytes.size(); }
  bool has(std::size_t offset, std::size_t width) const {
    return offset <= m_bytes.size() && width <= m_bytes.size() - offset;
  }
  std::optional<std::uint8_t> u8(std::size_t offset) const {
    return has(offset, 1) ? std::optional<std::uint8_t>(m_bytes[offset]) : std::nullopt;
  }
  std::optional<std::uint16_t> u16le(std::size_t offset) const {
    return has(offset, 2) ? std::optional<std::uint16_t>(le16(&m_bytes[offset])) : std::nullopt;
  }
  std::optional<std::uint32_t> u32le(std::size_t offset) const {
    return has(offset, 4) ? std::optional<std::uint32_t>(le32(&m_bytes[offset])) : std::nullopt;
  }
  std::optional<std::uint64_t> u64le(std::size_t offset) const {
    return has(offset, 8) ? std::optional<std::uint64_t>(le64(&m_bytes[offset])) : std::nullopt;
  }
  std::optional<std::uint16_t> u16be(std::size_t offset) const {
    return has(offset, 2) ? std::optional<std::uint16_t>(be16(&m_bytes[offset])) : std::nullopt;
  }
  std::optional<std::uint32_t> u32be(std::size_t offset) const {
    return has(offset, 4) ? std::optional<std::uint32_t>(be32(&m_bytes[offset])) : std::nullopt;
  }
  // True when the bytes at offset equal the given magic.
  bool matches(std::size_t offset, std::span<const std::uint8_t> magic) const {
    return has(offset, magic.size()) && std::memcmp(&m_bytes[offset], magic.data(), magic.size()) == 0;
  }

 private:
  std::span<const std::uint8_t> m_bytes;
};

}  // namespace norvale
