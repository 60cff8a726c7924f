#include "task/command_worker.h"

namespace norvale {

CommandWorker::~CommandWorker() { wait(); }

bool CommandWorker::start(std::function<void()> body) {
  bool expected = false;
  if (!m_busy.compare_exchange_strong(expected, true)) return false;
  if (m_thread.joinable()) m_thread.join();  // the previous body has finished already
  m_thread = std::thread([this, body = std::move(body)] {
    body();
    m_busy.store(false);
  });
  return true;
}

void CommandWorker::wait() {
  if (m_thread.joinable()) m_thread.join();
}

void CommandWorker::abandon() {
  if (m_thread.joinable()) m_thread.detach();
}

}  // namespace norvale
