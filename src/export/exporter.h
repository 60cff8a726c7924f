#pragma once
// Writes the video of chosen file entries into a folder tree by channel and day. The bytes come
// from the source device, located by the entries' segment records; never from the task files.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "export/byte_runs.h"
#include "task/file_run.h"
#include "task/task_context.h"

namespace norvale {

struct ExportOptions {
  std::string folder;
  bool overwrite = false;  // else an existing file is skipped
  std::string commandLine;  // what report.dfxml names as the command that made the files
  FileFaults* faults = nullptr;  // a test's, on the files written (not owned)
};

struct ExportedFile {
  std::uint64_t index = 0;        // position in the file map, from 1
  std::string path;               // where the file is (or would have been)
  std::uint64_t size = 0;         // bytes written (or found, when skipped)
  std::string sha256;             // of the file's bytes; empty when it was not written
  bool skipped = false;           // it existed and was left alone
  bool complete = true;           // false: some source bytes could not be read (zeros stand in)
  std::uint64_t unreadableBytes = 0;
  std::string error;              // why the file is incomplete or missing
  ByteRunList byteRuns;           // where its bytes lie on the source (empty when skipped)
};

// Path of every file-map entry relative to the export folder, in map order:
// CH<nn>/<YYYY-MM-DD or all-dates>/CH<nn>_<start>_<end>.<ext>, with "_2", "_3"... where names repeat.
std::vector<std::string> exportRelativePaths(const TaskContext& task);

// Writes folder/report.dfxml for an export run: a fileobject per file of results, with its byte
// runs (a file this run skipped has none: it was not read).
Result<void> writeExportDfxml(TaskContext& task, const ExportOptions& options,
                              std::chrono::system_clock::time_point started, const std::vector<ExportedFile>& results);

// Exports the entries at the given 0-based file-map positions, sending the observer status codes 4 and 5,
// rewrites the folder's SHA256SUMS to cover every file written there and writes report.dfxml.
// Stops between pieces when the task's stop flag is raised (the unfinished file is removed).
// A write that fails ends the run with its error: the files written before stay whole, with
// their manifest lines, and the unfinished one is removed.
Result<std::vector<ExportedFile>> exportFiles(TaskContext& task, TaskObserver& observer,
                                              const std::vector<std::uint64_t>& positions, const ExportOptions& options);

}  // namespace norvale
