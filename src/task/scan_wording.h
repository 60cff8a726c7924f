#pragma once
// The words of a scan's notices, as the log shows them.
#include <cstdint>
#include <string>

#include "parsers/scan_notice.h"

namespace norvale {

inline constexpr const char* kUnreadableBlockText = "读取源设备失败,可能存在坏道";
inline constexpr const char* kSourceGoneText = "源设备已断开,扫描已停止";

// The line of one stretch of unreadable reads: the bad-block text, its first sector and its
// length in sectors.
std::string unreadableStretchText(std::uint64_t firstSector, std::uint64_t sectors);
// The quick scan of a brand found no index of its design: the recorder it is not, and the advice
// to scan deep. Empty for a brand without an index of its own.
std::string noRecorderIndexText(std::uint8_t brand);
// The line the log shows for a notice.
std::string scanNoticeText(const ScanNotice& notice);

}  // namespace norvale
