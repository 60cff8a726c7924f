#pragma once
// The recorder's audio in the MP4. The mp4 muxer takes neither G.711 nor PCM, and AAC is the
// audio every common player (browsers included) plays in MP4: AAC is copied as it is, G.711 and
// 16-bit PCM are decoded (G.711 decodes exactly) and encoded as AAC-LC at their own sample
// rate. The native export stays the bit-exact record.
//
// Timing: the audio starts with the first picture written and runs on sample by sample. Each
// packet is laid beside the picture it was recorded with (the one after it in the file when the
// file's audio comes first, else the one before it); where the two drift apart
// by more than kDriftLimit (audio packets lost to damage, or audio beside pictures that were
// not written), silence fills the gap or the surplus samples are left out, so that sound and
// picture meet again.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/error.h"
#include "convert/mp4_writer.h"
#include "convert/stream_reader.h"

namespace norvale::convert {

class AudioTrack {
 public:
  static constexpr double kDriftLimit = 0.2;  // seconds

  // Unsupported when the first packet's format cannot be carried (its name in the message).
  static Result<std::unique_ptr<AudioTrack>> open(const AudioPacket& first);
  ~AudioTrack();
  AudioTrack(const AudioTrack&) = delete;
  AudioTrack& operator=(const AudioTrack&) = delete;

  const AudioStreamInfo& stream() const { return m_stream; }
  // True when the audio was decoded and encoded as AAC, false when copied.
  bool encoded() const { return m_format != AudioFormat::Aac; }

  // Packets of another format than the first are left out and counted.
  void add(const AudioPacket& packet);
  // Each picture written, in file order: the file offset of its packet and its presentation
  // time in 1/90000 s.
  void picture(std::uint64_t origin, std::int64_t pts);

  // Sends the AAC frames ready (times in 1/sampleRate); with `end`, everything that is left.
  using Write = std::function<Result<void>(std::span<const std::uint8_t>, std::int64_t pts, std::int64_t duration)>;
  Result<void> drain(const Write& write, bool end);

  double seconds() const;  // of the track written, silence filled in included
  std::uint64_t foreignPackets() const { return m_foreign; }

 private:
  struct Chunk {
    std::uint64_t origin = 0;
    std::vector<std::int16_t> samples;             // interleaved (decoded audio)
    std::vector<std::vector<std::uint8_t>> frames;  // raw AAC frames (copied audio)
  };
  struct Slot {
    std::uint64_t origin;
    std::int64_t pts;
  };
  struct Codec;

  AudioTrack() = default;
  std::optional<std::int64_t> anchorFor(const Chunk& chunk, bool end);
  Result<void> place(Chunk& chunk, std::int64_t anchor, const Write& write);
  Result<void> encode(bool end, const Write& write);

  AudioFormat m_format = AudioFormat::Other;
  AudioStreamInfo m_stream;
  std::unique_ptr<Codec> m_codec;
  std::deque<Chunk> m_pending;
  std::deque<Slot> m_slots;
  std::optional<Slot> m_firstSlot;
  std::int64_t m_lastPts = 0;
  std::optional<bool> m_leads;  // the audio comes before the picture it was recorded with
  std::optional<std::int64_t> m_next;  // sample time of the next sample, from the first picture
  std::int64_t m_first = 0;
  std::vector<std::int16_t> m_pcm;      // placed, waiting for a whole AAC frame
  std::int64_t m_pcmStart = 0;
  std::uint64_t m_foreign = 0;
};

}  // namespace norvale::convert
