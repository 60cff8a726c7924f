#include "convert/carrier_images.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <fstream>

#include "base/byte_reader.h"
#include "sample/sample_image.h"
#include "support/frame_parser_support.h"
#include "support/index_table_images.h"
#include "task/task_runner.h"

namespace norvale::test {

namespace {
constexpr std::uint8_t kStart4[4] = {0, 0, 0, 1};


void putBe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

void be16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}

std::string capture(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
  pclose(pipe);
  return out;
}

// A pack header of 20 bytes (MPEG-2, six stuffing bytes), as the recorders write it.
void appendPack(std::vector<std::uint8_t>& out) {
  const std::uint8_t pack[20] = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 0, 0, 3, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  out.insert(out.end(), pack, pack + 20);
}

// A stream map naming one stream, with the recorder's time in its descriptor bytes 16..20.
// A stream map naming one stream, and with audioType a G.711 audio stream 0xC0 beside it.
void appendStreamMap(std::vector<std::uint8_t>& out, std::uint32_t time, std::uint8_t streamType, std::uint8_t streamId,
                     std::uint8_t audioType = 0) {
  std::vector<std::uint8_t> m(audioType ? 40 : 36, 0);
  m[2] = 1, m[3] = 0xBC;
  be16(&m[4], static_cast<std::uint32_t>(m.size() - 6));
  m[6] = 0x80, m[7] = 0x01;
  be16(&m[8], 14);  // descriptors: bytes 10..23 (the time lies in them)
  putBe32(&m[16], time >> 2);
  m[20] = static_cast<std::uint8_t>((time & 3) << 6);
  be16(&m[24], audioType ? 8 : 4);
  m[26] = streamType, m[27] = streamId;
  if (audioType) m[30] = audioType, m[31] = 0xC0;
  out.insert(out.end(), m.begin(), m.end());
}

void appendPes(std::vector<std::uint8_t>& out, std::uint8_t id, const std::vector<std::uint8_t>& payload) {
  for (std::size_t at = 0; at < payload.size();) {
    const std::size_t n = std::min<std::size_t>(60000, payload.size() - at);
    std::vector<std::uint8_t> h = {0, 0, 1, id, 0, 0, 0x80, 0x00, 0};
    be16(&h[4], static_cast<std::uint32_t>(n + 3));
    out.insert(out.end(), h.begin(), h.end());
    out.insert(out.end(), payload.begin() + static_cast<std::ptrdiff_t>(at), payload.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
  }
}

// The audio beside picture k.
std::vector<std::uint8_t> audioOf(const Clip& clip, std::size_t k, std::size_t perFrame = kAudioPerFrame) {
  const std::size_t from = k * perFrame;
  if (from + perFrame > clip.audio.size()) return {};
  return std::vector<std::uint8_t>(clip.audio.begin() + static_cast<std::ptrdiff_t>(from),
                                   clip.audio.begin() + static_cast<std::ptrdiff_t>(from + perFrame));
}

// FC packets (key, with time) at keys and second starts, FD packets otherwise, an FA packet
// with the audio before each picture.
std::vector<std::uint8_t> wfsFile(const Clip& clip, std::size_t audioPerFrame) {
  std::vector<std::uint8_t> out;
  for (std::size_t k = 0; k < clip.frames.size(); ++k) {
    if (const auto audio = audioOf(clip, k, audioPerFrame); !audio.empty()) {
      std::vector<std::uint8_t> a(8, 0);
      a[2] = 1, a[3] = 0xFA;
      putLe16(&a[6], static_cast<std::uint16_t>(audio.size()));
      a.insert(a.end(), audio.begin(), audio.end());
      out.insert(out.end(), a.begin(), a.end());
    }
    const auto& b = clip.frames[k].bytes;
    std::vector<std::uint8_t> h;
    if (clip.frames[k].key || (k + static_cast<std::size_t>(clip.lead)) % kClipRate == 0) {
      h.assign(16, 0);
      h[2] = 1, h[3] = 0xFC;
      putLe32(&h[8], clipTime(clip, k));
      putLe32(&h[12], static_cast<std::uint32_t>(b.size()));
    } else {
      h.assign(8, 0);
      h[2] = 1, h[3] = 0xFD;
      putLe32(&h[4], static_cast<std::uint32_t>(b.size()));
    }
    out.insert(out.end(), h.begin(), h.end());
    out.insert(out.end(), b.begin(), b.end());
  }
  const std::uint8_t follower[8] = {0, 0, 1, 0xFA, 0, 0, 0, 0};
  out.insert(out.end(), follower, follower + 8);
  return out;
}

std::vector<ClipFrame> framesOf(std::span<const std::uint8_t> annexB) {
  std::vector<ClipFrame> frames(1);
  for (const auto unit : sample::splitNalUnits(annexB)) {
    ClipFrame& f = frames.back();
    f.bytes.insert(f.bytes.end(), kStart4, kStart4 + 4);
    f.bytes.insert(f.bytes.end(), unit.begin(), unit.end());
    const int type = unit.empty() ? 0 : unit[0] & 0x1F;
    if (type == 5) f.key = true;
    if (type == 1 || type == 5) frames.emplace_back();
  }
  if (frames.back().bytes.empty()) frames.pop_back();
  return frames;
}
}  // namespace

std::vector<ClipFrame> clipFrames() { return framesOf(sample::clip()); }

Clip sampleClip() { return Clip{clipFrames(), {}, 0, false}; }

std::uint32_t clipTime(const Clip& clip, std::size_t k) {
  const int s = clip.startSecond + static_cast<int>((k + static_cast<std::size_t>(clip.lead)) / kClipRate);
  return packed(2016, 5, 17 + s / 86400, s % 86400 / 3600, s % 3600 / 60, s % 60);
}

Clip encodedClip(int seconds, bool bFrames, int lead) {
  TempDir dir;
  const std::string video = dir.file("clip.h264"), audio = dir.file("clip.alaw");
  const std::string command =
      "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=" + std::to_string(seconds) +
      " -f lavfi -i sine=frequency=440:sample_rate=8000:duration=" + std::to_string(seconds) + " -map 0:v -c:v libx264 -pix_fmt yuv420p -g 25 -bf " + (bFrames ? "2" : "0") +
      " -x264-params keyint=25:min-keyint=25:scenecut=0:aud=0:log-level=none -f h264 '" + video +
      "' -map 1:a -ac 1 -c:a pcm_alaw -f alaw '" + audio + "' >/dev/null 2>&1";
  Clip clip;
  clip.lead = lead;
  clip.bFrames = bFrames;
  if (std::system(command.c_str()) != 0) return clip;
  const auto bytes = readFile(video);
  clip.frames = framesOf(bytes);
  clip.audio = readFile(audio);
  return clip;
}

std::vector<std::uint8_t> programStreamFile(bool audioOnly) {
  if (!audioOnly) return programStreamFile(sampleClip());
  std::vector<std::uint8_t> out;
  const Clip clip = sampleClip();
  for (std::size_t k = 0; k < clip.frames.size(); ++k) {
    appendPack(out);
    if (clip.frames[k].key || k % kClipRate == 0) appendStreamMap(out, clipTime(clip, k), 0x0F, 0xC0);
    appendPes(out, 0xC0, std::vector<std::uint8_t>(320, 0x55));
  }
  appendPack(out);  // the last packet's follower
  return out;
}

std::vector<std::uint8_t> programStreamFile(const Clip& clip) {
  std::vector<std::uint8_t> out;
  for (std::size_t k = 0; k < clip.frames.size(); ++k) {
    appendPack(out);
    if (clip.frames[k].key || (k + static_cast<std::size_t>(clip.lead)) % kClipRate == 0)
      appendStreamMap(out, clipTime(clip, k), 0x1B, 0xE0, clip.audio.empty() ? 0 : 0x90);
    appendPes(out, 0xE0, clip.frames[k].bytes);
    if (const auto audio = audioOf(clip, k); !audio.empty()) appendPes(out, 0xC0, audio);
  }
  appendPack(out);  // the last packet's follower
  return out;
}

std::vector<std::uint8_t> dhavFile() { return dhavFile(sampleClip()); }

std::vector<std::uint8_t> dhavFile(const Clip& clip) {
  std::vector<std::uint8_t> out;
  std::uint32_t number = 0;
  auto frame = [&](std::uint8_t type, std::size_t k, const std::vector<std::uint8_t>& ext, const std::vector<std::uint8_t>& payload) {
    const std::uint32_t length = static_cast<std::uint32_t>(24 + ext.size() + payload.size() + 8);
    std::vector<std::uint8_t> f(24, 0);
    f[0] = 'D', f[1] = 'H', f[2] = 'A', f[3] = 'V';
    f[4] = type;
    putLe32(&f[8], number++);
    putLe32(&f[12], length);
    putLe32(&f[16], clipTime(clip, k));
    putLe16(&f[20], static_cast<std::uint16_t>(((k + static_cast<std::size_t>(clip.lead)) % kClipRate) * 40));
    f[22] = static_cast<std::uint8_t>(ext.size());
    f.insert(f.end(), ext.begin(), ext.end());
    f.insert(f.end(), payload.begin(), payload.end());
    f.insert(f.end(), {'d', 'h', 'a', 'v', 0, 0, 0, 0});
    putLe32(&f[f.size() - 4], length);
    out.insert(out.end(), f.begin(), f.end());
  };
  // Video extension: picture size and codec (2: H.264) at 25 frames per second. Audio
  // extension: one channel, codec (0x0E: G.711 A-law), 8000 Hz (rate index 2).
  const std::vector<std::uint8_t> videoExt = {0x80, 0, kClipWidth / 8, kClipHeight / 8, 0x81, 0, 2, kClipRate};
  const std::vector<std::uint8_t> audioExt = {0x83, 1, 0x0E, 2};
  for (std::size_t k = 0; k < clip.frames.size(); ++k) {
    frame(clip.frames[k].key ? 0xFD : 0xFC, k, videoExt, clip.frames[k].bytes);
    if (const auto audio = audioOf(clip, k); !audio.empty()) frame(0xF0, k, audioExt, audio);
  }
  return out;
}

std::vector<std::uint8_t> wfsFile() { return wfsFile(sampleClip()); }

std::vector<std::uint8_t> wfsFileWithAudio(const std::vector<std::uint8_t>& audio) {
  Clip clip = sampleClip();
  for (std::size_t k = 0; k < clip.frames.size(); ++k) clip.audio.insert(clip.audio.end(), audio.begin(), audio.end());
  return wfsFile(clip, audio.size());
}

std::vector<std::uint8_t> wfsFile(const Clip& clip) { return wfsFile(clip, kAudioPerFrame); }

std::vector<std::uint8_t> dhavFileAs(const char* magic) {
  auto bytes = dhavFile();
  std::string lower(magic, 4);
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (std::size_t i = 0; i + 4 <= bytes.size(); ++i) {
    if (std::memcmp(&bytes[i], "DHAV", 4) == 0) std::memcpy(&bytes[i], magic, 4);
    else if (std::memcmp(&bytes[i], "dhav", 4) == 0) std::memcpy(&bytes[i], lower.data(), 4);
  }
  return bytes;
}

std::vector<std::uint8_t> rawStreamFile() {
  std::vector<std::uint8_t> out;
  for (const auto& f : clipFrames()) out.insert(out.end(), f.bytes.begin(), f.bytes.end());
  return out;
}

std::vector<std::uint8_t> multiBrandFile(const Clip& clip) {
  std::vector<std::uint8_t> out;
  for (std::size_t k = 0; k < clip.frames.size(); ++k)
    sample::appendMultiBrandPacket(out, 0, sample::localEpoch(2016, 5, 17, 8, 0, static_cast<int>((k + static_cast<std::size_t>(clip.lead)) / kClipRate)),
                                   clip.frames[k].bytes);
  sample::appendFollowerMarker(out);
  return out;
}

std::vector<std::uint8_t> jvsFile() {
  auto packet = [](std::vector<std::uint8_t>& out, std::uint8_t type, const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> h(16, 0);
    h[0] = 'J', h[1] = 'V', h[2] = 'S', h[3] = ' ', h[4] = type;
    const auto p = static_cast<std::uint32_t>(payload.size());
    h[5] = static_cast<std::uint8_t>(p), h[6] = static_cast<std::uint8_t>(p >> 8), h[7] = static_cast<std::uint8_t>(p >> 16);
    out.insert(out.end(), h.begin(), h.end());
    out.insert(out.end(), payload.begin(), payload.end());
  };
  std::vector<std::uint8_t> out;
  packet(out, 8, std::vector<std::uint8_t>(64, 0));  // the channel packet: channel 1
  for (const auto& f : clipFrames()) packet(out, 1, f.bytes);
  packet(out, 1, std::vector<std::uint8_t>(16, 0));  // the last frame's follower
  return out;
}

std::vector<std::uint8_t> boliFile() {
  std::vector<std::uint8_t> out;
  const auto frames = clipFrames();
  for (std::size_t k = 0; k < frames.size(); ++k) {
    // The recorder's own bit order: year - 2000, month, day, hour, minute, second from bit 0.
    const std::uint32_t second = static_cast<std::uint32_t>(k / kClipRate);
    const std::uint32_t time = 16u | (5u << 6) | (17u << 10) | (8u << 15) | (0u << 20) | (second << 26);
    std::vector<std::uint8_t> h(16, 0);
    h[2] = 0;  // channel 1
    putLe32(&h[4], static_cast<std::uint32_t>(frames[k].bytes.size()));
    putLe32(&h[12], time);
    out.insert(out.end(), h.begin(), h.end());
    out.insert(out.end(), frames[k].bytes.begin(), frames[k].bytes.end());
  }
  std::vector<std::uint8_t> follower(16 + 8, 0);
  follower[4] = 8;
  follower[19] = 1;
  out.insert(out.end(), follower.begin(), follower.end());
  return out;
}

std::vector<std::uint8_t> headeredFile(std::uint8_t brand) {
  const std::uint32_t start = localEpoch(2016, 5, 17, 8, 0, 0);
  std::vector<std::uint8_t> out;
  auto frame = [&](const std::vector<std::uint8_t>& video, std::uint32_t time) {
    const auto p = static_cast<std::uint32_t>(video.size());
    std::vector<std::uint8_t> f;
    switch (brand) {
      case 6:  // "HBMS", header length, twice the payload length, capture time
        f.assign(28, 0x11);
        f[0] = 'H', f[1] = 'B', f[2] = 'M', f[3] = 'S', f[4] = 28;
        putLe16(&f[5], static_cast<std::uint16_t>(p * 2));
        putLe32(&f[12], time);
        break;
      case 12:  // microsecond time, payload length; padded to 8 bytes
        f.assign(32, 0x11);
        putLe64(&f[0], static_cast<std::uint64_t>(time) * 1'000'000u);
        putLe32(&f[8], p);
        break;
      case 13:
      case 14:  // "NVR1" and the payload length in a header of 72 or 64 bytes
        f.assign(brand == 13 ? 72 : 64, 0x22);
        f[0] = 'N', f[1] = 'V', f[2] = 'R', f[3] = '1';
        putLe32(&f[12], p);
        break;
      case 15:  // frame length and payload length
        f.assign(32, 0x22);
        putLe32(&f[4], p + 32);
        putLe32(&f[20], p);
        break;
      case 5:  // magic, payload length at 22, the coded video from 28
        f.assign(28, 0x33);
        putLe32(&f[0], 0x1358);
        putLe16(&f[22], static_cast<std::uint16_t>(p));
        break;
      case 17:  // the 128-byte header with both markers and a packed wall-clock time
        f = markerPacket(0, plusSeconds(packed(2016, 5, 17, 8, 0, 0), static_cast<int>(time - start)), p, false);
        f.resize(128);
        break;
      case 16:  // a PES packet: stream 0xE0, length, big-endian time at 27, video at 48
        f.assign(48, 0x11);
        f[0] = 0, f[1] = 0, f[2] = 1, f[3] = 0xE0;
        f[4] = static_cast<std::uint8_t>((p + 42) >> 8), f[5] = static_cast<std::uint8_t>(p + 42);
        f[27] = static_cast<std::uint8_t>(time >> 24), f[28] = static_cast<std::uint8_t>(time >> 16);
        f[29] = static_cast<std::uint8_t>(time >> 8), f[30] = static_cast<std::uint8_t>(time);
        break;
    }
    f.insert(f.end(), video.begin(), video.end());
    if (brand == 12) f.resize((f.size() + 7) / 8 * 8, 0);
    out.insert(out.end(), f.begin(), f.end());
  };
  const auto frames = clipFrames();
  for (std::size_t k = 0; k < frames.size(); ++k)
    frame(frames[k].bytes, start + static_cast<std::uint32_t>(k / kClipRate));
  // The last frame's follower.
  frame({0, 0, 0, 1, 0x41, 0x9A, 0x00, 0x00, 0x00}, start + static_cast<std::uint32_t>(frames.size() / kClipRate));
  return out;
}

std::vector<std::uint8_t> hevcStream(int seconds, bool bFrames) {
  TempDir dir;
  const std::string path = dir.file("clip.h265");
  const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -t " +
                              std::to_string(seconds) +
                              " -c:v libx265 -x265-params keyint=25:bframes=" + (bFrames ? "3" : "0") + ":log-level=0 -f hevc '" + path +
                              "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return {};
  return readFile(path);
}

std::vector<std::uint8_t> mpeg4Stream() {
  std::vector<std::uint8_t> out;
  const std::vector<std::uint8_t> sequence = {0, 0, 1, 0xB0, 0x01, 0, 0, 1, 0xB5, 0x09, 0, 0, 1, 0x00, 0, 0, 1, 0x20, 0x08, 0xC8};
  for (int k = 0; k < 50; ++k) {
    if (k % 25 == 0) out.insert(out.end(), sequence.begin(), sequence.end());
    out.insert(out.end(), {0, 0, 1, 0xB6, static_cast<std::uint8_t>(k % 25 ? 0x50 : 0x10)});
    out.resize(out.size() + 300, static_cast<std::uint8_t>(0x21 + k));
  }
  return out;
}

std::vector<std::uint64_t> OpenTask::all() const {
  std::vector<std::uint64_t> p(scanned.files.size());
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = i;
  return p;
}

std::unique_ptr<OpenTask> scanAndOpen(std::vector<std::uint8_t> image, std::uint8_t brand,
                                      const std::vector<std::uint64_t>& badSectors, const std::string& zone,
                                      const YearWindow& years) {
  auto open = std::make_unique<OpenTask>();
  open->image = std::move(image);
  ScanRequest request;
  request.brand = brand;
  request.mode = kParseDeep;
  request.zone = zone;
  request.years = years;
  open->scanned = scanImage(open->dir, open->image, request);
  if (!open->scanned.ok) return open;
  open->task = std::make_unique<TaskContext>();
  auto head = readTaskHeader(*open->task, open->observer, open->dir.file("task"));
  if (!head) return open;
  head->taskFolder = open->dir.file("task");
  open->task->describe(*head);
  if (!loadTask(*open->task, open->observer)) return open;
  auto source = std::make_unique<ScriptedSource>(open->image);
  for (auto s : badSectors) source->markBad(s);
  open->task->deviceHandle.open(std::move(source));
  return open;
}

void reopen(OpenTask& open, const std::vector<std::uint8_t>& image) {
  open.task->deviceHandle.close();
  open.task->deviceHandle.open(std::make_unique<ScriptedSource>(image));
}

std::vector<std::uint8_t> imageWith(const std::vector<std::uint8_t>& file) {
  std::vector<std::uint8_t> image(8192, 0x5A);
  image.insert(image.end(), file.begin(), file.end());
  image.resize(image.size() + 8192, 0x5A);
  image.resize((image.size() + 511) / 512 * 512, 0x5A);
  return image;
}

std::unique_ptr<ConvertedImage> scanAndConvert(const std::vector<std::uint8_t>& file, std::uint8_t brand,
                                               const std::vector<std::uint8_t>* damaged) {
  auto c = std::make_unique<ConvertedImage>();
  c->open = scanAndOpen(imageWith(file), brand);
  if (!c->open->task || c->open->scanned.files.size() != 1) return nullptr;
  if (damaged) reopen(*c->open, imageWith(*damaged));
  auto result = convert::convertFiles(*c->open->task, c->open->observer, {0}, {c->out.str(), false});
  if (!result || result->size() != 1) return nullptr;
  c->file = (*result)[0];
  return c;
}

bool haveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::optional<Probe> probe(const std::string& path) {
  const std::string text = capture(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
      "stream=codec_name,width,height,nb_read_frames:format=duration:format_tags=creation_time -of default=nw=1 '" +
      path + "' 2>/dev/null");
  if (text.empty()) return std::nullopt;
  Probe p;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "codec_name") p.codec = value;
    else if (key == "width") p.width = std::atoi(value.c_str());
    else if (key == "height") p.height = std::atoi(value.c_str());
    else if (key == "nb_read_frames") p.frames = std::atoi(value.c_str());
    else if (key == "duration") p.duration = std::atof(value.c_str());
    else if (key == "TAG:creation_time") p.creationTime = value;
  }
  return p;
}

std::vector<PacketTime> videoPacketTimes(const std::string& path) {
  const std::string text = capture("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,dts_time -of csv=p=0 '" +
                                   path + "' 2>/dev/null");
  std::vector<PacketTime> times;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const auto comma = line.find(',');
    if (comma == std::string::npos) continue;
    times.push_back({std::atof(line.c_str()), std::atof(line.c_str() + comma + 1)});
  }
  return times;
}

std::optional<StreamTimes> streamTimes(const std::string& path, const char* stream) {
  const std::string text = capture(std::string("ffprobe -v error -select_streams ") + stream +
                                   " -show_entries stream=codec_name,start_time,duration -of csv=p=0 '" + path + "' 2>/dev/null");
  const auto first = text.find(','), second = text.find(',', first + 1);
  if (first == std::string::npos || second == std::string::npos) return std::nullopt;
  return StreamTimes{text.substr(0, first), std::atof(text.c_str() + first + 1), std::atof(text.c_str() + second + 1)};
}

std::vector<double> audioLoudness(const std::string& path) {
  const std::string pcm = capture("ffmpeg -nostdin -v error -i '" + path + "' -map 0:a:0 -ac 1 -ar 8000 -f s16le - 2>/dev/null");
  std::vector<double> out;
  constexpr std::size_t kWindow = 8000 / kClipRate;
  for (std::size_t at = 0; at + 2 * kWindow <= pcm.size(); at += 2 * kWindow) {
    double sum = 0;
    for (std::size_t i = 0; i < kWindow; ++i) {
      const auto v = static_cast<std::int16_t>(static_cast<std::uint8_t>(pcm[at + 2 * i]) | static_cast<std::uint8_t>(pcm[at + 2 * i + 1]) << 8);
      sum += static_cast<double>(v) * v;
    }
    out.push_back(std::sqrt(sum / kWindow));
  }
  return out;
}

FrameTimes readFrameTimes(const std::string& path) {
  FrameTimes out;
  std::ifstream in(path);
  std::getline(in, out.header);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string>& fields = out.rows.emplace_back();
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, ',');) fields.push_back(field);
  }
  return out;
}

std::string subtitleText(const std::string& path) {
  return capture("ffmpeg -nostdin -v error -i '" + path + "' -map 0:s:0 -f srt - 2>/dev/null");
}

std::string decodeErrors(const std::string& path) {
  return capture("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1");
}

int runIn(const std::string& folder, const std::string& command) {
  const int status = std::system(("cd '" + folder + "' && " + command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace norvale::test
