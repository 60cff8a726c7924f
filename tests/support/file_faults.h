#pragma once
// Faults of the files a task or an export writes, passed in through their probe: a disk that
// fills up, and a call that fails the n-th time it is made.
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "task/task_probe.h"

namespace norvale::test {

// A disk with `bytes` more bytes free for the files (all of them together): the write that
// meets its end puts what fits and fails with ENOSPC, as do all writes that grow a file after.
class DiskSpace final : public TaskProbe {
 public:
  explicit DiskSpace(std::uint64_t bytes) : m_left(bytes) {}
  int before(FileCall call, std::uint64_t growth, std::uint64_t& allowed) override {
    if (call != FileCall::Write) return 0;
    std::lock_guard lock(m_mutex);
    allowed = growth < m_left ? growth : m_left;
    m_left -= allowed;
    return allowed < growth ? ENOSPC : 0;
  }

 private:
  std::mutex m_mutex;
  std::uint64_t m_left;
};

// Fails the n-th call of one kind (counted from 1) with error; 0 fails none and only counts.
class FailingCall final : public TaskProbe {
 public:
  FailingCall(FileCall call, std::uint64_t n, int error = ENOSPC) : m_call(call), m_n(n), m_error(error) {}
  int before(FileCall call, std::uint64_t, std::uint64_t& allowed) override {
    if (call != m_call) return 0;
    std::lock_guard lock(m_mutex);
    if (++m_calls != m_n) return 0;
    allowed = 0;
    return m_error;
  }
  std::uint64_t calls() {
    std::lock_guard lock(m_mutex);
    return m_calls;
  }

 private:
  std::mutex m_mutex;
  FileCall m_call;
  std::uint64_t m_n;
  int m_error;
  std::uint64_t m_calls = 0;
};

}  // namespace norvale::test
