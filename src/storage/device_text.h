#pragma once
// Text helpers of the disk enumeration that do not depend on the platform: the model text and
// serial number rules and the Linux mount table, kept here so that they are tested
// on every platform.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvale {

// Leading and trailing white space cut.
std::string trimText(std::string_view text);

// Every space removed, at most 255 characters kept (the serial number rule).
std::string removeSpaces(std::string_view text);

// The device list's model text: vendor, product and revision, each trimmed, joined without
// separators.
std::string joinModelText(std::string_view vendor, std::string_view product, std::string_view revision);

// A text of the Windows storage descriptor at a byte offset (0 = none): read first as hex digit
// pairs (lower-cased, spaces as the digit 0) when every pair is a printable character or 0,
// otherwise the plain printable characters up to the terminating 0 (empty when there is no 0
// before the descriptor's end); trimmed.
std::string decodeDescriptorText(std::span<const std::uint8_t> descriptor, std::uint32_t offset);

// The serial number in raw ATA IDENTIFY data (256 little-endian words): words 10..19, each
// word's two bytes swapped, trailing spaces cut. Empty when the data is shorter.
std::string ataIdentifySerial(std::span<const std::uint8_t> identify);

// The serial number of a SCSI "unit serial number" VPD page (0x80) as sysfs keeps it in
// vpd_pg80; empty when the page is not one.
std::string scsiUnitSerial(std::span<const std::uint8_t> page);

// One line of /proc/self/mountinfo.
struct MountEntry {
  unsigned major = 0;
  unsigned minor = 0;
  std::string root;        // the mounted folder of the file system ("/" for the whole of it)
  std::string mountPoint;  // with the \ooo escapes decoded
};

// Parses the mountinfo text; malformed lines are skipped.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// Orders kernel device names naturally: runs of digits compare by value ("sd2" < "sd10").
bool naturalLess(std::string_view a, std::string_view b);

}  // namespace norvale
