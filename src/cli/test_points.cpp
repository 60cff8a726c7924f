#include "cli/test_points.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "cli/cli_support.h"

namespace norvale::cli {
namespace {
[[noreturn]] void killNow(const char* where) {
  std::fprintf(stderr, "killed at: %s\n", where);
  std::fflush(stderr);
#ifdef SIGKILL
  std::raise(SIGKILL);
#endif
  std::abort();
}

const char* momentName(ScanMoment moment) {
  switch (moment) {
    case ScanMoment::Progress: return "progress";
    case ScanMoment::Flush: return "flush";
    case ScanMoment::Sorted: return "sorted";
    case ScanMoment::Rebuilt: return "rebuild";
  }
  return "?";
}
}  // namespace

void KillAtMoment::reached(ScanMoment moment) {
  if (moment == m_moment && m_seen.fetch_add(1) + 1 == m_count) killNow(momentName(moment));
}

std::variant<KillAtMoment*, std::string> killAtMoment(const std::string& text, std::optional<KillAtMoment>& storage) {
  const std::size_t colon = text.find(':');
  const std::string name = text.substr(0, colon);
  std::uint64_t count = 1;
  if (colon != std::string::npos) {
    const auto n = parseUnsigned(text.substr(colon + 1));
    if (!n || *n == 0) return std::string("--test-kill-at takes MOMENT[:N] with N from 1");
    count = *n;
  }
  for (ScanMoment moment : {ScanMoment::Progress, ScanMoment::Flush, ScanMoment::Sorted, ScanMoment::Rebuilt})
    if (name == momentName(moment)) return &storage.emplace(moment, count);
  return std::string("--test-kill-at takes progress, flush, sorted or rebuild");
}

int KillAfterBytes::before(FileCall call, std::uint64_t growth, std::uint64_t&) {
  if (call != FileCall::Write) return 0;
  if (m_written >= m_bytes) killNow("export");
  m_written += growth;
  return 0;
}

}  // namespace norvale::cli
