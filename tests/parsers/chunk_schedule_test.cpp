#include "parsers/chunk_schedule.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

namespace norvale {
namespace {

// A chunk's log as the walks below fill it: the chunk it belongs to, and whether it is usable.
struct TestLog {
  std::vector<std::size_t> steps;
  bool usable = false;
  void clear() {
    steps.clear();
    usable = false;
  }
};

using Schedule = ChunkSchedule<TestLog>;

// A walk that logs its chunk and counts what it saw: walks made, and logs handed to it that were
// not empty, or were empty but had memory kept from an earlier chunk.
struct Counts {
  std::atomic<int> walks{0};
  std::atomic<int> dirtyLogs{0};
  std::atomic<int> reusedLogs{0};
};

Schedule::Walk countingWalk(Counts& counts, std::size_t unusable = SIZE_MAX) {
  return [&counts, unusable](std::size_t k, TestLog& log, const std::atomic<bool>&) {
    if (!log.steps.empty() || log.usable) ++counts.dirtyLogs;
    if (log.steps.capacity() != 0) ++counts.reusedLogs;
    log.steps.push_back(k);
    log.usable = k != unusable;
    ++counts.walks;
  };
}

TEST(ChunkScheduleTest, HandsEveryChunkOverOnceInOrderWithEmptiedSpareLogs) {
  constexpr std::size_t kChunks = 40;
  Counts counts;
  Schedule schedule(kChunks, 2, [&] { return countingWalk(counts); });
  for (std::size_t k = 0; k < kChunks; ++k) {
    const TestLog& log = schedule.await(k);
    ASSERT_EQ(log.steps, std::vector<std::size_t>{k});
    EXPECT_TRUE(log.usable);
    schedule.release(k);
  }
  schedule.stop();
  EXPECT_EQ(counts.walks, static_cast<int>(kChunks));
  EXPECT_EQ(counts.dirtyLogs, 0) << "a given-back log reached a walk without being emptied";
  // Every chunk past the first few is claimed after a release, so it walks into a kept log.
  EXPECT_GE(counts.reusedLogs, static_cast<int>(kChunks - Schedule::chunksAhead(2)));
}

// A chunk whose walk found it unusable is handed over like any other (the joiner then walks its
// bytes itself); the chunks after it come in order, and its log is reused emptied.
TEST(ChunkScheduleTest, HandsAnUnusableChunkOverAndGoesOn) {
  constexpr std::size_t kChunks = 12;
  Counts counts;
  Schedule schedule(kChunks, 2, [&] { return countingWalk(counts, 1); });
  for (std::size_t k = 0; k < kChunks; ++k) {
    const TestLog& log = schedule.await(k);
    EXPECT_EQ(log.usable, k != 1) << "chunk " << k;
    EXPECT_EQ(log.steps, std::vector<std::size_t>{k});
    schedule.release(k);
  }
  EXPECT_EQ(counts.dirtyLogs, 0);
}

TEST(ChunkScheduleTest, ChunkDoneBeforeAnEarlierOneStillComesAfterIt) {
  std::latch twoDone(1);
  std::mutex mutex;
  std::vector<std::size_t> finished;
  Schedule schedule(4, 2, [&]() -> Schedule::Walk {
    return [&](std::size_t k, TestLog& log, const std::atomic<bool>&) {
      if (k == 1) twoDone.wait();  // the other worker takes chunk 2 meanwhile
      log.steps.push_back(k);
      log.usable = true;
      std::lock_guard lock(mutex);
      finished.push_back(k);
      if (k == 2) twoDone.count_down();
    };
  });
  for (std::size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(schedule.await(k).steps, std::vector<std::size_t>{k});
    schedule.release(k);
  }
  schedule.stop();
  std::vector<std::size_t> twoThenOne;
  for (std::size_t k : finished)
    if (k == 1 || k == 2) twoThenOne.push_back(k);
  EXPECT_EQ(twoThenOne, (std::vector<std::size_t>{2, 1}));
}

TEST(ChunkScheduleTest, StopsWorkersThatWaitForTheJoiner) {
  Counts counts;
  {
    Schedule schedule(50, 2, [&] { return countingWalk(counts); });
    (void)schedule.await(0);
    while (counts.walks < static_cast<int>(Schedule::chunksAhead(2))) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    schedule.stop();  // both workers wait for a release that never comes
  }
  EXPECT_EQ(counts.walks, static_cast<int>(Schedule::chunksAhead(2))) << "workers ran ahead of the joiner";
}

TEST(ChunkScheduleTest, StopReachesWalksUnderWayAndJoinsTheirWorkers) {
  std::latch bothWalking(2);
  std::atomic<int> sawAbort{0};
  std::atomic<int> walks{0};
  {
    Schedule schedule(10, 2, [&]() -> Schedule::Walk {
      return [&](std::size_t, TestLog&, const std::atomic<bool>& abort) {
        ++walks;
        bothWalking.count_down();
        while (!abort.load()) std::this_thread::yield();
        ++sawAbort;
      };
    });
    bothWalking.wait();
    // No explicit stop: leaving the scope (a joiner that failed) must stop and join as well.
  }
  EXPECT_EQ(sawAbort, 2);
  EXPECT_EQ(walks, 2) << "no chunk is claimed after the stop";
}

}  // namespace
}  // namespace norvale
