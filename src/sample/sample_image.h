#pragma once
// The built-in sample: a small recorder disk image in the multi-brand packet format (the ids of
// sampleBrandRow()), carrying a real H.264 clip on several channels and days. Used by the README
// demo, the tests and the benchmark.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/error.h"
#include "parsers/brand_table.h"

namespace norvale::sample {

// The brand table's row of the design the sample is written in; its ids scan the sample.
const BrandRow& sampleBrandRow();
// Its ids as the texts name them: "first-last".
std::string sampleBrandRange();

// The committed H.264 clip (Annex B byte stream).
std::span<const std::uint8_t> clip();

// NAL unit bodies of an Annex B stream, without their start codes (3- or 4-byte).
std::vector<std::span<const std::uint8_t>> splitNalUnits(std::span<const std::uint8_t> annexB);

// Appends one multi-brand packet: a 66-byte header (channel byte, payload size S, capture time,
// start code at 43) followed by the payload that the parser keeps; S = payload size + 22.
void appendMultiBrandPacket(std::vector<std::uint8_t>& out, std::uint8_t channelByte,
                            std::uint32_t captureTime, std::span<const std::uint8_t> payload);

// A header-only marker that satisfies the follower check of the packet before it.
void appendFollowerMarker(std::vector<std::uint8_t>& out);

// Seconds since 1970 of a local wall-clock time (the recorders write local time).
std::uint32_t localEpoch(int year, int month, int day, int hour, int minute, int second);

struct SampleLayout {
  int channels = 4;
  int days = 3;                 // consecutive days from the first
  int firstYear = 2016, firstMonth = 5, firstDay = 17;
  std::vector<int> recordingHours{8, 20};  // one recording per hour listed, every day
  int framesPerSecond = 25;
  std::uint32_t seed = 1;       // garbage between recordings
};

// One recording as it lies in the image: where its packets begin and end.
struct SampleRecording {
  int day = 0;
  int hour = 0;
  std::uint32_t startTime = 0;  // capture time of the first frame
  std::uint32_t endTime = 0;    // capture time of the last frame
};

struct SampleImage {
  std::vector<std::uint8_t> bytes;
  std::vector<SampleRecording> recordings;
};

// Builds the image in memory; the result depends only on the layout and the local time zone.
SampleImage buildSampleImage(const SampleLayout& layout = {});

// Writes the default sample image to path.
Result<std::uint64_t> writeSampleImage(const std::string& path, const SampleLayout& layout = {});

}  // namespace norvale::sample
