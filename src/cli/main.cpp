// norvale-cli: scan recorder disks and images, list, export and convert the recovered video.
#include <cstring>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "cli/devices_command.h"
#include "parsers/brand_table.h"
#include "sample/sample_image.h"
#include "task/program_version.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* usage;
};

constexpr Command kCommands[] = {
    {"devices", norvale::runDevicesCommand,
     "devices [--image PATH]... [--json]\n      lists the machine's disks and the added images with their partitions"},
    {"scan", norvale::cli::runScanCommand,
     "scan --source PATH --brand N --mode quick|deep --task DIR [--start-sector S --end-sector E | --partition K]\n"
     "     [--threads N] [--direct] [--zone ZONE] [--clock-offset SECONDS] [--overwrite]\n"
     "      scans a disk or image and keeps what it finds in the task folder (on all cores unless --threads;\n"
     "      --direct reads past the page cache); ZONE is the recorder's IANA time zone (default: the\n"
     "      workstation's), SECONDS what to add to its clock; a folder holding a task needs --overwrite\n"
     "scan --resume --task DIR [--source PATH] [--threads N] [--direct]\n"
     "      continues an unfinished scan from its last checkpoint (the source as the task recorded it)"},
    {"files", norvale::cli::runFilesCommand,
     "files --task DIR [--source PATH] [--json]\n      lists the recovered files of a task\n"
     "files --task DIR --source PATH --dfxml\n"
     "      prints the report.dfxml an export of every file would write (byte runs, SHA-256), writing no file"},
    {"info", norvale::cli::runInfoCommand,
     "info --task DIR [--json]\n      shows a task's header: brand, mode, range, clock, whether its scan finished and what it found"},
    {"export", norvale::cli::runExportCommand,
     "export --task DIR --source PATH --out DIR [--overwrite] [--channel C] [--day YYYY-MM-DD] [--json]\n"
     "      copies the recovered files from the source into a folder by channel and day"},
    {"convert", norvale::cli::runConvertCommand,
     "convert --task DIR --source PATH --out DIR [--channel C] [--day YYYY-MM-DD] [--overwrite] [--json]\n"
     "      writes each recovered file's video as an MP4 (stream copy) into a folder by channel and day\n"
     "      (--walk library: brands {demuxed} through FFmpeg's demuxers instead of the packet walk)"},
    {"clip", norvale::cli::runClipCommand,
     "clip --task DIR --source PATH --from \"YYYY-MM-DD HH:MM:SS\" --to \"YYYY-MM-DD HH:MM:SS\" --out DIR\n"
     "     [--channel C[,C...]] [--overwrite] [--frame-times] [--json]\n"
     "      one MP4 per channel of what it recorded in the window (times as the listings show them),\n"
     "      with the spans recorded and the gaps"},
    {"preview", norvale::cli::runPreviewCommand,
     "preview --task DIR --source PATH --index N --out FILE.png\n"
     "      writes the first decodable key frame of file N as a PNG"},
    {"identify", norvale::cli::runIdentifyCommand,
     "identify --source PATH [--start-sector S --end-sector E | --partition K] [--json]\n"
     "      names the recorder brands whose packets the samples of a source hold, fewest hits first"},
    {"report", norvale::cli::runReportCommand,
     "report --task DIR --source PATH [--no-open]\n      writes the HTML log report into the task folder and opens it"},
    {"verify", norvale::cli::runVerifyCommand,
     "verify --source PATH [--quiet]\n"
     "      recomputes the MD5 and SHA1 of an image; for an EWF set, compares them with the stored hashes"},
    {"sample", norvale::cli::runSampleCommand,
     "sample --out PATH\n      writes the built-in sample recorder image (brands {sample} format)"},
};

// The designs FFmpeg has a demuxer for, by their first brand ("1 and 2"); a row that writes
// another row's packets is that row's design.
std::string demuxedBrands() {
  std::vector<int> brands;
  for (const norvale::BrandRow& row : norvale::brandTable())
    if (row.conversion.demuxer && row.identifiedBy == 0) brands.push_back(row.first);
  std::string text;
  for (std::size_t i = 0; i < brands.size(); ++i)
    text += (i == 0 ? "" : i + 1 == brands.size() ? " and " : ", ") + std::to_string(brands[i]);
  return text;
}

// A usage text with the brand ranges it names filled in from the brand table.
std::string usageText(std::string usage) {
  const std::pair<std::string, std::string> fields[] = {{"{demuxed}", demuxedBrands()},
                                                        {"{sample}", norvale::sample::sampleBrandRange()}};
  for (const auto& [field, value] : fields)
    if (const auto at = usage.find(field); at != std::string::npos) usage.replace(at, field.size(), value);
  return usage;
}

void printUsage(std::ostream& out) {
  out << "usage: norvale-cli COMMAND [OPTIONS] | --version\n\n";
  for (const auto& c : kCommands) out << "  " << usageText(c.usage) << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    printUsage(argc < 2 ? std::cerr : std::cout);
    return argc < 2 ? 2 : 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::cout << norvale::versionLine("norvale-cli") << "\n";
    return 0;
  }
  for (const auto& c : kCommands)
    if (std::strcmp(argv[1], c.name) == 0) return c.run(argc - 1, argv + 1);
  std::cerr << "norvale-cli: unknown command " << argv[1] << "\n";
  printUsage(std::cerr);
  return 2;
}
