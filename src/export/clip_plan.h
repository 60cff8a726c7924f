#pragma once
// What a clip of a time window takes from the file map: for each channel the file entries that
// overlap the window, the part of each that falls in it, the entries set aside because an
// earlier recording of the channel already covers their time, and the spans with and without
// recordings. Pure: it reads the file map and the time convention only.
//
// Times are those the listings show (the recorder's zone, the clock correction applied), as
// seconds on the plain Gregorian calendar (civilSeconds). A file entry covers the seconds from
// its start to its end inclusive: its last pictures carry the end time.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "format/records.h"
#include "format/time_convention.h"

namespace norvale {

// Seconds [from, to) of shown time.
struct ClipSpan {
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::int64_t seconds() const { return to - from; }
  bool operator==(const ClipSpan&) const = default;
};

// A file entry the clip uses, with the part of the window it provides.
struct ClipEntry {
  std::uint64_t position = 0;  // in the file map, 0-based
  FileEntry entry;
  ClipSpan recorded;  // the whole entry in shown time
  ClipSpan used;      // the part of the window taken from this entry
};

// Time of an entry the clip does not take because another entry of the channel, which started
// earlier, already provides it. An entry that reaches past the other is used for the rest and
// appears among the used entries too.
struct SetAsideEntry {
  std::uint64_t position = 0;
  FileEntry entry;
  ClipSpan span;                 // the time set aside, within the window
  std::uint64_t usedInstead = 0;  // position of the entry whose pictures cover that time
};

struct ClipPlan {
  std::uint8_t channel = 0;
  ClipSpan window;
  std::vector<ClipEntry> entries;  // in time order
  std::vector<SetAsideEntry> setAside;
  std::vector<ClipSpan> covered;  // spans with recordings, merged, in time order
  std::vector<ClipSpan> gaps;     // spans of the window without
  // Entries of the channel whose times have no date: they cannot be placed in any window.
  std::vector<std::uint64_t> undated;
  // "CHnn_<from>_<to>.mp4" with the window's compact times.
  std::string fileName;

  // A channel with nothing in the window gets no file.
  bool hasRecordings() const { return !entries.empty(); }
};

struct ClipRequest {
  std::string from;  // "YYYY-MM-DD HH:MM:SS", shown time
  std::string to;
  std::vector<std::uint8_t> channels;  // empty: every channel of the task
};

// "YYYY-MM-DD HH:MM:SS" with every field in its range; an error that names the text otherwise.
Result<CalendarTime> parseShownTime(std::string_view text);
// Shown seconds of a recorder time; empty when the brand has no date for it.
std::optional<std::int64_t> shownSeconds(const TimeConvention& convention, std::uint32_t time);
// The shown seconds an entry covers: start to end inclusive; empty when the brand has no date
// for its times.
std::optional<ClipSpan> recordedSpan(const TimeConvention& convention, const FileEntry& entry);
// "YYYYMMDD-HHMMSS" of shown seconds, as the export's file names write times.
std::string compactTime(std::int64_t shownSeconds);
// "YYYY-MM-DD HH:MM:SS" of shown seconds, as the window is given.
std::string windowTimeText(std::int64_t shownSeconds);

// One plan per channel (every channel of the file map in channel order, or those asked for in
// the order asked). InvalidArgument with a message fit for the user: a time that does not
// parse, a window that does not end after it starts, a channel the task does not have.
Result<std::vector<ClipPlan>> planClips(const FileMap& fileMap, const TimeConvention& convention,
                                        const ClipRequest& request);

// The same for a window already in shown seconds.
Result<std::vector<ClipPlan>> planClips(const FileMap& fileMap, const TimeConvention& convention, ClipSpan window,
                                        const std::vector<std::uint8_t>& channels);

}  // namespace norvale
