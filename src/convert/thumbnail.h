#pragma once
// Small pictures of the recovered files, so that a camera is found by sight: the first key
// picture that decodes, scaled down, kept in the task folder as thumbnails/<n>.png (n the file's
// number from 1, as the listings number it) and read from there the next time.
#include <cstdint>
#include <filesystem>
#include <vector>

#include "base/error.h"
#include "task/task_context.h"

namespace norvale::convert {

inline constexpr int kThumbnailWidth = 160;  // pixels; the height keeps the picture's shape

struct Thumbnail {
  std::vector<std::uint8_t> png;
  int width = 0;
  int height = 0;
  bool fromCache = false;  // read from the task folder, nothing decoded
};

// Where the thumbnail of the file at a 0-based file-map position is kept.
std::filesystem::path thumbnailPath(const TaskContext& task, std::uint64_t position);

// The cached thumbnail, or a new one made from the file's bytes on the source and written to
// the cache (through the partial-file path; a cache that cannot be written still gives the
// picture). A cached file that does not decode as PNG is made again. Slow on a miss: call it
// off the interface thread.
Result<Thumbnail> thumbnailFor(TaskContext& task, std::uint64_t position);

}  // namespace norvale::convert
