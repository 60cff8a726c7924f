#include "export/exporter.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "export/dfxml_report.h"
#include "export/manifest.h"
#include "export/source_reader.h"
#include "parsers/brand_table.h"
#include "task/partial_file.h"
#include "task/result_store.h"

namespace norvale {
namespace fs = std::filesystem;

namespace {
constexpr std::size_t kPieceBytes = 1 << 20;

constexpr std::uint64_t kRecordsPerRead = 65536;

}  // namespace

std::vector<std::string> exportRelativePaths(const TaskContext& task) {
  const TimeConvention convention = task.timeConvention();
  const std::string extension = fileExtensionFor(task.description().brand);
  std::vector<std::string> paths;
  std::map<std::string, int> seen;
  char channel[16];
  for (const auto& [key, entry] : task.fileMap) {
    std::snprintf(channel, sizeof channel, "CH%02u", static_cast<unsigned>(entry.channel));
    const std::uint32_t day = static_cast<std::uint32_t>(key);
    const std::string dayName = day != 0 ? dayIsoText(day) : "all-dates";
    std::string stem = std::string(channel) + "/" + dayName + "/" + channel + "_" +
                       fileNameTime(convention, entry.startTime) + "_" + fileNameTime(convention, entry.endTime);
    const int n = ++seen[stem];
    if (n > 1) stem += "_" + std::to_string(n);
    paths.push_back(stem + "." + extension);
  }
  return paths;
}

Result<std::vector<ExportedFile>> exportFiles(TaskContext& task, TaskObserver& observer,
                                              const std::vector<std::uint64_t>& positions, const ExportOptions& options) {
  auto run = beginFileRun(task, observer, positions, options.folder);
  if (!run) return std::unexpected(run.error());
  const auto& entries = run->entries();
  const auto paths = exportRelativePaths(task);

  const auto started = std::chrono::system_clock::now();
  SourceReader source(task.deviceHandle);
  std::vector<UnreadableSpan> unreadable;
  // What a killed run left is never taken for a file: its partial files go before this run.
  removeStalePartials(options.folder);
  std::vector<ExportedFile> results;
  std::vector<std::uint8_t> piece;
  // A file that cannot be written ends the run: the files before it are whole and listed in the
  // manifest, the unfinished one is removed, and the error is the run's.
  std::optional<Error> writeFailure;
  for (auto p : positions) {
    if (task.stopRequested()) break;
    const FileEntry& entry = entries[p].second;
    ExportedFile out;
    out.index = p + 1;
    const fs::path target = fs::path(options.folder) / fs::u8path(paths[p]);
    out.path = target.string();
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) {
      writeFailure = Error{ErrorCode::WriteFailed, "cannot create " + target.parent_path().string() + ": " + ec.message(), 0};
      break;
    }
    if (!options.overwrite && fs::exists(target)) {
      out.skipped = true;
      out.size = fs::file_size(target, ec);
      out.sha256 = sha256OfFile(target.string());
      results.push_back(out);
      run->countFile();
      run->advance(entry.size);
      continue;
    }
    PartialFile file(options.faults);
    if (auto created = file.create(target); !created) {
      writeFailure = created.error();
      break;
    }
    Sha256 sha;
    bool stopped = false;
    for (std::uint64_t first = 0; first < entry.recordCount() && !stopped; first += kRecordsPerRead) {
      auto records = task.store->readFileRecords(entry, first, kRecordsPerRead);
      if (!records) {
        out.complete = false;
        out.error = records.error().message;
        break;
      }
      for (const SegmentRecord& record : *records) {
        for (std::uint64_t done = 0; done < record.size;) {
          if (task.stopRequested()) {
            stopped = true;
            break;
          }
          const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kPieceBytes, record.size - done));
          piece.resize(n);
          unreadable.clear();
          out.unreadableBytes += source.read(record.deviceOffset + done, n, piece.data(), &unreadable);
          out.byteRuns.add(record.deviceOffset + done, n, unreadable);
          if (auto written = file.write(piece); !written) {
            writeFailure = written.error();
            break;
          }
          sha.update(piece.data(), n);
          out.size += n;
          done += n;
          run->advance(n);
        }
        if (stopped || writeFailure) break;
      }
      if (writeFailure) break;
    }
    if (stopped || writeFailure) break;  // the partial file goes with `file`
    if (out.unreadableBytes > 0) {
      out.complete = false;
      out.error = "读取源设备失败,可能存在坏道: " + std::to_string(out.unreadableBytes) + " bytes unreadable, written as zeros";
    }
    fs::path final = target;
    if (!out.complete) final.replace_extension(".incomplete" + target.extension().string());
    if (auto committed = file.commit(final); !committed) {
      writeFailure = committed.error();
      break;
    }
    out.path = final.string();
    out.sha256 = sha.hex();
    run->countFile();
    run->advance(0);
    results.push_back(out);
  }
  // A skipped file keeps the line an earlier run gave it, so a later change to it still shows.
  std::vector<ManifestLine> lines;
  for (const ExportedFile& f : results)
    lines.push_back({f.skipped ? std::string() : f.sha256, manifestPath(options.folder, f.path)});
  auto manifest = updateManifest(options.folder, lines, options.faults);
  if (writeFailure) return std::unexpected(*writeFailure);
  if (!manifest) return std::unexpected(manifest.error());
  if (auto reported = writeExportDfxml(task, options, started, results); !reported) return std::unexpected(reported.error());
  return results;
}

}  // namespace norvale
