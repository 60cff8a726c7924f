#pragma once
// The task notification on the desktop: the worker's call is carried into the interface thread
// and waits there until the main frame has drawn it, so the status stays valid during the call.
#include <QPointer>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

#include "task/task_status.h"

namespace norvale::ui {

class CMainFrame;

class GuiObserver final : public TaskObserver {
 public:
  explicit GuiObserver(CMainFrame* frame);  // on the interface thread

  // Worker side. Progress codes arriving faster than the screen can show are held back; the
  // latest held one is delivered before the next notification and by flush().
  void onTaskStatus(const TaskStatus& status) override;
  void flush();
  // Runs fn on the interface thread and waits for it; nothing once the frame is gone.
  void runOnUi(const std::function<void(CMainFrame&)>& fn);
  // Interface side: the frame is closing; later calls return at once.
  void detach() { m_detached.store(true); }

  // How often progress is drawn at most.
  static constexpr std::chrono::milliseconds kProgressInterval{40};

 private:
  void deliver(const TaskStatus& status);

  QPointer<CMainFrame> m_frame;  // read on the interface thread only
  std::atomic<bool> m_detached{false};
  // Touched by the one thread that notifies at a time (the worker, or the interface while idle).
  std::optional<TaskStatus> m_held;
  std::chrono::steady_clock::time_point m_lastDelivery{};
};

}  // namespace norvale::ui
