#pragma once
// How a brand's found segments become files once the scan is over: the result store's passes,
// in order. Each row of the brand table names one plan per parse mode; the store carries it out.
#include <array>
#include <cstddef>
#include <cstdint>

namespace norvale {

enum class RebuildStep : std::uint8_t {
  ReadIndex,             // read the run index of the raw segment file, ordered by key
  SortPass,              // each key's records by start time into the sorted segment file
  UnsortedPass,          // each key's records as found into the sorted segment file
  GroupByJoinRule,       // join into file entries: channel, size limit and the brand's join rule
  GroupWithoutJoinRule,  // channel and size limit
  GroupWithoutChannel,   // size limit only; other-kind records join whatever their channel
};

struct RebuildPlan {
  std::array<RebuildStep, 3> steps{};
  std::size_t count = 0;  // 0: the files were formed while scanning

  constexpr RebuildPlan() = default;
  constexpr RebuildPlan(RebuildStep a) : steps{a}, count(1) {}
  constexpr RebuildPlan(RebuildStep a, RebuildStep b, RebuildStep c) : steps{a, b, c}, count(3) {}
  constexpr const RebuildStep* begin() const { return steps.data(); }
  constexpr const RebuildStep* end() const { return steps.data() + count; }
};

// Keyed records sorted by time and joined by the brand's rule: what most designs need.
inline constexpr RebuildPlan kSortAndJoin{RebuildStep::ReadIndex, RebuildStep::SortPass, RebuildStep::GroupByJoinRule};
// Keyed records in the order found, joined by channel and size.
inline constexpr RebuildPlan kUnsortedJoin{RebuildStep::ReadIndex, RebuildStep::UnsortedPass,
                                           RebuildStep::GroupWithoutJoinRule};
// The arrival list joined by size alone.
inline constexpr RebuildPlan kJoinArrivals{RebuildStep::GroupWithoutChannel};
// Nothing left to do: the scan wrote its file entries itself.
inline constexpr RebuildPlan kFormedWhileScanning{};

}  // namespace norvale
