#pragma once
// The points the kill tests stop the program at, given by hidden options (never in the usage
// text, never needed in use): the program kills itself there with SIGKILL, as a crash or a power
// cut would stop it, so that the tests see what such a stop leaves.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "task/task_probe.h"

namespace norvale::cli {

// scan --test-kill-at MOMENT[:N]: the N-th time (1 by default) the scan passes MOMENT (progress,
// flush, sorted, rebuild).
class KillAtMoment final : public TaskProbe {
 public:
  KillAtMoment(ScanMoment moment, std::uint64_t count) : m_moment(moment), m_count(count) {}
  void reached(ScanMoment moment) override;

 private:
  ScanMoment m_moment;
  std::uint64_t m_count;
  std::atomic<std::uint64_t> m_seen{0};
};
// The probe the option names; an error text for a value it does not understand.
std::variant<KillAtMoment*, std::string> killAtMoment(const std::string& text, std::optional<KillAtMoment>& storage);

// export --test-kill-after BYTES: once a file written holds BYTES bytes, before its next write.
class KillAfterBytes final : public FileFaults {
 public:
  explicit KillAfterBytes(std::uint64_t bytes) : m_bytes(bytes) {}
  int before(FileCall call, std::uint64_t growth, std::uint64_t& allowed) override;

 private:
  std::uint64_t m_bytes;
  std::uint64_t m_written = 0;
};

}  // namespace norvale::cli
