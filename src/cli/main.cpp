// norvale-cli: scan recorder disks and images, list, export and convert the recovered video.
#include <cstring>
#include <iostream>
#include <string>

#include "cli/commands.h"
#include "cli/devices_command.h"
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
     "      (--walk library: brands 1 and 2 through FFmpeg's demuxers instead of the packet walk)"},
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
     "sample --out PATH\n      writes the built-in sample recorder image (brands 18-48 format)"},
};

void printUsage(std::ostream& out) {
  out << "usage: norvale-cli COMMAND [OPTIONS] | --version\n\n";
  for (const auto& c : kCommands) out << "  " << c.usage << "\n";
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
