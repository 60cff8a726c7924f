// report: the HTML log report of a task, written into its folder.
#include <iostream>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "report/desktop_open.h"
#include "report/log_report.h"

namespace norvale::cli {

int runReportCommand(int argc, char** argv) {
  Options options;
  if (auto error = options.parse(argc, argv, {"--task", "--source"}, {"--no-open"})) return usageError(*error);
  const auto folder = options.value("--task");
  const auto sourcePath = options.value("--source");
  if (!folder || !sourcePath) return usageError("report needs --task DIR --source PATH");
  auto source = sourceRecord(*sourcePath);
  if (!source) return failure("访问源设备失败,请确认源设备是否存在: " + source.error().message);

  TaskContext task;
  ProgressPrinter printer(&task, true);
  // Loading messages would only repeat what the scan said.
  if (auto code = openQuietly(task, *folder, *source)) return *code;
  auto written = writeLogReport(task, printer);
  if (!written) return failure(written.error().message);
  std::cout << *written << "\n";
  if (!options.flag("--no-open"))
    if (auto opened = openWithDesktop(*written); !opened)
      std::cerr << "norvale-cli: the report was written but could not be opened: " << opened.error().message << "\n";
  return kExitOk;
}

}  // namespace norvale::cli
