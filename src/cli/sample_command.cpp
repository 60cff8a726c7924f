#include <iostream>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "sample/sample_image.h"

namespace norvale::cli {

int runSampleCommand(int argc, char** argv) {
  Options options;
  if (auto error = options.parse(argc, argv, {"--out"}, {})) return usageError(*error);
  const auto out = options.value("--out");
  if (!out) return usageError("sample needs --out PATH");
  auto written = sample::writeSampleImage(*out);
  if (!written) return failure(written.error().message);
  std::cout << "sample image: " << *out << " (" << *written << " bytes, brand " << sample::sampleBrandRange()
            << " format, 4 channels, 3 days)\n";
  return kExitOk;
}

}  // namespace norvale::cli
