// identify: which recorder brands the samples of a source look like.
#include <iostream>
#include <variant>
#include <sstream>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "task/brand_registry.h"
#include "task/identification.h"

namespace norvale::cli {
namespace {

struct SectorRange {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
};

// The range to sample: the options given, else the whole source (a trailing partial sector
// included).
std::variant<SectorRange, int> chooseRange(const Options& options, const DeviceRecord& source) {
  const std::uint64_t sourceSectors = (source.size + 511) / 512;
  if (options.value("--partition")) {
    if (options.value("--start-sector") || options.value("--end-sector"))
      return usageError("--partition cannot be combined with --start-sector or --end-sector");
    return failure("--partition is not available in this version: the partitions of a source are not read yet");
  }
  SectorRange range{0, sourceSectors};
  if (auto s = options.value("--start-sector")) {
    auto v = parseUnsigned(*s);
    if (!v) return usageError("--start-sector takes a sector number");
    range.start = *v;
  }
  if (auto e = options.value("--end-sector")) {
    auto v = parseUnsigned(*e);
    if (!v) return usageError("--end-sector takes a sector number");
    range.end = *v;
  }
  if (range.start >= range.end) return usageError("请正确填写开始扇区和结束扇区 【开始扇区<结束扇区】");
  if (range.end > UINT64_MAX / 512) return usageError("--end-sector lies beyond any disk");
  if (range.end > sourceSectors)
    std::cerr << "norvale-cli: the range ends at sector " << range.end << " but the source has " << sourceSectors
              << " sectors; samples past its end are empty\n";
  return range;
}

// The brand the first 4,096 bytes name; 0 when they name none.
int signatureBrandOf(const DeviceRecord&) { return 0; }

}  // namespace

int runIdentifyCommand(int argc, char** argv) {
  Options options;
  if (auto error = options.parse(argc, argv, {"--source", "--start-sector", "--end-sector", "--partition"}, {"--json"}))
    return usageError(*error);
  const auto sourcePath = options.value("--source");
  if (!sourcePath) return usageError("identify needs --source PATH");
  auto source = sourceRecord(*sourcePath);
  if (!source) return failure("访问源设备失败,请确认源设备是否存在: " + source.error().message);
  const auto chosen = chooseRange(options, *source);
  if (const int* code = std::get_if<int>(&chosen)) return *code;
  const SectorRange range = std::get<SectorRange>(chosen);

  const int signature = signatureBrandOf(*source);
  TaskContext task;
  ProgressPrinter printer(&task, true);
  task.notifyTarget = &printer;
  stopOnInterrupt(task);
  auto found = identifyBrands(task, *source, range.start, range.end - range.start);
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
