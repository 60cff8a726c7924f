#include "cli/devices_command.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <string_view>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "cli/devices_json.h"
#include "cli/devices_text.h"
#include "task/status_text.h"
#include "storage/evidence_source.h"
#include "storage/fs_probe.h"
#include "parsers/disk_stamp.h"

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
  std::optional<EvidenceInfo> evidence;  // an image that is a split or EWF set
};

// Text for one line of the table: line breaks and other control characters become spaces.
std::string oneLine(std::string text) {
  for (auto& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return text;
}

// The lines under an image's row: what the set is, then the acquisition's case notes.
std::vector<std::string> evidenceLines(const EvidenceInfo& e) {
  std::string first = "  evidence: " + std::string(evidenceKindName(e.kind)) + ", " + std::to_string(e.segments) +
                      (e.segments == 1 ? " segment, " : " segments, ") + std::to_string(e.mediaSize) + " bytes";
  if (!e.md5.empty()) first += ", MD5 " + e.md5;
  if (!e.sha1.empty()) first += ", SHA1 " + e.sha1;
  if (e.incomplete) first += ", INCOMPLETE (a segment is missing or cut short)";
  std::vector<std::string> lines{first};
  std::string notes;
  const std::pair<const char*, const std::string*> fields[] = {
      {"case", &e.caseNumber},         {"evidence number", &e.evidenceNumber}, {"examiner", &e.examiner},
      {"description", &e.description}, {"notes", &e.notes},                    {"acquired", &e.acquisitionDate}};
  for (const auto& [label, value] : fields)
    if (!value->empty()) notes += (notes.empty() ? "  " : "  ") + std::string(label) + ": " + oneLine(*value);
  if (!notes.empty()) lines.push_back(notes);
  return lines;
}

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
  std::map<std::size_t, std::vector<std::string>> linesAfter;  // row index -> lines outside the columns
  rows.push_back({"Device", "Label", "FS", "Start", "Size", "Type"});
  for (const auto& d : devices) {
    const auto& r = d.record;
    rows.push_back({"磁盘:" + r.name, r.secondName, "#" + std::to_string(r.driveNumber), "0", sizeTextNarrow(r.size),
                    std::to_string(d.brand)});
    if (d.evidence) linesAfter[rows.size() - 1] = evidenceLines(*d.evidence);
    for (const auto& p : r.partitions)
      rows.push_back({"  分区:" + p.name, p.label, fileSystemName(p.fsType), sizeTextNarrow(p.start),
                      sizeTextNarrow(p.size), ""});
  }
  std::array<std::size_t, 6> widths{};
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], displayWidth(row[c]));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& row = rows[i];
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line.append(widths[c] - displayWidth(row[c]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
    if (auto it = linesAfter.find(i); it != linesAfter.end())
      for (const auto& extra : it->second) out << extra << '\n';
  }
  if (devices.empty()) out << "(no devices)\n";
}

// The "evidence" object of a split or EWF image: stored hashes only where the set has them, the
// case notes of an EWF set as stored (empty when absent).
void writeEvidence(JsonWriter& json, const EvidenceInfo& e) {
  json.key("evidence");
  json.beginObject();
  json.key("kind");
  json.value(evidenceKindName(e.kind));
  json.key("segments");
  json.value(e.segments);
  json.key("media_size");
  json.value(e.mediaSize);
  if (e.kind == EvidenceKind::Ewf) {
    if (!e.md5.empty()) {
      json.key("md5");
      json.value(e.md5);
    }
    if (!e.sha1.empty()) {
      json.key("sha1");
      json.value(e.sha1);
    }
    const std::pair<const char*, const std::string*> fields[] = {
        {"case_number", &e.caseNumber}, {"evidence_number", &e.evidenceNumber}, {"examiner", &e.examiner},
        {"description", &e.description}, {"notes", &e.notes}, {"acquisition_date", &e.acquisitionDate}};
    for (const auto& [name, value] : fields) {
      json.key(name);
      json.value(*value);
    }
    json.key("incomplete");
    json.value(e.incomplete);
  }
  json.endObject();
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
    if (d.evidence) writeEvidence(json, *d.evidence);
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
    for (auto& record : disks.devices) devices.push_back({std::move(record), 0, std::nullopt});
  }
  int status = 0;
  for (const auto& path : images) {
    auto image = addImageFile(path, static_cast<std::int32_t>(devices.size()));
    if (!image) {
      err << "norvale-cli devices: cannot add image " << path << ": " << image.error().message << "\n";
      status = 1;
      continue;
    }
    std::optional<EvidenceInfo> evidence;
    if (auto info = probeEvidence(path); info && info->kind != EvidenceKind::Raw) evidence = *info;
    devices.push_back({std::move(*image), 0, std::move(evidence)});
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
