#include "convert/thumbnail.h"

#include <fstream>
#include <iterator>

#include "convert/converter.h"
#include "convert/decoder.h"
#include "task/partial_file.h"

namespace norvale::convert {
namespace fs = std::filesystem;

namespace {

// Box filter: each thumbnail pixel is the mean of the source pixels it covers.
RgbPicture scaledDown(const RgbPicture& picture) {
  if (picture.width <= kThumbnailWidth) return picture;
  RgbPicture out;
  out.width = kThumbnailWidth;
  out.height = std::max(1, static_cast<int>(static_cast<long long>(picture.height) * kThumbnailWidth / picture.width));
  out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
  for (int y = 0; y < out.height; ++y) {
    const int y0 = y * picture.height / out.height, y1 = std::max(y0 + 1, (y + 1) * picture.height / out.height);
    for (int x = 0; x < out.width; ++x) {
      const int x0 = x * picture.width / out.width, x1 = std::max(x0 + 1, (x + 1) * picture.width / out.width);
      for (int c = 0; c < 3; ++c) {
        std::uint64_t sum = 0;
        for (int sy = y0; sy < y1; ++sy)
          for (int sx = x0; sx < x1; ++sx) sum += picture.rgb[(static_cast<std::size_t>(sy) * picture.width + sx) * 3 + c];
        out.rgb[(static_cast<std::size_t>(y) * out.width + x) * 3 + c] =
            static_cast<std::uint8_t>(sum / static_cast<std::uint64_t>((y1 - y0) * (x1 - x0)));
      }
    }
  }
  return out;
}

std::optional<Thumbnail> readCached(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  auto picture = decodePng(bytes);
  if (!picture) return std::nullopt;
  return Thumbnail{std::move(bytes), picture->width, picture->height, true};
}

}  // namespace

fs::path thumbnailPath(const TaskContext& task, std::uint64_t position) {
  return fs::u8path(task.taskFolder) / "thumbnails" / (std::to_string(position + 1) + ".png");
}

Result<Thumbnail> thumbnailFor(TaskContext& task, std::uint64_t position) {
  const fs::path path = thumbnailPath(task, position);
  if (auto cached = readCached(path)) return *cached;
  auto summary = summariseFile(task, position, false);
  if (!summary) return std::unexpected(summary.error());
  if (!summary->picture)
    return fail(ErrorCode::Corrupt, "file " + std::to_string(position + 1) + " has no picture: " + summary->pictureError);
  const RgbPicture small = scaledDown(*summary->picture);
  auto png = encodePng(small);
  if (!png) return std::unexpected(png.error());
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  const fs::path partial = partialPathFor(path);
  if (!ec) {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png->data()), static_cast<std::streamsize>(png->size()));
    out.close();
    if (!out || !commitPartial(partial, path)) fs::remove(partial, ec);
  }
  return Thumbnail{std::move(*png), small.width, small.height, false};
}

}  // namespace norvale::convert
