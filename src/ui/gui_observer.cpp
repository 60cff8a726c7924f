#include "ui/gui_observer.h"

#include <QCoreApplication>
#include <QThread>

#include "ui/main_frame.h"

namespace norvale::ui {
namespace {
bool isProgress(StatusCode code) {
  return code == StatusCode::ScanProgress || code == StatusCode::ExportProgress ||
         code == StatusCode::IdentifyProgress || code == StatusCode::LoadProgress;
}
}  // namespace

GuiObserver::GuiObserver(CMainFrame* frame) : m_frame(frame) {}

void GuiObserver::onTaskStatus(const TaskStatus& status) {
  const auto now = std::chrono::steady_clock::now();
  if (isProgress(status.code) && now - m_lastDelivery < kProgressInterval) {
    m_held = status;
    return;
  }
  // A held progress of another kind is still news; one of the same kind is superseded.
  if (m_held && m_held->code != status.code) deliver(*m_held);
  m_held.reset();
  deliver(status);
  m_lastDelivery = std::chrono::steady_clock::now();
}

void GuiObserver::flush() {
  if (!m_held) return;
  const TaskStatus held = *m_held;
  m_held.reset();
  deliver(held);
}

void GuiObserver::deliver(const TaskStatus& status) {
  runOnUi([&status](CMainFrame& frame) { frame.onTaskStatus(status); });
}

void GuiObserver::runOnUi(const std::function<void(CMainFrame&)>& fn) {
  if (m_detached.load()) return;
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  auto call = [this, &fn] {
    if (!m_detached.load() && m_frame) fn(*m_frame);
  };
  if (QThread::currentThread() == app->thread())
    call();
  else
    QMetaObject::invokeMethod(app, call, Qt::BlockingQueuedConnection);
}

}  // namespace norvale::ui
