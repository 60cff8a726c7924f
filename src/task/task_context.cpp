#include "task/task_context.h"

#include "parsers/brand_table.h"
#include "task/result_store.h"

namespace norvale {

TaskContext::TaskContext() = default;

TaskContext::~TaskContext() { teardown(); }

void TaskContext::describe(const TaskHead& head) {
  m_description = head.description;
  clearStop();
  endSector = head.endSector;
  checkpoint = head.checkpoint;
  taskFolder = head.taskFolder;
  device = head.device;
  scan = head.scan;
  zone = nullptr;
}

TaskHead TaskContext::head() const { return TaskHead{m_description, endSector, checkpoint, taskFolder, device, scan}; }

TimeConvention TaskContext::timeConvention() const {
  TimeConvention convention = timeConventionFor(m_description.brand, m_description.parseMode);
  convention.zone = zone;
  // A head copied in but not yet run or loaded still names its zone: never read it as the
  // workstation's.
  if (!zone && !m_description.recorderZone.empty())
    if (auto found = TimeZone::named(m_description.recorderZone)) convention.zone = *found;
  convention.correction = m_description.clockCorrection;
  return convention;
}

Result<void> TaskContext::findZone() {
  zone = nullptr;
  if (m_description.recorderZone.empty()) return {};
  auto found = TimeZone::named(m_description.recorderZone);
  if (!found) return std::unexpected(found.error());
  zone = *found;
  return {};
}

void TaskContext::reset() {
  if (!store) store = std::make_unique<ResultStore>();
  store->setProbe(probe);
  status.code = StatusCode::None;
  status.value = 0;
  status.foundBytes = 0;
  status.foundCount = 0;
  status.message.clear();
  clearStop();
}

void TaskContext::teardown() {
  if (store) store->close();
  deviceHandle.close();
  fileMap.clear();
  store.reset();
}

void TaskContext::postMessage(TaskObserver& observer, std::string message) {
  status.code = StatusCode::Message;
  status.message = std::move(message);
  notify(observer);
}

}  // namespace norvale
