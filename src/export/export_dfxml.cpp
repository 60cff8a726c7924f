// report.dfxml of an export run.
#include "export/dfxml_report.h"
#include "export/exporter.h"
#include "export/manifest.h"
#include "task/task_history.h"

namespace norvale {

Result<void> writeExportDfxml(TaskContext& task, const ExportOptions& options,
                              std::chrono::system_clock::time_point started, const std::vector<ExportedFile>& results) {
  DfxmlDocument document = dfxmlDocumentFor(task, options.commandLine, started);
  const auto entries = fileMapEntries(task);
  std::vector<OutputEvent> written;
  for (const ExportedFile& file : results) {
    if (!file.skipped) written.push_back({"export", file.sha256, absolutePath(file.path)});
    if (file.index == 0 || file.index > entries.size()) continue;
    DfxmlFileObject object = recordingObject(task, file.index - 1, entries[file.index - 1].second);
    object.filename = manifestPath(options.folder, file.path);
    object.filesize = file.size;
    object.sha256 = file.sha256;
    if (!file.skipped) object.byteRuns = file.byteRuns.runs();
    document.files.push_back(std::move(object));
  }
  if (!task.taskFolder.empty())
    if (auto recorded = recordOutputs(task.taskFolder, written); !recorded) return recorded;
  return writeDfxmlReport(options.folder, document);
}

}  // namespace norvale
