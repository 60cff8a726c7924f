#pragma once
// One command worker at a time: the busy flag is raised before the thread starts, so a second
// command can never slip in between.
#include <atomic>
#include <functional>
#include <thread>

namespace norvale {

class CommandWorker {
 public:
  CommandWorker() = default;
  ~CommandWorker();
  CommandWorker(const CommandWorker&) = delete;
  CommandWorker& operator=(const CommandWorker&) = delete;

  // Starts body on a thread of its own; false (and nothing started) while another runs.
  bool start(std::function<void()> body);
  bool busy() const { return m_busy.load(); }
  // Waits for the running body (the command line and tests; the desktop never waits).
  void wait();
  // Lets a running body go on unwatched (forced exit).
  void abandon();

 private:
  std::atomic<bool> m_busy{false};
  std::thread m_thread;
};

}  // namespace norvale
