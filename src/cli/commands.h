#pragma once
// One function per command; argv[0] is the command name.
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
}  // namespace norvale::cli
