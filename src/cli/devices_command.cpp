#include "cli/devices_command.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iostream>
#include <string_view>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "cli/devices_json.h"
#include "cli/devices_text.h"
#include "task/status_text.h"
#include "storage/fs_probe.h"
#include "storage/signature_check.h"

namespace norvale {
namespace cli {
namespace {

constexpr const char* kUsage =
    "usage: norvale-cli devices [--image PATH]... [--json]\n"
    "  Lists the machine's disks and the given image files with their partitions.\n"
    "  --image PATH  add an image file (several may be given)\n"
    "  --json        print a JSON array instead of the table\n";

struct Listed {
  DeviceRecord record;
  int brand = 0;  // the signature check of the first 4,096 bytes
};

using Row = std::array<std::string, 6>;

bool runningAsRoot() {
#ifdef _WIN32
  return false;  // the Windows message is the same for administrators
#else
  return ::geteuid() == 0;
#endif
}

void printTable(std::ostream& out, const std::vector<Listed>& devices) {
  std::vector<Row> rows;
  rows.push_back({"Device", "Label", "FS", "Start", "Size", "Type"});
  for (const auto& d : devices) {
    const auto& r = d.record;
    rows.push_back({"磁盘:" + r.name, r.secondName, "#" + std::to_string(r.driveNumber), "0", sizeTextNarrow(r.size),
                    std::to_string(d.brand)});
    for (const auto& p : r.partitions)
      rows.push_back({"  分区:" + p.name, p.label, fileSystemName(p.fsType), sizeTextNarrow(p.start),
                      sizeTextNarrow(p.size), ""});
  }
  std::array<std::size_t, 6> widths{};
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], displayWidth(row[c]));
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line.append(widths[c] - displayWidth(row[c]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  }
  if (devices.empty()) out << "(no devices)\n";
}

void printJson(std::ostream& out, const std::vector<Listed>& devices) {
  JsonWriter json;
  json.beginArray();
  for (const auto& d : devices) {
    const auto& r = d.record;
    json.beginObject();
    json.key("name");
    json.value(r.name);
    json.key("second_name");
    json.value(r.secondName);
    json.key("number");
    json.value(r.driveNumber);
    json.key("kind");
    json.value(static_cast<int>(r.kind));
    json.key("path");
    json.value(r.openPath());
    json.key("size");
    json.value(r.size);
    json.key("signature_brand");
    json.value(d.brand);
    json.key("partitions");
    json.beginArray();
    for (const auto& p : r.partitions) {
      json.beginObject();
      json.key("name");
      json.value(p.name);
      json.key("label");
      json.value(p.label);
      json.key("fs_type");
      json.value(p.fsType);
      json.key("fs_name");
      json.value(fileSystemName(p.fsType));
      json.key("start");
      json.value(p.start);
      json.key("size");
      json.value(p.size);
      json.endObject();
    }
    json.endArray();
    json.endObject();
  }
  json.endArray();
  out << json.text();
}

}  // namespace

std::string unopenedDisksNote(const std::vector<UnopenedDisk>& unopened, bool runningAsRoot) {
  if (unopened.empty()) return {};
  const bool refused = std::any_of(unopened.begin(), unopened.end(),
                                   [](const UnopenedDisk& d) { return d.error.code == ErrorCode::AccessDenied; });
  std::string note = "norvale-cli devices: " + std::to_string(unopened.size()) +
                     (unopened.size() == 1 ? " disk could not be opened and is" : " disks could not be opened and are") +
                     " not listed:";
  for (const auto& d : unopened) note += "\n  " + d.error.message;
  if (refused && !runningAsRoot)
    note += "\n  Reading disks needs permission: run as root (sudo), or join the group that owns the disks "
            "(usually 'disk': sudo usermod -aG disk $USER, then log in again).";
  else if (refused)
    note += "\n  The system refuses these disks even to root (a container or a security policy keeps them "
            "out of reach); image files can still be added with --image.";
  return note + "\n";
}

int runDevicesCommand(int argc, char** argv, const DevicesCommandEnv& env) {
  std::ostream& out = env.out ? *env.out : std::cout;
  std::ostream& err = env.err ? *env.err : std::cerr;
  std::vector<std::string> images;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--image") {
      if (i + 1 >= argc) {
        err << "norvale-cli devices: --image needs a path\n" << kUsage;
        return 2;
      }
      images.emplace_back(argv[++i]);
    } else if (arg.rfind("--image=", 0) == 0 && arg.size() > 8) {
      images.emplace_back(arg.substr(8));
    } else if (arg == "--help" || arg == "-h") {
      out << kUsage;
      return 0;
    } else {
      err << "norvale-cli devices: unknown option '" << arg << "'\n" << kUsage;
      return 2;
    }
  }

  std::vector<Listed> devices;
  if (env.listDisks) {
    DiskList disks = enumerateDisks(env.enumeration);
    err << unopenedDisksNote(disks.unopened, runningAsRoot());
    for (auto& record : disks.devices) devices.push_back({std::move(record), 0});
  }
  int status = 0;
  for (const auto& path : images) {
    auto image = addImageFile(path, static_cast<std::int32_t>(devices.size()));
    if (!image) {
      err << "norvale-cli devices: cannot add image " << path << ": " << image.error().message << "\n";
      status = 1;
      continue;
    }
    devices.push_back({std::move(*image), 0});
  }
  for (auto& d : devices) {
    auto brand = checkDeviceSignature(d.record);
    if (brand)
      d.brand = *brand;
    else
      err << "norvale-cli devices: " << d.record.openPath() << ": " << brand.error().message << "\n";
  }

  if (json)
    printJson(out, devices);
  else
    printTable(out, devices);
  return status;
}

}  // namespace cli

int runDevicesCommand(int argc, char** argv) { return cli::runDevicesCommand(argc, argv, cli::DevicesCommandEnv{}); }

}  // namespace norvale
