// norvale-fuzz-seeds OUT: writes each target's seed inputs into OUT/<target>/.
// norvale-fuzz-seeds --list: prints each target's name and largest input, one a line.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "fuzz/fuzz_targets.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: norvale-fuzz-seeds OUT_DIR | --list\n");
    return 2;
  }
  if (std::string_view(argv[1]) == "--list") {
    for (const auto& target : norvale::fuzz::fuzzTargets()) std::printf("%s %zu\n", target.name, target.maxInput);
    return 0;
  }
  for (const auto& target : norvale::fuzz::fuzzTargets()) {
    const std::filesystem::path dir = std::filesystem::path(argv[1]) / target.name;
    std::filesystem::create_directories(dir);
    const auto seeds = norvale::fuzz::seedsFor(target.name);
    for (const auto& seed : seeds) {
      std::ofstream out(dir / ("seed-" + seed.name), std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(seed.bytes.data()), static_cast<std::streamsize>(seed.bytes.size()));
      if (!out) {
        std::fprintf(stderr, "cannot write %s\n", (dir / seed.name).c_str());
        return 1;
      }
    }
    std::printf("%s: %zu seeds\n", target.name, seeds.size());
  }
  return 0;
}
