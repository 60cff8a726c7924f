#include "task/result_listing.h"

#include <iterator>

#include "format/time_convention.h"

namespace norvale {

std::vector<ChannelNode> channelTree(const FileMap& fileMap) {
  std::vector<ChannelNode> channels;
  for (auto it = fileMap.begin(); it != fileMap.end(); it = fileMap.upper_bound(it->first)) {
    // The channel of the key is its low byte of the upper half, as the tree shows it.
    const auto channel = static_cast<std::uint8_t>(it->first >> 32);
    const auto day = static_cast<std::uint32_t>(it->first);
    if (channels.empty() || channels.back().channel != channel)
      channels.push_back({channel, "通道" + std::to_string(channel), {}});
    channels.back().days.push_back({it->first, dayText(day)});
  }
  return channels;
}

std::vector<FileRow> filesUnderKey(const FileMap& fileMap, std::uint64_t key) {
  std::vector<FileRow> rows;
  auto [first, last] = fileMap.equal_range(key);
  std::uint64_t position = static_cast<std::uint64_t>(std::distance(fileMap.begin(), first));
  for (auto it = first; it != last; ++it) rows.push_back({position++, it->second});
  return rows;
}

}  // namespace norvale
