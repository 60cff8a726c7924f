#pragma once
// The result as the views list it: the channel / day tree of the file map and the file entries
// under one day.
#include <cstdint>
#include <string>
#include <vector>

#include "task/task_context.h"

namespace norvale {

struct DayNode {
  std::uint64_t key = 0;  // file-map key: channel << 32 | day code
  std::string text;       // "%04d年%02d月%02d日", or "所有日期"
};

struct ChannelNode {
  std::uint8_t channel = 0;
  std::string text;  // "通道%d"
  std::vector<DayNode> days;
};

inline constexpr const char* kTreeRootText = "监控录像文件目录";

// Channels in key order, each with its days in key order; empty for an empty file map.
std::vector<ChannelNode> channelTree(const FileMap& fileMap);

// One file of a day: its 0-based position in the file map (how the export finds it again).
struct FileRow {
  std::uint64_t position = 0;
  FileEntry entry;
};

// The file entries stored under exactly this key, in file-map order.
std::vector<FileRow> filesUnderKey(const FileMap& fileMap, std::uint64_t key);

}  // namespace norvale
