#pragma once
// Decoding of single access units (preview pictures, and the picture size the MP4 header
// needs) and PNG encoding of a decoded picture.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "base/error.h"
#include "convert/annexb.h"

namespace norvale::convert {

// A decoded picture as 8-bit RGB, row after row.
struct RgbPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // width * height * 3
};

class UnitDecoder {
 public:
  UnitDecoder();
  ~UnitDecoder();
  UnitDecoder(const UnitDecoder&) = delete;
  UnitDecoder& operator=(const UnitDecoder&) = delete;

  Result<void> open(VideoCodec codec, std::span<const std::uint8_t> extradata);
  // Decodes a key unit on its own: the picture when it decodes without error. The size is
  // known after the call even when no picture came out.
  Result<RgbPicture> decodeKey(const AccessUnit& unit);
  int width() const;
  int height() const;

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

// The picture as a PNG file's bytes (libavcodec's PNG encoder).
Result<std::vector<std::uint8_t>> encodePng(const RgbPicture& picture);
// A PNG file's bytes back to RGB (libavcodec's PNG decoder).
Result<RgbPicture> decodePng(std::span<const std::uint8_t> png);

}  // namespace norvale::convert
