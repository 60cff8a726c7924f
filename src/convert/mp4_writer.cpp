#include "convert/mp4_writer.h"

#include <algorithm>
#include <filesystem>

extern "C" {
#include <libavformat/avformat.h>
}

#include "convert/ffmpeg_support.h"

namespace norvale::convert {

struct Mp4Writer::State {
  AVFormatContext* fmt = nullptr;
  AVStream* stream = nullptr;
  AVStream* cues = nullptr;
  AVStream* audio = nullptr;
  AVPacket* packet = av_packet_alloc();
  std::string path;
  bool headerWritten = false;
  bool finished = false;

  ~State() {
    if (fmt) {
      if (fmt->pb) avio_closep(&fmt->pb);
      avformat_free_context(fmt);
    }
    av_packet_free(&packet);
    if (!finished && !path.empty()) {
      std::error_code ec;
      std::filesystem::remove(std::filesystem::u8path(path), ec);
    }
  }
};

// The disk's refusal ends the file; a packet the muxer refuses is only that packet lost.
Result<void> Mp4Writer::sendPacket(State& s, const char* what) {
  const int r = av_write_frame(s.fmt, s.packet);
  av_packet_unref(s.packet);
  if (r < 0 && s.fmt->pb && s.fmt->pb->error < 0)
    return fail(ErrorCode::WriteFailed, "cannot write " + s.path + ": " + ffmpegError(s.fmt->pb->error));
  if (r < 0) return fail(ErrorCode::Corrupt, std::string(what) + " could not be written: " + ffmpegError(r));
  return {};
}

Mp4Writer::Mp4Writer() : m_state(std::make_unique<State>()) {}
Mp4Writer::~Mp4Writer() = default;

Result<void> Mp4Writer::open(const std::string& path, const Mp4Header& header) {
  quietFfmpeg();
  State& s = *m_state;
  // "file:" keeps a colon in the name from being read as a protocol; the faststart pass opens
  // the file again by this name.
  const std::string url = "file:" + path;
  if (int r = avformat_alloc_output_context2(&s.fmt, nullptr, "mp4", url.c_str()); r < 0 || !s.fmt)
    return fail(ErrorCode::WriteFailed, "no mp4 muxer: " + ffmpegError(r));
  s.stream = avformat_new_stream(s.fmt, nullptr);
  AVCodecParameters* par = s.stream->codecpar;
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = header.codec == VideoCodec::Hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
  if (header.codec == VideoCodec::Hevc) par->codec_tag = MKTAG('h', 'v', 'c', '1');  // what players expect
  par->width = header.width;
  par->height = header.height;
  par->extradata = static_cast<std::uint8_t*>(av_mallocz(header.parameterSets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  std::copy(header.parameterSets.begin(), header.parameterSets.end(), par->extradata);
  par->extradata_size = static_cast<int>(header.parameterSets.size());
  s.stream->time_base = AVRational{1, kTimeBase};
  if (!header.creationTime.empty()) av_dict_set(&s.fmt->metadata, "creation_time", header.creationTime.c_str(), 0);
  if (header.clockTrack) {
    // A 3GPP timed-text sample entry: no display flags, centred at the bottom, transparent
    // background, white text of size 18 in font 1 ("Sans").
    static const std::uint8_t kTextEntry[] = {0, 0, 0, 0, 0x01, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                              0, 0, 0, 0, 0, 1, 0, 18, 0xFF, 0xFF, 0xFF, 0xFF,
                                              0, 0, 0, 17, 'f', 't', 'a', 'b', 0, 1, 0, 1, 4, 'S', 'a', 'n', 's'};
    s.cues = avformat_new_stream(s.fmt, nullptr);
    AVCodecParameters* text = s.cues->codecpar;
    text->codec_type = AVMEDIA_TYPE_SUBTITLE;
    text->codec_id = AV_CODEC_ID_MOV_TEXT;
    text->extradata = static_cast<std::uint8_t*>(av_mallocz(sizeof kTextEntry + AV_INPUT_BUFFER_PADDING_SIZE));
    std::copy(std::begin(kTextEntry), std::end(kTextEntry), text->extradata);
    text->extradata_size = static_cast<int>(sizeof kTextEntry);
    s.cues->time_base = AVRational{1, kTimeBase};
  }

  if (header.audio) {
    s.audio = avformat_new_stream(s.fmt, nullptr);
    AVCodecParameters* a = s.audio->codecpar;
    a->codec_type = AVMEDIA_TYPE_AUDIO;
    a->codec_id = AV_CODEC_ID_AAC;
    a->sample_rate = header.audio->sampleRate;
    av_channel_layout_default(&a->ch_layout, header.audio->channels);
    a->frame_size = 1024;
    a->extradata = static_cast<std::uint8_t*>(av_mallocz(header.audio->config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::copy(header.audio->config.begin(), header.audio->config.end(), a->extradata);
    a->extradata_size = static_cast<int>(header.audio->config.size());
    s.audio->time_base = AVRational{1, header.audio->sampleRate};
  }

  s.path = path;
  if (int r = avio_open(&s.fmt->pb, url.c_str(), AVIO_FLAG_WRITE); r < 0)
    return fail(ErrorCode::WriteFailed, "cannot create " + path + ": " + ffmpegError(r));
  AVDictionary* options = nullptr;
  av_dict_set(&options, "movflags", "+faststart", 0);
  const int r = avformat_write_header(s.fmt, &options);
  av_dict_free(&options);
  if (r < 0) return fail(ErrorCode::WriteFailed, "cannot start " + path + ": " + ffmpegError(r));
  s.headerWritten = true;
  return {};
}

Result<void> Mp4Writer::write(const AccessUnit& unit, std::int64_t pts, std::int64_t dts, std::int64_t duration) {
  State& s = *m_state;
  if (!s.headerWritten) return fail(ErrorCode::InvalidArgument, "the file is not open");
  if (av_new_packet(s.packet, static_cast<int>(unit.bytes.size())) < 0) return fail(ErrorCode::WriteFailed, "out of memory");
  std::copy(unit.bytes.begin(), unit.bytes.end(), s.packet->data);
  s.packet->stream_index = s.stream->index;
  const AVRational ours{1, kTimeBase};
  s.packet->pts = av_rescale_q(pts, ours, s.stream->time_base);
  s.packet->dts = av_rescale_q(dts, ours, s.stream->time_base);
  s.packet->duration = av_rescale_q(duration, ours, s.stream->time_base);
  if (unit.key) s.packet->flags |= AV_PKT_FLAG_KEY;
  return sendPacket(s, "a frame");
}

Result<void> Mp4Writer::writeAudio(std::span<const std::uint8_t> frame, std::int64_t pts, std::int64_t duration) {
  State& s = *m_state;
  if (!s.headerWritten || !s.audio) return fail(ErrorCode::InvalidArgument, "the file has no audio track");
  if (av_new_packet(s.packet, static_cast<int>(frame.size())) < 0) return fail(ErrorCode::WriteFailed, "out of memory");
  std::copy(frame.begin(), frame.end(), s.packet->data);
  s.packet->stream_index = s.audio->index;
  const AVRational ours{1, s.audio->codecpar->sample_rate};
  s.packet->pts = s.packet->dts = av_rescale_q(pts, ours, s.audio->time_base);
  s.packet->duration = av_rescale_q(duration, ours, s.audio->time_base);
  s.packet->flags |= AV_PKT_FLAG_KEY;
  return sendPacket(s, "an audio frame");
}

Result<void> Mp4Writer::writeCue(const std::string& text, std::int64_t pts, std::int64_t duration) {
  State& s = *m_state;
  if (!s.headerWritten || !s.cues) return fail(ErrorCode::InvalidArgument, "the file has no clock track");
  // A timed-text sample: the text's length (16 bits, big-endian), then the text.
  const std::size_t n = std::min<std::size_t>(text.size(), 0xFFFF);
  if (av_new_packet(s.packet, static_cast<int>(n + 2)) < 0) return fail(ErrorCode::WriteFailed, "out of memory");
  s.packet->data[0] = static_cast<std::uint8_t>(n >> 8);
  s.packet->data[1] = static_cast<std::uint8_t>(n);
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), s.packet->data + 2);
  s.packet->stream_index = s.cues->index;
  const AVRational ours{1, kTimeBase};
  s.packet->pts = s.packet->dts = av_rescale_q(pts, ours, s.cues->time_base);
  s.packet->duration = av_rescale_q(duration, ours, s.cues->time_base);
  s.packet->flags |= AV_PKT_FLAG_KEY;
  const int r = av_write_frame(s.fmt, s.packet);
  av_packet_unref(s.packet);
  if (r < 0) return fail(ErrorCode::WriteFailed, "a clock cue could not be written: " + ffmpegError(r));
  return {};
}

Result<void> Mp4Writer::finish() {
  State& s = *m_state;
  if (!s.headerWritten) return fail(ErrorCode::InvalidArgument, "the file is not open");
  const int r = av_write_trailer(s.fmt);
  const int c = avio_closep(&s.fmt->pb);
  if (r < 0 || c < 0) return fail(ErrorCode::WriteFailed, "cannot finish " + s.path + ": " + ffmpegError(r < 0 ? r : c));
  s.finished = true;
  return {};
}

}  // namespace norvale::convert
