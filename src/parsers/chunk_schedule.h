#pragma once
// The workers of a walk cut into chunks: they walk chunks in order, each into a log of its own,
// never more than a few chunks ahead of the one joiner, which takes the logs over in chunk order.
// Logs the joiner gives back keep their memory for the chunks still to come.
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace norvale {

// Log: default-constructible and movable, with clear() emptying it while keeping its memory.
template <typename Log>
class ChunkSchedule {
 public:
  // A worker's walk of one chunk into an empty log; it may end early once abort is set.
  using Walk = std::move_only_function<void(std::size_t chunk, Log& log, const std::atomic<bool>& abort)>;

  // Starts `threads` (at least 1) workers over chunks 0..chunks-1. makeWalk runs here, on the
  // calling thread, once per worker: what a walk keeps to itself (a device handle, its memory)
  // is made there.
  ChunkSchedule(std::size_t chunks, int threads, const std::function<Walk()>& makeWalk)
      : m_slots(chunks), m_ahead(chunksAhead(threads)) {
    assert(threads >= 1);
    try {
      for (int w = 0; w < threads; ++w) m_workers.emplace_back([this, walk = makeWalk()]() mutable { work(walk); });
    } catch (...) {
      stop();
      throw;
    }
  }
  ~ChunkSchedule() { stop(); }
  ChunkSchedule(const ChunkSchedule&) = delete;
  ChunkSchedule& operator=(const ChunkSchedule&) = delete;

  // How far ahead of the joiner the workers may claim chunks: one each and two more in reserve.
  static constexpr std::size_t chunksAhead(int threads) { return static_cast<std::size_t>(threads) + 2; }

  // The log of chunk k, the first chunk not released yet, once its walk is done (waits until then).
  // It stays valid and unchanged until release(k). Not after stop().
  const Log& await(std::size_t k) {
    assert(k == m_joined && k < m_slots.size());
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_slots[k].done; });
    return m_slots[k].log;
  }
  // The joiner is done with chunk k, awaited before: its log is emptied for a later chunk, and
  // a worker may claim one more chunk.
  void release(std::size_t k) {
    assert(k == m_joined && k < m_slots.size());
    std::lock_guard lock(m_mutex);
    assert(m_slots[k].done);
    Slot& slot = m_slots[k];
    slot.log.clear();
    m_spare.push_back(std::move(slot.log));
    slot.log = Log{};
    m_joined = k + 1;
    m_changed.notify_all();
  }
  // Tells the workers to stop (walks under way see abort) and joins them. Logs not awaited are
  // left as they are.
  void stop() {
    {
      std::lock_guard lock(m_mutex);
      m_abort = true;
      m_changed.notify_all();
    }
    for (auto& w : m_workers)
      if (w.joinable()) w.join();
  }

 private:
  struct Slot {
    Log log;
    bool done = false;
  };

  void work(Walk& walk) {
    for (;;) {
      std::size_t k = 0;
      Log log;
      {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_abort || m_claimed >= m_slots.size() || m_claimed < m_joined + m_ahead; });
        if (m_abort || m_claimed >= m_slots.size()) return;
        k = m_claimed++;
        if (!m_spare.empty()) {
          log = std::move(m_spare.back());
          m_spare.pop_back();
        }
      }
      walk(k, log, m_abort);
      std::lock_guard lock(m_mutex);
      m_slots[k].log = std::move(log);
      m_slots[k].done = true;
      m_changed.notify_all();
    }
  }

  std::vector<Slot> m_slots;
  const std::size_t m_ahead;
  std::vector<Log> m_spare;  // logs given back, their memory kept for the next chunks
  std::size_t m_claimed = 0;  // chunks handed to workers
  std::size_t m_joined = 0;   // chunks released by the joiner
  std::atomic<bool> m_abort{false};
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::thread> m_workers;  // last: they start once everything above is made
};

}  // namespace norvale
