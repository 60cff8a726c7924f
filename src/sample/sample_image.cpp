#include "sample/sample_image.h"

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>

#include "base/byte_reader.h"
#include "parsers/multi_brand_parser.h"

namespace norvale::sample {

extern const std::uint8_t kClipBytes[];
extern const std::size_t kClipSize;

namespace {
constexpr std::size_t kHeaderSize = 66;
constexpr std::uint8_t kStartCode[4] = {0, 0, 0, 1};

void appendGarbage(std::vector<std::uint8_t>& out, std::mt19937& rng, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(rng()));
}
}  // namespace

std::span<const std::uint8_t> clip() { return {kClipBytes, kClipSize}; }

std::vector<std::span<const std::uint8_t>> splitNalUnits(std::span<const std::uint8_t> s) {
  std::vector<std::span<const std::uint8_t>> units;
  std::size_t bodyStart = std::string::npos;
  std::size_t i = 0;
  while (i + 3 <= s.size()) {
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
      if (bodyStart != std::string::npos) {
        std::size_t end = i;
        if (end > bodyStart && s[end - 1] == 0) --end;  // the zero of a 4-byte start code
        units.push_back(s.subspan(bodyStart, end - bodyStart));
      }
      bodyStart = i + 3;
      i += 3;
    } else {
      ++i;
    }
  }
  if (bodyStart != std::string::npos && bodyStart < s.size()) units.push_back(s.subspan(bodyStart));
  return units;
}

void appendMultiBrandPacket(std::vector<std::uint8_t>& out, std::uint8_t channelByte,
                            std::uint32_t captureTime, std::span<const std::uint8_t> payload) {
  const std::size_t at = out.size();
  out.resize(at + kHeaderSize, 0);
  std::uint8_t* h = out.data() + at;
  h[0] = channelByte;
  h[1] = 0x30;  // the recorders keep stream flags here; the parser does not read them
  putLe32(h + 8, static_cast<std::uint32_t>(payload.size() + 22));
  putLe32(h + 20, captureTime);
  std::copy(std::begin(kStartCode), std::end(kStartCode), h + 43);
  out.insert(out.end(), payload.begin(), payload.end());
}

void appendFollowerMarker(std::vector<std::uint8_t>& out) {
  const std::size_t at = out.size();
  out.resize(at + kHeaderSize, 0);
  std::copy(std::begin(kStartCode), std::end(kStartCode), out.data() + at + 43);
}

const BrandRow& sampleBrandRow() {
  for (const BrandRow& row : brandTable())
    if (row.decoder == &multiBrandDecoder()) return row;
  std::abort();  // the multi-brand design is a row of every build
}

std::string sampleBrandRange() {
  const BrandRow& row = sampleBrandRow();
  return std::to_string(row.first) + "-" + std::to_string(row.last);
}

std::uint32_t localEpoch(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return static_cast<std::uint32_t>(std::mktime(&tm));
}

SampleImage buildSampleImage(const SampleLayout& layout) {
  SampleImage image;
  std::mt19937 rng(layout.seed);
  const auto units = splitNalUnits(clip());
  // Each frame's units share its capture time; a frame ends with its slice (types 1 and 5).
  std::vector<int> frameOfUnit(units.size());
  int frame = 0;
  for (std::size_t u = 0; u < units.size(); ++u) {
    frameOfUnit[u] = frame;
    const int type = units[u].empty() ? 0 : (units[u][0] & 0x1F);
    if (type == 1 || type == 5) ++frame;
  }
  const int lastFrame = frame > 0 ? frame - 1 : 0;

  appendGarbage(image.bytes, rng, 4096);  // a recorder's own header area, not video
  std::vector<std::uint8_t> payload;
  for (int d = 0; d < layout.days; ++d) {
    for (int hour : layout.recordingHours) {
      const std::uint32_t start =
          localEpoch(layout.firstYear, layout.firstMonth, layout.firstDay + d, hour, 0, 0);
      image.recordings.push_back({d, hour, start, start + static_cast<std::uint32_t>(lastFrame / layout.framesPerSecond)});
      // The channels record at once, so their packets interleave unit by unit.
      for (std::size_t u = 0; u < units.size(); ++u) {
        const std::uint32_t t = start + static_cast<std::uint32_t>(frameOfUnit[u] / layout.framesPerSecond);
        payload.assign(std::begin(kStartCode), std::end(kStartCode));
        payload.insert(payload.end(), units[u].begin(), units[u].end());
        for (int ch = 0; ch < layout.channels; ++ch)
          appendMultiBrandPacket(image.bytes, static_cast<std::uint8_t>(ch), t, payload);
      }
      appendFollowerMarker(image.bytes);
      appendGarbage(image.bytes, rng, 20000 + rng() % 50000);
    }
  }
  image.bytes.resize((image.bytes.size() + 511) / 512 * 512, 0);
  return image;
}

Result<std::uint64_t> writeSampleImage(const std::string& path, const SampleLayout& layout) {
  const auto image = buildSampleImage(layout);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return fail(ErrorCode::WriteFailed, "cannot create " + path);
  out.write(reinterpret_cast<const char*>(image.bytes.data()), static_cast<std::streamsize>(image.bytes.size()));
  if (!out) return fail(ErrorCode::WriteFailed, "cannot write " + path);
  return image.bytes.size();
}

}  // namespace norvale::sample
