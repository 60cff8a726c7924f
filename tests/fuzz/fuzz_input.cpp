#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "base/byte_reader.h"
#include "fuzz/fuzz_targets.h"

namespace norvale::fuzz {

namespace {
// Zero runs shorter than this stay inside a chunk: a chunk header costs 6 bytes.
constexpr std::size_t kMinZeroGap = 16;
constexpr std::size_t kMaxChunk = 0xFFFF;

class ScratchFolder {
 public:
  ScratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    m_path = (std::filesystem::path(tmp && *tmp ? tmp : "/tmp") / ("norvale-fuzz-" + std::to_string(::getpid())))
                 .string();
    std::filesystem::create_directories(m_path);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};
}  // namespace

std::span<const FuzzTarget> fuzzTargets() {
  static const FuzzTarget kTargets[] = {
      {"partitions", &fuzzPartitions, 4 << 20},
      {"decoder", &fuzzDecoder, 1 << 16},
      {"scan", &fuzzScan, 1 << 20},
      {"task_files", &fuzzTaskFiles, 1 << 20},
      {"identify", &fuzzIdentify, 1 << 18},
      {"convert", &fuzzConvert, 1 << 18},
  };
  return kTargets;
}

std::vector<std::uint8_t> sparseDevice(std::span<const std::uint8_t> input, std::size_t maxSize) {
  if (input.size() < 4) return {input.begin(), input.begin() + static_cast<std::ptrdiff_t>(std::min(input.size(), maxSize))};
  const std::size_t size = std::min<std::size_t>(le32(input.data()), maxSize);
  std::vector<std::uint8_t> device(size, 0);
  std::size_t at = 4;
  while (size > 0 && at + 6 <= input.size()) {
    const std::size_t offset = le32(&input[at]) % size;
    std::size_t length = le16(&input[at + 4]);
    at += 6;
    // The chunk takes its bytes from the input whether or not they all fit on the device.
    const std::size_t given = std::min(length, input.size() - at);
    std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(at), std::min(given, size - offset),
                device.begin() + static_cast<std::ptrdiff_t>(offset));
    at += given;
  }
  return device;
}

std::vector<std::uint8_t> encodeSparse(std::span<const std::uint8_t> image) {
  std::vector<std::uint8_t> out(4);
  putLe32(out.data(), static_cast<std::uint32_t>(image.size()));
  std::size_t at = 0;
  while (at < image.size()) {
    if (image[at] == 0) {
      ++at;
      continue;
    }
    // A chunk runs to the first zero gap of kMinZeroGap bytes, or kMaxChunk bytes.
    std::size_t end = at;
    std::size_t zeros = 0;
    while (end < image.size() && end - at < kMaxChunk && zeros < kMinZeroGap) {
      zeros = image[end] == 0 ? zeros + 1 : 0;
      ++end;
    }
    end -= zeros;
    const std::size_t start = out.size();
    out.resize(start + 6);
    putLe32(&out[start], static_cast<std::uint32_t>(at));
    putLe16(&out[start + 4], static_cast<std::uint16_t>(end - at));
    out.insert(out.end(), image.begin() + static_cast<std::ptrdiff_t>(at), image.begin() + static_cast<std::ptrdiff_t>(end));
    at = end;
  }
  return out;
}

void fail(const std::string& what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

const std::string& scratchFolder() {
  static const ScratchFolder folder;
  return folder.path();
}

}  // namespace norvale::fuzz
