#pragma once
// One function per command; argv[0] is the command name.
namespace norvale {
class TaskProbe;
class FileFaults;
}  // namespace norvale

namespace norvale::cli {
int runScanCommand(int argc, char** argv);
int runFilesCommand(int argc, char** argv);
int runExportCommand(int argc, char** argv);
int runSampleCommand(int argc, char** argv);
int runIdentifyCommand(int argc, char** argv);
int runReportCommand(int argc, char** argv);
int runVerifyCommand(int argc, char** argv);
int runConvertCommand(int argc, char** argv);
int runPreviewCommand(int argc, char** argv);
int runClipCommand(int argc, char** argv);
int runInfoCommand(int argc, char** argv);
// The same commands with a test's probe of the scan and its task files, or faults of the files
// an export writes (not owned; what the tests reach failure points through).
int runScanCommand(int argc, char** argv, TaskProbe* probe);
int runExportCommand(int argc, char** argv, FileFaults* faults);
}  // namespace norvale::cli
