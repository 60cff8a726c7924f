// identify: which recorder brands the samples of a source look like.
#include <iostream>
#include <variant>
#include <sstream>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "parsers/disk_stamp.h"
#include "task/brand_registry.h"
#include "task/identification.h"

namespace norvale::cli {
namespace {

// The brand the first 4,096 bytes name; 0 when they name none or cannot be read.
int signatureBrandOf(const DeviceRecord& source) {
  auto brand = checkDeviceSignature(source);
  if (!brand) {
    std::cerr << "norvale-cli: " << brand.error().message << " (signature check)\n";
    return 0;
  }
  return *brand;
}

}  // namespace

int runIdentifyCommand(int argc, char** argv) {
  Options options;
  if (auto error = options.parse(argc, argv, {"--source", "--start-sector", "--end-sector", "--partition", "--years"}, {"--json"}))
    return usageError(*error);
  const auto sourcePath = options.value("--source");
  if (!sourcePath) return usageError("identify needs --source PATH");
  auto source = sourceRecord(*sourcePath);
  if (!source) return failure("访问源设备失败,请确认源设备是否存在: " + source.error().message);
  const auto chosen = chooseSectorRange(options, *source, "samples past its end are empty");
  if (const int* code = std::get_if<int>(&chosen)) return *code;
  const SectorRange range = std::get<SectorRange>(chosen);
  const auto years = chooseYearWindow(options);
  if (const int* code = std::get_if<int>(&years)) return *code;

  const int signature = signatureBrandOf(*source);
  TaskContext task;
  ProgressPrinter printer(&task, true);
  stopOnInterrupt(task);
  auto found = identifyBrands(task, printer, *source, range.start, range.end - range.start, std::get<YearWindow>(years));
  if (!found) return failure(found.error().message);
  const bool stopped = task.stopRequested();

  std::ostringstream out;
  if (options.flag("--json")) {
    out << "{\"source\": " << jsonString(*sourcePath) << ", \"start_sector\": " << range.start
        << ", \"end_sector\": " << range.end << ",\n \"signature_brand\": " << signature
        << ", \"signature_text\": " << jsonString(brandName(signature)) << ",\n \"candidates\": [";
    bool first = true;
    for (const auto& c : *found) {
      out << (first ? "\n  " : ",\n  ") << "{\"brand\": " << c.brand << ", \"text\": " << jsonString(brandName(c.brand))
          << ", \"hits\": " << c.hits << "}";
      first = false;
    }
    out << (first ? "],\n" : "\n ],\n") << " \"stopped\": " << (stopped ? "true" : "false") << "}\n";
  } else {
    out << "signature: " << brandName(signature) << "\n";
    for (const auto& c : *found) out << brandName(c.brand) << "\thits: " << c.hits << "\n";
  }
  std::cout << out.str();
  std::cerr << identificationResultText(found->size()) << "\n";
  if (stopped) std::cerr << "stopped: the brands counted so far are listed\n";
  return kExitOk;
}

}  // namespace norvale::cli
