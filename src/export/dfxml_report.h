#pragma once
// report.dfxml: the carve report of an output folder in Digital Forensics XML (schema version
// 2.0.0-beta.0), so that forensic suites take the written files in as carved files of the image
// and any reader can trace each byte to the source. Export and conversion write it; so can any
// later command that writes files from a task.
//
// The document: <metadata> (dc:type "Carve Report"), <creator> (program, version, command line,
// start time), <source> (the image file names: every segment of a split or EWF set), one
// <fileobject> per file, then <norvale:evidence> (kind, media size, stored hashes, the scanned
// range), since the schema's <source> holds file names only. A fileobject's DFXML elements come
// in the schema's order (filename, id, name_type, filesize, byte_runs, hashdigest); the fields
// DFXML has no element for follow in Norvale's namespace.
//
// A derived file (an MP4) has no byte runs of its own: its fileobject names the recording it
// was made from in <norvale:derived_from>, the id of the recording's own fileobject, which
// stands beside it with the runs that say where the recording's bytes lie.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/error.h"
#include "export/byte_runs.h"
#include "task/task_context.h"

namespace norvale {

inline constexpr const char* kDfxmlReportName = "report.dfxml";
inline constexpr const char* kDfxmlVersion = "2.0.0-beta.0";
inline constexpr const char* kDfxmlNamespace = "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML";
inline constexpr const char* kDublinCoreNamespace = "http://purl.org/dc/elements/1.1/";
inline constexpr const char* kNorvaleNamespace = "urn:norvale:dfxml:1";

// Norvale's own elements, written as <norvale:name>value</norvale:name> in this order.
using DfxmlFields = std::vector<std::pair<std::string, std::string>>;

struct DfxmlFileObject {
  std::string filename;  // relative to the report, '/' separated
  std::string id;        // empty: none
  std::uint64_t filesize = 0;
  std::optional<std::vector<ByteRun>> byteRuns;  // none: a derived file, or one not read this run
  std::string sha256;                            // empty: none
  DfxmlFields fields;
};

struct DfxmlDocument {
  std::string commandLine;
  std::string startTime;  // xs:dateTime, UTC
  std::vector<std::string> imageFilenames;
  DfxmlFields evidence;
  std::vector<DfxmlFileObject> files;
};

// The document's head for a run over the task's source: creator, source and evidence.
DfxmlDocument dfxmlDocumentFor(TaskContext& task, const std::string& commandLine,
                               std::chrono::system_clock::time_point start);

// The id a recording's fileobject has: "recording-N", N its position in the file map from 1.
std::string recordingId(std::uint64_t position);

// The fileobject of a recording (the bytes export writes of the file entry at position).
DfxmlFileObject recordingObject(const TaskContext& task, std::uint64_t position, const FileEntry& entry);

// The bytes of a file entry as export writes them, read from the source: their runs and SHA-256.
struct EntryBytes {
  ByteRunList runs;
  std::string sha256;
  std::uint64_t unreadableBytes = 0;
};
Result<EntryBytes> readEntryBytes(TaskContext& task, const FileEntry& entry, SourceReader& reader);

std::string dfxmlText(const DfxmlDocument& document);
// The same with fileobjects of an earlier report, as written, before this run's.
std::string dfxmlText(const DfxmlDocument& document, const std::string& earlierObjects);

// Writes folder/report.dfxml whole or not at all (under a partial name, then renamed). The
// fileobjects of the folder's earlier report whose files this run did not write and which are
// still there are kept, so that the report covers every file the program wrote there.
Result<void> writeDfxmlReport(const std::string& folder, const DfxmlDocument& document);

}  // namespace norvale
