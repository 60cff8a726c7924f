#pragma once
// Reads the video of one recovered file: walks the file's bytes in the carrier of its brand
// (raw Annex B, program stream, framed packets) and yields access units with the recorder's
// time. Bytes that are no packet are skipped and counted; a payload that is not H.264/H.265 is
// named, never passed on as video.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "convert/annexb.h"
#include "convert/packet_source.h"
#include "storage/byte_source.h"
#include "format/time_convention.h"

namespace norvale::convert {

// Which walk reads brands that FFmpeg also has a demuxer for (the rows whose conversion layout
// names one).
enum class WalkKind { Own, Library };

struct StreamInput {
  ByteSource* bytes = nullptr;  // the file's bytes, as export writes them
  std::uint8_t brand = 0;
  std::uint8_t parseMode = 0;
  TimeConvention convention;    // of the task: turns time values into calendar seconds
  DecoderSettings decoding;     // of the task: how the packet test reads times
  std::uint32_t entryStart = 0; // the file entry's times, brand time values (0: none)
  std::uint32_t entryEnd = 0;
  // Record starts and times inside the file (from the task), for carriers without own times.
  std::vector<std::pair<std::uint64_t, std::uint32_t>> pieceTimes;
  const std::atomic<std::uint32_t>* stop = nullptr;
  std::function<void(std::uint64_t)> progress;  // bytes of the file walked so far
  // The device offset of a file offset; null: the bytes are a file of their own.
  std::function<std::uint64_t(std::uint64_t)> deviceOffset;
  WalkKind walk = WalkKind::Own;
  // Where the walk begins in the file (a record's start); the bytes before it are not read.
  std::uint64_t startOffset = 0;
};

struct StreamSummary {
  VideoCodec codec = VideoCodec::Unknown;
  std::string unsupported;        // "unsupported payload: ..." when no video could be read
  std::uint64_t skippedBytes = 0; // no packet, damaged units, unreadable bytes
  std::uint64_t lostUnits = 0;    // access units dropped after the first key unit
  std::uint64_t leadingUnits = 0; // dropped before the first key unit
  std::uint64_t losses = 0;       // places where the stream broke
  std::uint64_t units = 0;        // passed on
  bool exactTimes = false;        // unit times are exact (else whole seconds, or none)
  bool stopped = false;           // the sink or the stop flag ended the walk
};

// The sink returns false to end the walk early.
using UnitSink = std::function<bool(AccessUnit&&)>;

// What a carrier says its audio is.
enum class AudioFormat { Alaw, Mulaw, Pcm16, Aac, Other };

// One packet of the recorder's audio, as its carrier holds it.
struct AudioPacket {
  AudioFormat format = AudioFormat::Other;
  std::string name;  // the codec found: "pcm_alaw", "pcm_mulaw", "pcm_s16le", "aac", or what the carrier calls it
  int sampleRate = 8000;
  int channels = 1;
  std::span<const std::uint8_t> payload;
  std::uint64_t origin = 0;  // file offset of the packet
};
using AudioSink = std::function<void(const AudioPacket&)>;

// Does a stream reader exist for the brand?
bool hasStreamReader(std::uint8_t brand);

// Audio packets go to `audio` in file order, between the units around them.
StreamSummary readStream(const StreamInput& input, const UnitSink& sink, const AudioSink& audio = {});

// Seconds since 1970 of calendar fields read as UTC (the recorders' wall clock, no zone).
std::optional<double> calendarSeconds(const TimeConvention& convention, std::uint32_t time);

}  // namespace norvale::convert
