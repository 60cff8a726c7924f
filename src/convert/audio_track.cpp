#include "convert/audio_track.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include "convert/ffmpeg_support.h"

namespace norvale::convert {

namespace {

constexpr int kAacRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};

// An ADTS header: sync word, then profile, rate index and channel configuration.
bool isAdts(std::span<const std::uint8_t> p) { return p.size() >= 7 && p[0] == 0xFF && (p[1] & 0xF6) == 0xF0; }

// The raw frames of ADTS-framed AAC; a frame cut short ends the walk.
std::vector<std::vector<std::uint8_t>> adtsFrames(std::span<const std::uint8_t> p) {
  std::vector<std::vector<std::uint8_t>> frames;
  std::size_t at = 0;
  while (isAdts(p.subspan(at))) {
    const std::size_t length = static_cast<std::size_t>((p[at + 3] & 0x03) << 11 | p[at + 4] << 3 | p[at + 5] >> 5);
    const std::size_t header = (p[at + 1] & 0x01) ? 7 : 9;  // without or with CRC
    if (length <= header || at + length > p.size()) break;
    frames.emplace_back(p.begin() + static_cast<std::ptrdiff_t>(at + header), p.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  }
  return frames;
}

AVCodecID decoderFor(AudioFormat format) {
  switch (format) {
    case AudioFormat::Alaw: return AV_CODEC_ID_PCM_ALAW;
    case AudioFormat::Mulaw: return AV_CODEC_ID_PCM_MULAW;
    case AudioFormat::Pcm16: return AV_CODEC_ID_PCM_S16LE;
    default: return AV_CODEC_ID_NONE;
  }
}

}  // namespace

struct AudioTrack::Codec {
  AVCodecContext* decoder = nullptr;
  AVCodecContext* encoder = nullptr;
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  ~Codec() {
    avcodec_free_context(&decoder);
    avcodec_free_context(&encoder);
    av_frame_free(&frame);
    av_packet_free(&packet);
  }
};

AudioTrack::~AudioTrack() = default;

Result<std::unique_ptr<AudioTrack>> AudioTrack::open(const AudioPacket& first) {
  quietFfmpeg();
  std::unique_ptr<AudioTrack> track(new AudioTrack);
  track->m_format = first.format;
  track->m_stream.sampleRate = first.sampleRate;
  track->m_stream.channels = std::clamp(first.channels, 1, 2);
  track->m_codec = std::make_unique<Codec>();
  if (first.format == AudioFormat::Aac) {
    if (!isAdts(first.payload)) return fail(ErrorCode::Corrupt, "aac without ADTS headers is not carried");
    const std::uint8_t* p = first.payload.data();
    const int objectType = (p[2] >> 6) + 1, rateIndex = (p[2] >> 2) & 0x0F, channels = (p[2] & 1) << 2 | p[3] >> 6;
    if (rateIndex >= static_cast<int>(std::size(kAacRates)) || channels == 0)
      return fail(ErrorCode::Corrupt, "aac with an unknown sample rate or channel layout is not carried");
    track->m_stream.sampleRate = kAacRates[rateIndex];
    track->m_stream.channels = channels;
    track->m_stream.config = {static_cast<std::uint8_t>(objectType << 3 | rateIndex >> 1),
                              static_cast<std::uint8_t>((rateIndex & 1) << 7 | channels << 3)};
    return track;
  }
  const AVCodecID decoderId = decoderFor(first.format);
  const AVCodec* decoder = avcodec_find_decoder(decoderId);
  const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!decoder) return fail(ErrorCode::InvalidArgument, first.name + " audio is not carried");
  if (!encoder) return fail(ErrorCode::InvalidArgument, "no AAC encoder in this build");
  if (first.sampleRate < 7350 || first.sampleRate > 96000)
    return fail(ErrorCode::Corrupt, first.name + " audio at " + std::to_string(first.sampleRate) + " Hz is not carried");
  Codec& c = *track->m_codec;
  AVChannelLayout layout;
  av_channel_layout_default(&layout, track->m_stream.channels);
  c.decoder = avcodec_alloc_context3(decoder);
  c.decoder->sample_rate = first.sampleRate;
  av_channel_layout_copy(&c.decoder->ch_layout, &layout);
  if (int r = avcodec_open2(c.decoder, decoder, nullptr); r < 0) return fail(ErrorCode::Corrupt, "audio decoder: " + ffmpegError(r));
  c.encoder = avcodec_alloc_context3(encoder);
  c.encoder->sample_rate = first.sampleRate;
  c.encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
  av_channel_layout_copy(&c.encoder->ch_layout, &layout);
  // The most the encoder spends on a channel at this rate (it caps higher requests), at most 64 kb/s.
  c.encoder->bit_rate = std::min<std::int64_t>(64000, 6 * first.sampleRate) * track->m_stream.channels;
  c.encoder->time_base = AVRational{1, first.sampleRate};
  c.encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (int r = avcodec_open2(c.encoder, encoder, nullptr); r < 0) return fail(ErrorCode::Corrupt, "AAC encoder: " + ffmpegError(r));
  track->m_stream.config.assign(c.encoder->extradata, c.encoder->extradata + c.encoder->extradata_size);
  return track;
}

void AudioTrack::add(const AudioPacket& packet) {
  if (packet.format != m_format || packet.sampleRate != m_stream.sampleRate ||
      (m_format != AudioFormat::Aac && std::clamp(packet.channels, 1, 2) != m_stream.channels)) {
    ++m_foreign;
    return;
  }
  Chunk chunk;
  chunk.origin = packet.origin;
  if (m_format == AudioFormat::Aac) {
    chunk.frames = adtsFrames(packet.payload);
    if (chunk.frames.empty()) ++m_foreign;
  } else {
    Codec& c = *m_codec;
    if (av_new_packet(c.packet, static_cast<int>(packet.payload.size())) < 0) return;
    std::copy(packet.payload.begin(), packet.payload.end(), c.packet->data);
    if (avcodec_send_packet(c.decoder, c.packet) >= 0) {
      while (avcodec_receive_frame(c.decoder, c.frame) >= 0) {
        const auto* s = reinterpret_cast<const std::int16_t*>(c.frame->data[0]);
        chunk.samples.insert(chunk.samples.end(), s, s + c.frame->nb_samples * m_stream.channels);
        av_frame_unref(c.frame);
      }
    }
    av_packet_unref(c.packet);
  }
  if (!chunk.samples.empty() || !chunk.frames.empty()) m_pending.push_back(std::move(chunk));
}

void AudioTrack::picture(std::uint64_t origin, std::int64_t pts) {
  if (!m_firstSlot) m_firstSlot = Slot{origin, pts};
  m_slots.push_back(Slot{origin, pts});
  m_lastPts = pts;
}

// The presentation time of the picture the chunk was recorded with: carriers put the audio of
// a stretch either before its picture or after it, which the file's first audio packet shows.
// Empty while that picture is not yet known.
std::optional<std::int64_t> AudioTrack::anchorFor(const Chunk& chunk, bool end) {
  if (!m_leads) m_leads = m_firstSlot && chunk.origin < m_firstSlot->origin;
  if (*m_leads) {
    while (!m_slots.empty() && m_slots.front().origin < chunk.origin) m_slots.pop_front();
  } else {
    while (m_slots.size() >= 2 && m_slots[1].origin < chunk.origin) m_slots.pop_front();
    if (!end && !m_slots.empty() && m_slots.back().origin < chunk.origin) return std::nullopt;
  }
  if (!m_slots.empty()) return m_slots.front().pts;
  return end ? std::optional<std::int64_t>(m_lastPts) : std::nullopt;
}

Result<void> AudioTrack::drain(const Write& write, bool end) {
  const auto rate = static_cast<std::int64_t>(m_stream.sampleRate);
  const auto limit = static_cast<std::int64_t>(kDriftLimit * static_cast<double>(rate));
  // Of the audio recorded before the first picture, what lies within the limit before it.
  if (!m_next && m_firstSlot) {
    std::int64_t before = 0;
    for (const Chunk& c : m_pending)
      if (c.origin < m_firstSlot->origin) before += static_cast<std::int64_t>(c.frames.size() * 1024 + c.samples.size() / static_cast<std::size_t>(m_stream.channels));
    while (!m_pending.empty() && m_pending.front().origin < m_firstSlot->origin) {
      const Chunk& c = m_pending.front();
      const auto n = static_cast<std::int64_t>(c.frames.size() * 1024 + c.samples.size() / static_cast<std::size_t>(m_stream.channels));
      if (before - n < limit) break;
      before -= n;
      m_pending.pop_front();
    }
  }
  while (!m_pending.empty()) {
    const auto anchor = anchorFor(m_pending.front(), end);
    if (!anchor) break;
    if (auto r = place(m_pending.front(), *anchor, write); !r) return r;
    m_pending.pop_front();
  }
  return m_format == AudioFormat::Aac ? Result<void>{} : encode(end, write);
}

Result<void> AudioTrack::place(Chunk& chunk, std::int64_t anchor, const Write& write) {
  const auto rate = static_cast<std::int64_t>(m_stream.sampleRate);
  const auto limit = static_cast<std::int64_t>(kDriftLimit * static_cast<double>(rate));
  const std::int64_t at = static_cast<std::int64_t>(std::llround(static_cast<double>(anchor) * static_cast<double>(rate) / 90000.0));
  const auto channels = static_cast<std::size_t>(m_stream.channels);
  if (!m_next) {
    m_next = m_first = m_pcmStart = at;
  } else if (const std::int64_t drift = at - *m_next; drift > limit) {
    // Audio went missing: silence until it meets its picture again (copied frames leave a gap).
    if (m_format != AudioFormat::Aac) m_pcm.insert(m_pcm.end(), static_cast<std::size_t>(drift) * channels, 0);
    *m_next += drift;
  } else if (drift < -limit && m_format != AudioFormat::Aac) {
    const auto drop = std::min<std::size_t>(static_cast<std::size_t>(-drift) * channels, chunk.samples.size());
    chunk.samples.erase(chunk.samples.begin(), chunk.samples.begin() + static_cast<std::ptrdiff_t>(drop));
  }
  if (m_format == AudioFormat::Aac) {
    for (const auto& frame : chunk.frames) {
      if (auto r = write(frame, *m_next, 1024); !r) return r;
      *m_next += 1024;
    }
    return {};
  }
  m_pcm.insert(m_pcm.end(), chunk.samples.begin(), chunk.samples.end());
  *m_next += static_cast<std::int64_t>(chunk.samples.size() / channels);
  return {};
}

Result<void> AudioTrack::encode(bool end, const Write& write) {
  Codec& c = *m_codec;
  const auto channels = static_cast<std::size_t>(m_stream.channels);
  const auto frameSize = static_cast<std::size_t>(c.encoder->frame_size > 0 ? c.encoder->frame_size : 1024);
  auto receive = [&]() -> Result<void> {
    while (avcodec_receive_packet(c.encoder, c.packet) >= 0) {
      auto r = write(std::span<const std::uint8_t>(c.packet->data, static_cast<std::size_t>(c.packet->size)), c.packet->pts,
                     c.packet->duration);
      av_packet_unref(c.packet);
      if (!r) return r;
    }
    return {};
  };
  std::size_t used = 0;
  while (m_pcm.size() - used >= frameSize * channels || (end && m_pcm.size() > used)) {
    const std::size_t n = std::min(frameSize, (m_pcm.size() - used) / channels);
    c.frame->nb_samples = static_cast<int>(n);
    c.frame->format = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_copy(&c.frame->ch_layout, &c.encoder->ch_layout);
    c.frame->sample_rate = m_stream.sampleRate;
    if (av_frame_get_buffer(c.frame, 0) < 0) return fail(ErrorCode::WriteFailed, "out of memory");
    for (std::size_t ch = 0; ch < channels; ++ch) {
      auto* plane = reinterpret_cast<float*>(c.frame->data[ch]);
      for (std::size_t i = 0; i < n; ++i) plane[i] = static_cast<float>(m_pcm[used + i * channels + ch]) / 32768.0f;
    }
    c.frame->pts = m_pcmStart;
    m_pcmStart += static_cast<std::int64_t>(n);
    used += n * channels;
    const int sent = avcodec_send_frame(c.encoder, c.frame);
    av_frame_unref(c.frame);
    if (sent < 0) return fail(ErrorCode::Corrupt, "AAC encoder: " + ffmpegError(sent));
    if (auto r = receive(); !r) return r;
  }
  m_pcm.erase(m_pcm.begin(), m_pcm.begin() + static_cast<std::ptrdiff_t>(used));
  if (end) {
    avcodec_send_frame(c.encoder, nullptr);
    return receive();
  }
  return {};
}

double AudioTrack::seconds() const {
  return m_next ? static_cast<double>(*m_next - m_first) / static_cast<double>(m_stream.sampleRate) : 0.0;
}

}  // namespace norvale::convert
