// verify: recomputes the hashes an EWF set stores over its whole media and says whether they match.
#include <iostream>
#include <sstream>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "storage/evidence_source.h"
#include "storage/media_digest.h"
#include "task/status_text.h"

namespace norvale::cli {
namespace {

std::string segmentsText(std::uint32_t n) { return std::to_string(n) + (n == 1 ? " segment" : " segments"); }

// One hash line; true when the stored hash is confirmed (or none is stored).
bool hashLine(std::ostream& out, const char* name, const std::string& computed, const std::string& stored,
              std::uint64_t unreadableBytes) {
  out << name << "\t" << computed;
  if (stored.empty()) {
    out << "\n";
    return true;
  }
  if (unreadableBytes > 0) {
    out << "\tNOT VERIFIED: " << unreadableBytes << " bytes could not be read (stored " << stored << ")\n";
    return false;
  }
  if (computed == stored) {
    out << "\tmatches the stored hash\n";
    return true;
  }
  out << "\tDOES NOT MATCH the stored " << stored << "\n";
  return false;
}

}  // namespace

int runVerifyCommand(int argc, char** argv) {
  Options options;
  if (auto error = options.parse(argc, argv, {"--source"}, {"--quiet"})) return usageError(*error);
  const auto sourcePath = options.value("--source");
  if (!sourcePath) return usageError("verify needs --source PATH");
  auto source = openEvidenceSource(*sourcePath);
  if (!source) return failure("访问源设备失败,请确认源设备是否存在: " + source.error().message);
  const EvidenceInfo info = (*source)->evidenceInfo();

  TaskContext task;
  TaskHead head;
  head.description.length = info.mediaSize;
  task.describe(head);
  ProgressPrinter printer(&task, options.flag("--quiet"));
  printer.presenter().setExportTotals(info.mediaSize, 1);
  TaskStatus status;
  status.code = StatusCode::ExportStart;
  status.value = static_cast<std::int64_t>(info.mediaSize / 1048576);
  printer.onTaskStatus(status);
  stopOnInterrupt(task);
  auto digest = digestMedia(**source, [&](std::uint64_t done) {
    status.code = StatusCode::ExportProgress;
    status.foundBytes = done;
    status.foundCount = done >= info.mediaSize ? 1 : 0;
    printer.onTaskStatus(status);
    return !task.stopRequested();
  });
  printer.finishLine();
  if (!digest) return failure(digest.error().message);

  std::uint64_t unreadableBytes = 0;
  for (const auto& r : digest->unreadable) unreadableBytes += r.length;
  std::ostringstream out;
  out << "source: " << *sourcePath << "  " << evidenceKindName(info.kind) << ", " << segmentsText(info.segments) << ", "
      << info.mediaSize << " bytes" << (info.incomplete ? ", INCOMPLETE (a segment is missing or cut short)" : "")
      << "\n";
  for (const auto& r : digest->unreadable)
    out << "unreadable: " << r.length << " bytes at offset " << r.offset << " (sector " << r.offset / 512
        << "): " << r.reason << "\n";
  bool ok = digest->unreadable.empty() && !digest->stopped && !info.incomplete;
  if (digest->stopped) {
    out << "stopped at byte " << digest->bytes << " of " << info.mediaSize << ": nothing is verified\n";
  } else {
    ok = hashLine(out, "MD5", digest->md5, info.md5, unreadableBytes) && ok;
    ok = hashLine(out, "SHA1", digest->sha1, info.sha1, unreadableBytes) && ok;
    if (info.md5.empty() && info.sha1.empty())
      out << "no stored hash to compare: "
          << (info.kind == EvidenceKind::Ewf ? std::string(info.incomplete ? "the EWF set is incomplete and holds none"
                                                                            : "the EWF set stores none")
                                                 : std::string("a ") + evidenceKindName(info.kind) + " image carries none") << "\n";
    else if (ok)
      out << "verified: every stored hash matches\n";
  }
  if (!ok && !digest->stopped) out << "NOT verified\n";
  std::cout << out.str();
  return ok ? kExitOk : kExitFailure;
}

}  // namespace norvale::cli
