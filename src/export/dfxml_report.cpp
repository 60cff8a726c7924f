#include "export/dfxml_report.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "format/time_convention.h"
#include "storage/evidence_source.h"
#include "task/brand_registry.h"
#include "task/partial_file.h"
#include "task/program_version.h"
#include "task/result_store.h"
#include "task/task_history.h"

namespace norvale {
namespace fs = std::filesystem;

namespace {
constexpr std::uint64_t kRecordsPerRead = 65536;

// Length of the valid UTF-8 sequence at text[i] of a character XML 1.0 allows, or 0.
std::size_t xmlCharLength(const std::string& text, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) return b0 >= 0x20 || b0 == '\t' || b0 == '\n' || b0 == '\r' ? 1 : 0;
  const std::size_t length = (b0 & 0xE0) == 0xC0 ? 2 : (b0 & 0xF0) == 0xE0 ? 3 : (b0 & 0xF8) == 0xF0 ? 4 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  char32_t cp = b0 & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  const char32_t minimum = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  const bool allowed = cp >= minimum && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF) && cp != 0xFFFE && cp != 0xFFFF;
  return allowed ? length : 0;
}

// Text and attribute values as XML 1.0 takes them: the five entities, and what XML 1.0 cannot
// carry at all (control characters, bytes that are no UTF-8, such as a path's in another
// encoding) as U+FFFD, so that the report always parses.
std::string xmlText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    switch (text[i]) {
      case '&': out += "&amp;"; ++i; continue;
      case '<': out += "&lt;"; ++i; continue;
      case '>': out += "&gt;"; ++i; continue;
      case '"': out += "&quot;"; ++i; continue;
      case '\'': out += "&apos;"; ++i; continue;
      default: break;
    }
    const std::size_t length = xmlCharLength(text, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    out.append(text, i, length);
    i += length;
  }
  return out;
}

void element(std::string& out, const std::string& indent, const std::string& name, const std::string& value) {
  out += indent + "<" + name + ">" + xmlText(value) + "</" + name + ">\n";
}

void norvaleFields(std::string& out, const std::string& indent, const DfxmlFields& fields) {
  for (const auto& [name, value] : fields) element(out, indent, "norvale:" + name, value);
}

void fileObject(std::string& out, const DfxmlFileObject& file) {
  out += "  <fileobject>\n";
  element(out, "    ", "filename", file.filename);
  if (!file.id.empty()) element(out, "    ", "id", file.id);
  element(out, "    ", "name_type", "r");
  element(out, "    ", "filesize", std::to_string(file.filesize));
  if (file.byteRuns) {
    out += "    <byte_runs>\n";
    for (const ByteRun& run : *file.byteRuns) {
      out += "      <byte_run file_offset=\"" + std::to_string(run.fileOffset) + "\"";
      if (run.imageOffset) out += " img_offset=\"" + std::to_string(*run.imageOffset) + "\"";
      else out += " fill=\"0\"";
      out += " len=\"" + std::to_string(run.length) + "\"/>\n";
    }
    out += "    </byte_runs>\n";
  }
  if (!file.sha256.empty()) out += "    <hashdigest type=\"sha256\">" + xmlText(file.sha256) + "</hashdigest>\n";
  norvaleFields(out, "    ", file.fields);
  out += "  </fileobject>\n";
}

}  // namespace

DfxmlDocument dfxmlDocumentFor(TaskContext& task, const std::string& commandLine,
                               std::chrono::system_clock::time_point start) {
  DfxmlDocument document;
  document.commandLine = commandLine;
  document.startTime = utcDateTime(start);
  const EvidenceInfo evidence = task.deviceHandle.evidenceInfo();
  if (task.device) document.imageFilenames = evidenceSegmentPaths(absolutePath(task.device->openPath()), evidence);
  document.evidence = {{"kind", evidenceKindName(evidence.kind)},
                       {"segments", std::to_string(evidence.segments)},
                       {"media_size", std::to_string(task.deviceHandle.size())}};
  if (!evidence.md5.empty()) document.evidence.emplace_back("stored_md5", evidence.md5);
  if (!evidence.sha1.empty()) document.evidence.emplace_back("stored_sha1", evidence.sha1);
  document.evidence.emplace_back("scanned_offset", std::to_string(task.description().startOffset));
  document.evidence.emplace_back("scanned_length", std::to_string(task.description().length));
  document.evidence.emplace_back("first_year", std::to_string(task.description().years.first));
  document.evidence.emplace_back("last_year", std::to_string(task.description().years.last));
  return document;
}

std::string recordingId(std::uint64_t position) { return "recording-" + std::to_string(position + 1); }

DfxmlFileObject recordingObject(const TaskContext& task, std::uint64_t position, const FileEntry& entry) {
  const TimeConvention convention = task.timeConvention();
  const TimeConvention recorded = convention.asRecorded();
  DfxmlFileObject object;
  object.id = recordingId(position);
  object.filesize = entry.size;
  object.fields = {{"channel", std::to_string(entry.channel)},
                   {"start", timeText(convention, entry.startTime)},
                   {"end", timeText(convention, entry.endTime)},
                   {"recorder_start", timeText(recorded, entry.startTime)},
                   {"recorder_end", timeText(recorded, entry.endTime)},
                   {"clock_correction", std::to_string(task.description().clockCorrection)},
                   {"zone", task.description().recorderZone},
                   {"brand", std::to_string(task.description().brand)},
                   {"brand_name", brandName(task.description().brand)},
                   {"mode", task.description().parseMode == kParseQuick ? "quick" : "deep"}};
  return object;
}

Result<EntryBytes> readEntryBytes(TaskContext& task, const FileEntry& entry, SourceReader& reader) {
  if (!task.store) return fail(ErrorCode::InvalidArgument, "no task is open");
  EntryBytes bytes;
  Sha256 sha;
  std::vector<std::uint8_t> piece;
  std::vector<UnreadableSpan> spans;
  for (std::uint64_t first = 0; first < entry.recordCount(); first += kRecordsPerRead) {
    auto records = task.store->readFileRecords(entry, first, kRecordsPerRead);
    if (!records) return std::unexpected(records.error());
    for (const SegmentRecord& record : *records) {
      for (std::uint64_t done = 0; done < record.size;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(SourceReader::kBlockBytes, record.size - done));
        piece.resize(n);
        spans.clear();
        bytes.unreadableBytes += reader.read(record.deviceOffset + done, n, piece.data(), &spans);
        bytes.runs.add(record.deviceOffset + done, n, spans);
        sha.update(piece.data(), n);
        done += n;
      }
    }
  }
  bytes.sha256 = sha.hex();
  return bytes;
}

namespace {
// A fileobject of an earlier report of the folder, as it was written.
struct EarlierObject {
  std::string text;  // from "  <fileobject>" to its end tag, with the line end
  std::string filename, id, derivedFrom;
  bool notWritten = false;  // a recording beside its MP4: no file of the folder
};

// The value of the first <name>...</name> in text (entities left as written: the report wrote
// both sides alike).
std::string firstValue(const std::string& text, const std::string& name) {
  const std::string open = "<" + name + ">", close = "</" + name + ">";
  const auto at = text.find(open);
  if (at == std::string::npos) return {};
  const auto end = text.find(close, at);
  return end == std::string::npos ? std::string() : text.substr(at + open.size(), end - at - open.size());
}

std::vector<EarlierObject> earlierObjects(const fs::path& report) {
  std::ifstream in(report, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<EarlierObject> objects;
  const std::string open = "  <fileobject>\n", close = "  </fileobject>\n";
  for (std::size_t at = text.find(open); at != std::string::npos; at = text.find(open, at)) {
    const auto end = text.find(close, at);
    if (end == std::string::npos) break;
    EarlierObject object;
    object.text = text.substr(at, end + close.size() - at);
    object.filename = firstValue(object.text, "filename");
    object.id = firstValue(object.text, "id");
    object.derivedFrom = firstValue(object.text, "norvale:derived_from");
    object.notWritten = firstValue(object.text, "norvale:written") == "false";
    objects.push_back(std::move(object));
    at = end + close.size();
  }
  return objects;
}

// The fileobjects of the earlier report that still describe files of the folder this run did
// not write, with the recordings those derive from: a report covers the whole folder, as
// SHA256SUMS does.
std::string keptObjects(const std::string& folder, const DfxmlDocument& document) {
  const auto earlier = earlierObjects(fs::u8path(folder) / kDfxmlReportName);
  std::set<std::string> thisRun;
  for (const DfxmlFileObject& file : document.files) thisRun.insert(xmlText(file.filename));
  std::vector<bool> keep(earlier.size(), false);
  std::set<std::string> neededIds;
  for (std::size_t i = 0; i < earlier.size(); ++i) {
    const EarlierObject& object = earlier[i];
    std::error_code ec;
    if (object.notWritten || thisRun.count(object.filename) || !fs::is_regular_file(fs::u8path(folder) / fs::u8path(object.filename), ec))
      continue;
    keep[i] = true;
    if (!object.derivedFrom.empty()) neededIds.insert(object.derivedFrom);
  }
  std::string kept;
  for (std::size_t i = 0; i < earlier.size(); ++i)
    if (keep[i] || (earlier[i].notWritten && neededIds.count(earlier[i].id) && !thisRun.count(earlier[i].filename)))
      kept += earlier[i].text;
  return kept;
}
}  // namespace

std::string dfxmlText(const DfxmlDocument& document) { return dfxmlText(document, {}); }

std::string dfxmlText(const DfxmlDocument& document, const std::string& earlierObjects) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += std::string("<dfxml xmlns=\"") + kDfxmlNamespace + "\" xmlns:dc=\"" + kDublinCoreNamespace +
         "\" xmlns:norvale=\"" + kNorvaleNamespace + "\" version=\"" + kDfxmlVersion + "\">\n";
  out += "  <metadata>\n    <dc:type>Carve Report</dc:type>\n  </metadata>\n";
  out += "  <creator>\n";
  element(out, "    ", "program", kProgramName);
  element(out, "    ", "version", kProgramVersion);
  out += "    <execution_environment>\n";
  if (!document.commandLine.empty()) element(out, "      ", "command_line", document.commandLine);
  element(out, "      ", "start_time", document.startTime);
  out += "    </execution_environment>\n  </creator>\n";
  out += "  <source>\n";
  for (const std::string& name : document.imageFilenames) element(out, "    ", "image_filename", name);
  out += "  </source>\n";
  out += earlierObjects;
  for (const DfxmlFileObject& file : document.files) fileObject(out, file);
  out += "  <norvale:evidence>\n";
  norvaleFields(out, "    ", document.evidence);
  out += "  </norvale:evidence>\n";
  out += "</dfxml>\n";
  return out;
}

Result<void> writeDfxmlReport(const std::string& folder, const DfxmlDocument& document) {
  const fs::path target = fs::u8path(folder) / kDfxmlReportName;
  const std::string kept = keptObjects(folder, document);
  std::error_code ec;
  // As with SHA256SUMS: a folder with nothing to describe and no report gets none.
  if (document.files.empty() && kept.empty() && !fs::exists(target, ec)) return {};
  const fs::path partial = partialPathFor(target);
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    if (!out) return fail(ErrorCode::WriteFailed, "cannot create " + partial.string());
    out << dfxmlText(document, kept);
    out.close();
    if (!out) {
      fs::remove(partial, ec);
      return fail(ErrorCode::WriteFailed, "cannot write " + partial.string());
    }
  }
  return commitPartial(partial, target);
}

}  // namespace norvale
