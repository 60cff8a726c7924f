#include "convert/stream_reader.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "convert/packet_source.h"
#include "convert/stream_library.h"
#include "convert/unit_pipeline.h"
#include "parsers/brand_table.h"
#include "format/utc_time.h"
#include "base/byte_reader.h"

namespace norvale::convert {

namespace {

constexpr std::size_t kPieceBytes = 1 << 20;

// Bytes of a Headered packet before its coded video (the search for the start code begins
// there), and where the video ends.
struct HeaderedLayout {
  std::size_t from = 0;
  std::size_t end = 0;
};
HeaderedLayout headeredLayout(const ConversionLayout& layout, const std::uint8_t* p, std::size_t n) {
  switch (layout.headerLength) {
    case HeaderLength::Fixed: return {layout.headerBytes, n};
    case HeaderLength::StatedAtByte4: return {n > 4 ? p[4] : n, n};
    case HeaderLength::PayloadLengthAt8: {
      const std::size_t payload = n >= 12 ? le32(p + 8) : 0;
      return {layout.headerBytes, std::min<std::size_t>(n, layout.headerBytes + payload)};
    }
  }
  return {n, n};
}

std::optional<std::size_t> findStartCode(const std::uint8_t* p, std::size_t from, std::size_t end) {
  for (std::size_t i = from; i + 3 <= end; ++i)
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) return i;
  return std::nullopt;
}

// A raw stream: the exported file is the coded stream itself. Record times, when the task gives
// them, stamp the bytes of each record.
StreamSummary readRaw(const StreamInput& input, const UnitSink& sink) {
  StreamSummary out;
  Pipeline pipe(sink);
  pipe.splitter.setExactOrigins();
  const std::uint64_t size = input.bytes->size().value_or(0);
  std::vector<std::uint8_t> piece(kPieceBytes);
  std::size_t nextPiece = 0;
  std::optional<double> second;
  for (std::uint64_t pos = input.startOffset; pos < size && !pipe.stopped;) {
    if (stopRequested(input)) {
      out.stopped = true;
      break;
    }
    std::uint64_t end = std::min<std::uint64_t>(size, pos + kPieceBytes);
    while (nextPiece < input.pieceTimes.size() && input.pieceTimes[nextPiece].first <= pos) {
      second = calendarSeconds(input.convention, input.pieceTimes[nextPiece].second);
      ++nextPiece;
    }
    if (nextPiece < input.pieceTimes.size()) end = std::min(end, input.pieceTimes[nextPiece].first);
    const std::size_t n = static_cast<std::size_t>(end - pos);
    auto got = input.bytes->readAt(pos, std::span(piece.data(), n));
    const std::size_t have = got ? *got : 0;
    if (have < n) std::fill(piece.begin() + static_cast<std::ptrdiff_t>(have), piece.begin() + static_cast<std::ptrdiff_t>(n), 0);
    pipe.splitter.feed(std::span<const std::uint8_t>(piece.data(), n), second, pos);
    pos = end;
    if (input.progress) input.progress(pos);
  }
  pipe.finish();
  summarise(out, pipe, {}, 0, 0);
  return out;
}

// A program stream map: stream id -> stream type.
void readStreamMap(const std::uint8_t* p, std::size_t n, std::map<int, int>& types) {
  if (n < 16) return;
  const std::size_t infoLength = static_cast<std::size_t>(p[8] << 8 | p[9]);
  std::size_t at = 10 + infoLength;
  if (at + 2 > n) return;
  const std::size_t mapLength = static_cast<std::size_t>(p[at] << 8 | p[at + 1]);
  at += 2;
  const std::size_t end = std::min(n, at + mapLength);
  while (at + 4 <= end) {
    types[p[at + 1]] = p[at];
    at += 4 + static_cast<std::size_t>(p[at + 2] << 8 | p[at + 3]);
  }
}

// Program stream audio by its stream type in the map.
AudioPacket programStreamAudio(int type) {
  AudioPacket a;
  switch (type) {
    case 0x90: a.format = AudioFormat::Alaw, a.name = "pcm_alaw"; break;
    case 0x91: a.format = AudioFormat::Mulaw, a.name = "pcm_mulaw"; break;
    case 0x0F: a.format = AudioFormat::Aac, a.name = "aac"; break;
    case -1: a.name = "no stream type"; break;
    default: a.name = "stream type " + std::to_string(type);
  }
  return a;
}

// A DHAV audio frame's format, from its extension fields (at 24, p[22] bytes long): the 0x83
// field (or its 8-byte form 0x8C) holds channels, codec and a sample-rate index.
AudioPacket dhavAudio(const std::uint8_t* p, std::size_t n) {
  static const int kRates[] = {8000, 4000, 8000, 11025, 16000, 20000, 22050, 32000, 44100, 48000, 96000, 192000, 64000};
  AudioPacket a;
  a.name = "no codec field";
  const std::size_t end = std::min<std::size_t>(n, 24 + p[22]);
  for (std::size_t at = 24; at < end;) {
    const std::uint8_t type = p[at];
    std::size_t size = 0;
    switch (type) {
      case 0x83: case 0x8C: {
        const std::size_t f = type == 0x83 ? at + 1 : at + 2;
        if (f + 3 > end) return a;
        a.channels = std::max(1, static_cast<int>(p[f]));
        a.sampleRate = p[f + 2] < std::size(kRates) ? kRates[p[f + 2]] : 8000;
        switch (p[f + 1]) {
          case 0x0E: a.format = AudioFormat::Alaw, a.name = "pcm_alaw"; break;
          case 0x0A: case 0x16: a.format = AudioFormat::Mulaw, a.name = "pcm_mulaw"; break;
          case 0x0C: case 0x10: a.format = AudioFormat::Pcm16, a.name = "pcm_s16le"; break;
          case 0x1A: a.format = AudioFormat::Aac, a.name = "aac"; break;
          default: a.format = AudioFormat::Other, a.name = "codec " + std::to_string(p[f + 1]);
        }
        return a;
      }
      case 0x82: case 0x88: case 0x91: case 0x92: case 0x93: case 0x95: case 0x9A: case 0x9B: case 0xB3: size = 8; break;
      case 0x80: case 0x81: case 0x84: case 0x85: case 0x8B: case 0x94: case 0x96: case 0xA0: case 0xB2: case 0xB4: size = 4; break;
      default: return a;  // a field of unknown size ends the walk
    }
    at += size;
  }
  return a;
}

const char* foreignStreamType(int type) {
  switch (type) {
    case 0x01: return "MPEG-1 video";
    case 0x02: return "MPEG-2 video";
    case 0x10: return "MPEG-4 Part 2";
    default: return nullptr;
  }
}

// Brands with framed packets: the packet test finds each packet; the carrier says where its
// coded video lies. Whatever lies between packets is skipped and counted.
StreamSummary readPackets(const StreamInput& input, const ConversionLayout& layout, const UnitSink& sink,
                          const AudioSink& audioSink) {
  using enum VideoCarrier;
  StreamSummary out;
  Pipeline pipe(sink);
  auto packets = makePacketSource(input.brand, *input.bytes, input.decoding);
  const std::uint64_t size = input.bytes->size().value_or(0);
  std::vector<std::uint8_t> buf;
  std::uint64_t walked = input.startOffset;
  std::optional<double> second;
  std::map<int, int> streamTypes;
  std::string foreign;
  std::uint64_t audio = 0, video = 0;
  while (!pipe.stopped) {
    if (stopRequested(input)) {
      out.stopped = true;
      break;
    }
    auto packet = packets->next(walked);
    const std::uint64_t gapEnd = packet ? packet->offset : size;
    // The packet before a gap passed its length and follower checks: it is whole, and the
    // recorders end pictures at packet ends (each packet's video starts with a start code).
    if (gapEnd > walked) {
      out.skippedBytes += gapEnd - walked;
      pipe.cut();
    }
    if (!packet) break;
    buf.resize(static_cast<std::size_t>(packet->length));
    auto got = input.bytes->readAt(packet->offset, buf);
    walked = packet->offset + packet->length;
    if (input.progress) input.progress(walked);
    if (!got || *got < buf.size()) {
      out.skippedBytes += packet->length;
      pipe.cut();
      continue;
    }
    if (packet->time != 0) second = calendarSeconds(input.convention, packet->time);
    const std::uint8_t* p = buf.data();
    const std::size_t n = buf.size();
    std::size_t from = 0, end = n;
    bool isVideo = true;
    switch (layout.carrier) {
      case None:
      case RawStream:
        isVideo = false;
        break;
      case ProgramStream: {
        isVideo = false;
        if (n < 9) break;
        if (p[3] == 0xBC) {
          readStreamMap(p, n, streamTypes);
        } else if (p[3] >= 0xC0 && p[3] <= 0xDF) {
          ++audio;
          const std::size_t at = 9 + p[8];
          if (audioSink && (p[6] & 0xC0) == 0x80 && at < n) {
            const auto type = streamTypes.find(p[3]);
            AudioPacket a = programStreamAudio(type != streamTypes.end() ? type->second : -1);
            a.payload = std::span<const std::uint8_t>(p + at, n - at);
            a.origin = packet->offset;
            audioSink(a);
          }
        } else if (p[3] >= 0xE0 && p[3] <= 0xEF) {
          auto type = streamTypes.find(p[3]);
          if (type != streamTypes.end() && foreignStreamType(type->second)) {
            if (foreign.empty()) foreign = foreignStreamType(type->second);
            ++video;
            break;
          }
          if ((p[6] & 0xC0) != 0x80) break;  // only MPEG-2 PES headers carry this video
          from = 9 + p[8];
          isVideo = from < n;
        }
        break;
      }
      case Dhav:
        if (n < 28) isVideo = false;
        else if (p[4] == 0xF0) {
          ++audio;
          isVideo = false;
          if (const std::size_t at = 24 + p[22]; audioSink && at < n - 8) {
            AudioPacket a = dhavAudio(p, n);
            a.payload = std::span<const std::uint8_t>(p + at, n - 8 - at);
            a.origin = packet->offset;
            audioSink(a);
          }
        } else if (p[4] == 0xF1) {
          isVideo = false;
        } else {
          from = 20;
          end = n - 8;
        }
        break;
      case Wfs:
        // FC (key, with time) and FD carry the video; FA carries G.711 audio, whose bytes may
        // hold 00 00 01 by chance; other types carry information.
        if (p[3] == 0xFC || p[3] == 0xFD) {
          from = p[3] == 0xFC ? 16 : 8;
        } else {
          isVideo = false;
          if (p[3] == 0xFA) {
            ++audio;
            // The packets name no codec: G.711 A-law, as these recorders write it.
            if (audioSink && n > 8) {
              AudioPacket a;
              a.format = AudioFormat::Alaw, a.name = "pcm_alaw";
              a.payload = std::span<const std::uint8_t>(p + 8, n - 8);
              a.origin = packet->offset;
              audioSink(a);
            }
          }
        }
        break;
      case Jvs:
        isVideo = !(n == 80 && p[4] == 8);  // the channel packet carries no video
        from = 16;
        break;
      case Boli:
        from = 16;
        break;
      case Headered: {
        const HeaderedLayout header = headeredLayout(layout, p, n);
        from = header.from;
        end = header.end;
        break;
      }
    }
    if (!isVideo || from >= end) continue;
    ++video;
    if (layout.carrier != ProgramStream) {
      const auto code = findStartCode(p, from, end);
      if (!code) {
        if (end - from >= 3 && p[from] == 0xFF && p[from + 1] == 0xD8 && foreign.empty()) foreign = "Motion JPEG";
        continue;
      }
      from = *code;
    }
    pipe.splitter.feed(std::span<const std::uint8_t>(p + from, end - from), second, packet->offset);
  }
  pipe.finish();
  summarise(out, pipe, foreign, audio, video);
  return out;
}

}  // namespace

std::optional<double> calendarSeconds(const TimeConvention& convention, std::uint32_t time) {
  if (time == 0) return std::nullopt;
  const auto c = convention.calendar(time);
  if (!c || c->month < 1 || c->month > 12 || c->day < 1 || c->day > 31) return std::nullopt;
  return static_cast<double>(civilSeconds(*c));
}

bool hasStreamReader(std::uint8_t brand) { return conversionLayoutFor(brand).carrier != VideoCarrier::None; }

StreamSummary readStream(const StreamInput& input, const UnitSink& sink, const AudioSink& audio) {
  if (!input.bytes) return StreamSummary{VideoCodec::Unknown, "unsupported payload: no bytes"};
  const ConversionLayout layout = conversionLayoutFor(input.brand);
  if (layout.carrier == VideoCarrier::None) {
    StreamSummary out;
    out.unsupported = "unsupported payload: no stream reader for brand " + std::to_string(input.brand);
    return out;
  }
  if (layout.carrier == VideoCarrier::RawStream) return readRaw(input, sink);
  if (input.walk == WalkKind::Library && layout.demuxer) return readWithDemuxer(input, layout.demuxer, sink, audio);
  return readPackets(input, layout, sink, audio);
}

}  // namespace norvale::convert
