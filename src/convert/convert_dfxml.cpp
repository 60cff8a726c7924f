// report.dfxml of a conversion run. An MP4 is a derived file: its bytes lie nowhere on the
// source, so its fileobject carries no byte runs and names the recording it was made from.
#include "convert/converter.h"

#include <filesystem>

#include "export/dfxml_report.h"
#include "export/exporter.h"
#include "export/manifest.h"
#include "task/task_history.h"

namespace norvale::convert {

Result<void> writeConvertDfxml(TaskContext& task, const ConvertOptions& options,
                               std::chrono::system_clock::time_point started, const std::vector<ConvertedFile>& results) {
  DfxmlDocument document = dfxmlDocumentFor(task, options.commandLine, started);
  const auto entries = fileMapEntries(task);
  const auto recordingPaths = exportRelativePaths(task);
  SourceReader reader(task.deviceHandle);
  std::vector<OutputEvent> written;
  for (const ConvertedFile& file : results) {
    if ((!file.written && !file.skipped) || file.index == 0 || file.index > entries.size()) continue;
    if (file.written) written.push_back({"convert", file.sha256, absolutePath(file.path)});
    const std::uint64_t position = file.index - 1;
    const FileEntry& entry = entries[position].second;
    DfxmlFileObject recording = recordingObject(task, position, entry);
    // Where export would write it: this folder holds the MP4 only.
    recording.filename = recordingPaths[position];
    if (auto bytes = readEntryBytes(task, entry, reader)) {
      recording.sha256 = bytes->sha256;
      recording.byteRuns = bytes->runs.runs();
    } else {
      return std::unexpected(bytes.error());
    }
    recording.fields.emplace_back("written", "false");

    DfxmlFileObject mp4;
    mp4.filename = manifestPath(options.folder, file.path);
    std::error_code ec;
    mp4.filesize = std::filesystem::file_size(std::filesystem::u8path(file.path), ec);
    mp4.sha256 = file.sha256;
    mp4.fields = {{"derived_from", recording.id}, {"codec", file.codec}, {"frames", std::to_string(file.frames)},
                  {"complete", file.complete ? "true" : "false"}};
    document.files.push_back(std::move(recording));
    document.files.push_back(std::move(mp4));
  }
  if (!task.taskFolder.empty())
    if (auto recorded = recordOutputs(task.taskFolder, written); !recorded) return recorded;
  return writeDfxmlReport(options.folder, document);
}

}  // namespace norvale::convert
