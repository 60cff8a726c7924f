#pragma once
// A fingerprint of every task the suites scan or load: the task files' bytes, the file map, the
// notifications and the end sector, appended as one line per task to the file NORVALE_TASK_TRACE
// names (nothing is written when it is unset). Two builds whose traces agree scanned every test
// image alike: tests/identity/compare_with_revision.sh compares them.
#include <string>

#include "support/scan_harness.h"

namespace norvale::test {

void traceTask(const std::string& what, const std::string& taskFolder, const ScanOutcome& outcome);

}  // namespace norvale::test
