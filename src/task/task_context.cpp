#include "task/task_context.h"

#include <cstdlib>

#include "parsers/brand_parser.h"
#include "parsers/brand_table.h"
#include "task/result_store.h"

namespace norvale {

std::string defaultTaskRoot() {
#ifdef _WIN32
  return "C:\\Norvale";
#else
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/Norvale";
#endif
}

TaskContext::TaskContext() : parsers(static_cast<std::size_t>(parserSlotCount())) { settings.taskRoot = defaultTaskRoot(); }

TaskContext::~TaskContext() { teardown(); }

void TaskContext::copyHead(const TaskHead& head) {
  notifyTarget = head.notify;
  stopFlag.store(head.stopFlag);
  parseMode = head.parseMode;
  brand = head.brand;
  startOffset = head.startOffset;
  length = head.length;
  endSector = head.endSector;
  taskFolder = head.taskFolder;
  device = head.device;
  scan = head.scan;
  recorderZone = head.recorderZone;
  clockCorrection = head.clockCorrection;
  checkpoint = head.checkpoint;
  years = head.years;
  zone = nullptr;
}

TaskHead TaskContext::head() const {
  return TaskHead{notifyTarget, stopFlag.load(), parseMode, brand, startOffset, length,
                  endSector, taskFolder, device, scan, recorderZone, clockCorrection, checkpoint, years};
}

TimeConvention TaskContext::timeConvention() const {
  TimeConvention convention = timeConventionFor(brand, parseMode);
  convention.zone = zone;
  // A head copied in but not yet run or loaded still names its zone: never read it as the
  // workstation's.
  if (!zone && !recorderZone.empty())
    if (auto found = TimeZone::named(recorderZone)) convention.zone = *found;
  convention.correction = clockCorrection;
  return convention;
}

Result<void> TaskContext::findZone() {
  zone = nullptr;
  if (recorderZone.empty()) return {};
  auto found = TimeZone::named(recorderZone);
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
  stopFlag.store(0);
}

void TaskContext::teardown() {
  identificationCandidates.clear();
  identificationResult.clear();
  if (store) store->close();
  deviceHandle.close();
  fileMap.clear();
  store.reset();
  for (auto& parser : parsers) parser.reset();
}

void TaskContext::createAll() {
  if (!store) store = std::make_unique<ResultStore>();
  for (const auto& row : brandTable()) {
    auto& slot = parsers[row.slot];
    if (!slot) slot = row.create();
  }
}

void TaskContext::notify() {
  if (notifyTarget) notifyTarget->onTaskStatus(status);
}

void TaskContext::postMessage(std::string message) {
  status.code = StatusCode::Message;
  status.message = std::move(message);
  notify();
}

BrandParser* TaskContext::parserForBrand() {
  const BrandRow* row = findBrand(brand);
  if (!row) return nullptr;
  auto& slot = parsers[row->slot];
  if (!slot) slot = row->create();
  return slot.get();
}

}  // namespace norvale
