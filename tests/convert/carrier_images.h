#pragma once
// Recorder images and exported files that carry the sample clip's H.264 in each brand's own
// carrier, for the conversion suites; and the checks that read the MP4s back with ffprobe.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/scan_harness.h"
#include "support/test_support.h"
#include "convert/converter.h"
#include "task/task_context.h"

namespace norvale::test {

// The clip's access units (each frame's NAL units behind 4-byte start codes), in order.
struct ClipFrame {
  std::vector<std::uint8_t> bytes;
  bool key = false;
};
std::vector<ClipFrame> clipFrames();
inline constexpr int kClipFrames = 200;
inline constexpr int kClipKeyFrames = 8;
inline constexpr int kClipRate = 25;
inline constexpr int kClipWidth = 352;
inline constexpr int kClipHeight = 288;

// A recording: its pictures and the G.711 A-law audio beside them.
struct Clip {
  std::vector<ClipFrame> frames;
  std::vector<std::uint8_t> audio;  // 8000 bytes a second, 320 beside each picture; empty: none
  int lead = 0;                     // pictures of the first recorded second before the clip
  bool bFrames = false;
  int startSecond = 8 * 3600;       // the first recorded second, from 2016-05-17 00:00:00
};
inline constexpr int kAudioPerFrame = 8000 / kClipRate;
// The sample clip, without audio, from the start of a second.
Clip sampleClip();
// A clip encoded now by the ffmpeg program (libx264, 160x120, 25 fps, a key picture every 25,
// with or without B pictures) with A-law audio of a tone; empty frames when ffmpeg cannot.
Clip encodedClip(int seconds, bool bFrames, int lead);
// The recorder's time of picture k: whole seconds from the clip's start second, `lead` pictures in.
std::uint32_t clipTime(const Clip& clip, std::size_t k);

// The clip in each carrier, frame k recorded at second (k + lead) / 25 after the start, with
// the clip's audio in the carrier's audio packets.
std::vector<std::uint8_t> programStreamFile(bool audioOnly = false);  // brand 1
std::vector<std::uint8_t> programStreamFile(const Clip& clip);
std::vector<std::uint8_t> dhavFile();                                 // brand 2
std::vector<std::uint8_t> dhavFile(const Clip& clip);
std::vector<std::uint8_t> wfsFile();                                  // brand 3
std::vector<std::uint8_t> wfsFile(const Clip& clip);
// dhavFile() with another brand's frame magic (four capitals; the tail magic in lower case).
std::vector<std::uint8_t> dhavFileAs(const char* magic);
// The clip's access units as a raw Annex B stream, as brands of a raw-stream carrier export it.
std::vector<std::uint8_t> rawStreamFile();
// Brand 18's packets (one a picture, the record times timing the raw stream), from a second
// boundary on.
std::vector<std::uint8_t> multiBrandFile(const Clip& clip);
// Brand 3 with an FA (G.711 audio) packet of the given payload before each frame.
std::vector<std::uint8_t> wfsFileWithAudio(const std::vector<std::uint8_t>& audio);
std::vector<std::uint8_t> jvsFile();                                  // brand 4
std::vector<std::uint8_t> boliFile();                                 // brand 8
// Brands whose packets are a header and the coded video: 5, 6, 12, 13, 14, 15, 16, 17.
std::vector<std::uint8_t> headeredFile(std::uint8_t brand);
// An MPEG-4 Part 2 elementary stream (visual object sequence and VOPs), as a brand 18-48
// export of such a recorder would hold.
std::vector<std::uint8_t> mpeg4Stream();

// A task scanned from an image (deep mode), opened again with the image as its source.
struct OpenTask {
  TempDir dir;
  std::vector<std::uint8_t> image;
  ScanOutcome scanned;
  RecordingObserver observer;
  std::unique_ptr<TaskContext> task;
  std::vector<std::uint64_t> all() const;
};
// The image is scanned as a task in a temp folder; the source may have bad sectors.
std::unique_ptr<OpenTask> scanAndOpen(std::vector<std::uint8_t> image, std::uint8_t brand,
                                      const std::vector<std::uint64_t>& badSectors = {}, const std::string& zone = {},
                                      const YearWindow& years = {});
// Reopens the task against another image (the same one damaged after the scan).
void reopen(OpenTask& open, const std::vector<std::uint8_t>& image);
// An image holding one file: foreign bytes, the file, foreign bytes, in whole sectors.
std::vector<std::uint8_t> imageWith(const std::vector<std::uint8_t>& file);
// The image of one file scanned and its one file converted; the conversion reads `damaged` (a
// copy of the file damaged after the scan) in its place when given. Null when the scan did not
// find exactly one file or the conversion failed as a whole.
struct ConvertedImage {
  std::unique_ptr<OpenTask> open;
  TempDir out;
  convert::ConvertedFile file;
};
std::unique_ptr<ConvertedImage> scanAndConvert(const std::vector<std::uint8_t>& file, std::uint8_t brand,
                                               const std::vector<std::uint8_t>* damaged = nullptr);

// What ffprobe reads from a file, counting the frames by decoding their headers.
struct Probe {
  std::string codec;
  int width = 0, height = 0;
  int frames = 0;
  double duration = 0;
  std::string creationTime;
};
bool haveTool(const char* name);
std::optional<Probe> probe(const std::string& path);
// The video packets' presentation and decode times in seconds, in file (decode) order.
struct PacketTime {
  double pts = 0, dts = 0;
};
std::vector<PacketTime> videoPacketTimes(const std::string& path);
// A stream's codec, start and duration in seconds, by ffprobe ("v:0", "a:0"); empty when the
// file has no such stream.
struct StreamTimes {
  std::string codec;
  double start = 0, duration = 0;
};
std::optional<StreamTimes> streamTimes(const std::string& path, const char* stream);
// The loudness (RMS of 16-bit samples) of each 1/25 s of the first audio track, decoded by ffmpeg
// to 8000 Hz mono.
std::vector<double> audioLoudness(const std::string& path);
// A frame-time CSV: its header line, and each line after it split at its commas.
struct FrameTimes {
  std::string header;
  std::vector<std::vector<std::string>> rows;
};
FrameTimes readFrameTimes(const std::string& path);
// The file's first subtitle track as SubRip text (empty when it has none).
std::string subtitleText(const std::string& path);
// What `ffmpeg -v error -i F -f null -` prints (empty for a clean file).
std::string decodeErrors(const std::string& path);
// A raw H.265 stream of `seconds` s at 25 frames per second, a key picture every 25, with or
// without B frames, made by ffmpeg's libx265 encoder; empty when that is not installed.
std::vector<std::uint8_t> hevcStream(int seconds, bool bFrames = false);
// Runs a shell command in a folder; its exit code.
int runIn(const std::string& folder, const std::string& command);

}  // namespace norvale::test
