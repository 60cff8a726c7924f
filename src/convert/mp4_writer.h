#pragma once
// MP4 files by stream copy with FFmpeg's mp4 muxer: Annex B access units go in as they are
// (the muxer turns them and the parameter sets into the length-prefixed form MP4 keeps),
// times in 1/90000 s, the moov box moved to the front so players open and seek at once.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/error.h"
#include "convert/annexb.h"

namespace norvale::convert {

inline constexpr int kTimeBase = 90000;

// An AAC audio track: its sample rate, channels and AudioSpecificConfig.
struct AudioStreamInfo {
  int sampleRate = 8000;
  int channels = 1;
  std::vector<std::uint8_t> config;
};

struct Mp4Header {
  VideoCodec codec = VideoCodec::H264;
  std::vector<std::uint8_t> parameterSets;  // Annex B SPS/PPS (and VPS)
  int width = 0;
  int height = 0;
  std::string creationTime;  // ISO 8601 UTC; empty: no tag
  bool clockTrack = false;   // a mov_text subtitle track for writeCue
  std::optional<AudioStreamInfo> audio;  // an AAC track for writeAudio
};

class Mp4Writer {
 public:
  Mp4Writer();
  ~Mp4Writer();  // an unfinished file is closed and removed
  Mp4Writer(const Mp4Writer&) = delete;
  Mp4Writer& operator=(const Mp4Writer&) = delete;

  Result<void> open(const std::string& path, const Mp4Header& header);
  // Units in decode order; times in 1/90000 s. dts must grow and stay at or below pts.
  // WriteFailed when the file could not take it (the file is lost), Corrupt when only the frame
  // was refused.
  Result<void> write(const AccessUnit& unit, std::int64_t pts, std::int64_t dts, std::int64_t duration);
  // A subtitle cue (UTF-8) on the clock track, times in 1/90000 s; cues in time order.
  // An AAC frame, times in 1/sampleRate.
  Result<void> writeAudio(std::span<const std::uint8_t> frame, std::int64_t pts, std::int64_t duration);
  Result<void> writeCue(const std::string& text, std::int64_t pts, std::int64_t duration);
  Result<void> finish();

 private:
  struct State;
  static Result<void> sendPacket(State& s, const char* what);
  std::unique_ptr<State> m_state;
};

}  // namespace norvale::convert
