#pragma once
// The MD5 and SHA1 of a source's whole media, as an acquisition's stored hashes cover it.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "storage/byte_source.h"

namespace norvale {

struct UnreadableRange {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::string reason;  // the source's message for its first sector
};

struct MediaDigest {
  // Lowercase hex over every byte of the media; unreadable bytes count as zeros, so a digest
  // with unreadable ranges cannot confirm a stored hash.
  std::string md5;
  std::string sha1;
  std::uint64_t bytes = 0;  // bytes hashed (the media size unless stopped)
  std::vector<UnreadableRange> unreadable;
  bool stopped = false;
};

// Reads the source from start to end in large blocks; a block that fails is read again sector
// by sector so that only the sectors that fail are lost. progress receives the bytes done so far
// after each block and returns false to stop.
Result<MediaDigest> digestMedia(ByteSource& source, const std::function<bool(std::uint64_t done)>& progress = {});

}  // namespace norvale
