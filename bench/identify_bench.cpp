// norvale-identify-bench: how long the sampling identification takes on a source, and what one
// packet test costs per position.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "sample/sample_image.h"
#include "storage/byte_source.h"
#include "storage/device_handle.h"
#include "storage/device_record.h"
#include "task/identification.h"
#include "task/program_version.h"
#include "task/task_context.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kImageBytes = 64u << 20;
constexpr int kRuns = 5;

// Recorder data everywhere: the sample's packets tiled over the image, so the tests meet many
// candidates and follower checks.
std::vector<std::uint8_t> packetImage() {
  const auto sample = norvale::sample::buildSampleImage();
  std::vector<std::uint8_t> image;
  image.reserve(kImageBytes);
  while (image.size() < kImageBytes) {
    const std::size_t n = std::min(sample.bytes.size(), kImageBytes - image.size());
    image.insert(image.end(), sample.bytes.begin(), sample.bytes.begin() + static_cast<std::ptrdiff_t>(n));
  }
  return image;
}

std::vector<std::uint8_t> randomImage() {
  std::vector<std::uint8_t> image(kImageBytes);
  std::mt19937 rng(7);
  for (auto& b : image) b = static_cast<std::uint8_t>(rng());
  return image;
}

struct Timing {
  double best = 0;
  double median = 0;
  std::size_t brands = 0;
};

template <typename Run>
Timing measure(Run run) {
  std::vector<double> seconds;
  std::size_t brands = 0;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = Clock::now();
    brands = run();
    seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  std::sort(seconds.begin(), seconds.end());
  return {seconds.front(), seconds[seconds.size() / 2], brands};
}

void print(const char* name, const Timing& t, std::size_t tests) {
  const double positions = static_cast<double>(norvale::kSampleBlocks) * norvale::kSamplePositions;
  const double perTest = t.best * 1e9 / (positions * static_cast<double>(std::max<std::size_t>(tests, 1)));
  std::printf("%-34s best %7.3f s  median %7.3f s  %5.2f ns per position and test  brands found %zu\n", name, t.best,
              t.median, perTest, t.brands);
  std::printf("%-34s at 18 tests of this cost: %.3f s\n", "", perTest * positions * 18 / 1e9);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && !std::strcmp(argv[1], "--version")) {
    std::printf("%s\n", norvale::versionLine("norvale-identify-bench").c_str());
    return 0;
  }
  namespace fs = std::filesystem;
  norvale::TaskContext task;
  norvale::SilentObserver silent;  // the figures are the measure; nobody shows progress
  const norvale::PacketTestSet tests;
  std::printf("identification: %d samples of %zu positions, %zu packet tests registered\n", norvale::kSampleBlocks,
              norvale::kSamplePositions, tests.tests().size());

  const fs::path dir = fs::temp_directory_path() / "norvale-identify-bench";
  fs::create_directories(dir);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  Case cases[] = {{"recorder packets", packetImage()}, {"random bytes", randomImage()}};
  for (auto& c : cases) {
    const std::uint64_t sectors = c.bytes.size() / norvale::kSectorSize;
    norvale::DeviceHandle handle;
    handle.open(std::make_unique<norvale::MemorySource>(c.bytes));
    const Timing memory = measure([&] { return norvale::sampleBrands(task, silent, handle, 0, sectors, tests, norvale::YearWindow::legacy()).size(); });
    std::string label = std::string(c.name) + ", in memory";
    print(label.c_str(), memory, tests.tests().size());

    const fs::path file = dir / "image.img";
    {
      std::FILE* out = std::fopen(file.string().c_str(), "wb");
      if (!out) return 1;
      std::fwrite(c.bytes.data(), 1, c.bytes.size(), out);
      std::fclose(out);
    }
    const norvale::DeviceRecord device = norvale::makeImageRecord(file.string(), 0);
    const Timing onFile = measure([&] {
      auto found = norvale::identifyBrands(task, silent, device, 0, sectors, norvale::YearWindow::legacy());
      return found ? found->size() : 0;
    });
    label = std::string(c.name) + ", image file";
    print(label.c_str(), onFile, tests.tests().size());
  }
  fs::remove_all(dir);
  return 0;
}
