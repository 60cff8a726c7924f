#include "convert/stream_library.h"

#include <algorithm>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include "convert/ffmpeg_support.h"
#include "convert/unit_pipeline.h"

namespace norvale::convert {

namespace {

struct IoState {
  ByteSource* bytes = nullptr;
  std::uint64_t size = 0;
  std::uint64_t pos = 0;
};

int readPacket(void* opaque, std::uint8_t* buf, int size) {
  auto* io = static_cast<IoState*>(opaque);
  if (io->pos >= io->size) return AVERROR_EOF;
  auto got = io->bytes->readAt(io->pos, std::span(buf, static_cast<std::size_t>(size)));
  if (!got || *got == 0) return AVERROR_EOF;
  io->pos += *got;
  return static_cast<int>(*got);
}

std::int64_t seekPacket(void* opaque, std::int64_t offset, int whence) {
  auto* io = static_cast<IoState*>(opaque);
  if (whence == AVSEEK_SIZE) return static_cast<std::int64_t>(io->size);
  whence &= ~AVSEEK_FORCE;
  std::int64_t target = offset;
  if (whence == SEEK_CUR) target += static_cast<std::int64_t>(io->pos);
  else if (whence == SEEK_END) target += static_cast<std::int64_t>(io->size);
  if (target < 0) return AVERROR(EINVAL);
  io->pos = static_cast<std::uint64_t>(target);
  return target;
}

}  // namespace

StreamSummary readWithDemuxer(const StreamInput& input, const char* formatName, const UnitSink& sink, const AudioSink& audioSink) {
  quietFfmpeg();
  StreamSummary out;
  out.exactTimes = true;
  IoState io{input.bytes, input.bytes->size().value_or(0), 0};
  constexpr int kIoBytes = 1 << 16;
  auto* ioBuffer = static_cast<std::uint8_t*>(av_malloc(kIoBytes));
  AVIOContext* avio = avio_alloc_context(ioBuffer, kIoBytes, 0, &io, &readPacket, nullptr, &seekPacket);
  AVFormatContext* fmt = avformat_alloc_context();
  fmt->pb = avio;
  fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
  const AVInputFormat* format = av_find_input_format(formatName);
  Pipeline pipe(sink);
  std::uint64_t audio = 0, video = 0;
  std::string foreign;
  if (!format || avformat_open_input(&fmt, nullptr, format, nullptr) < 0) {
    out.unsupported = std::string("unsupported payload: the ") + formatName + " demuxer cannot read the file";
  } else {
    AVPacket* packet = av_packet_alloc();
    int videoStream = -1;
    std::optional<double> firstTime;
    const double base = calendarSeconds(input.convention, input.entryStart).value_or(0);
    while (!pipe.stopped && av_read_frame(fmt, packet) >= 0) {
      if (stopRequested(input)) {
        out.stopped = true;
        av_packet_unref(packet);
        break;
      }
      const AVStream* stream = fmt->streams[packet->stream_index];
      const AVCodecParameters* par = stream->codecpar;
      if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
        ++audio;
        if (audioSink && packet->size > 0) {
          AudioPacket a;
          switch (par->codec_id) {
            case AV_CODEC_ID_PCM_ALAW: a.format = AudioFormat::Alaw; break;
            case AV_CODEC_ID_PCM_MULAW: a.format = AudioFormat::Mulaw; break;
            case AV_CODEC_ID_PCM_S16LE: a.format = AudioFormat::Pcm16; break;
            case AV_CODEC_ID_AAC: a.format = AudioFormat::Aac; break;
            default: a.format = AudioFormat::Other;
          }
          a.name = avcodec_get_name(par->codec_id);
          a.sampleRate = par->sample_rate > 0 ? par->sample_rate : 8000;
          a.channels = std::max(1, par->ch_layout.nb_channels);
          a.payload = std::span<const std::uint8_t>(packet->data, static_cast<std::size_t>(packet->size));
          a.origin = packet->pos >= 0 ? static_cast<std::uint64_t>(packet->pos) : 0;
          audioSink(a);
        }
      }
      if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        ++video;
        if (par->codec_id != AV_CODEC_ID_H264 && par->codec_id != AV_CODEC_ID_HEVC) {
          if (foreign.empty()) foreign = par->codec_id == AV_CODEC_ID_MPEG4 ? "MPEG-4 Part 2" : avcodec_get_name(par->codec_id);
        } else if (videoStream < 0 || videoStream == packet->stream_index) {
          videoStream = packet->stream_index;
          std::optional<double> time;
          if (packet->pts != AV_NOPTS_VALUE) {
            const double t = static_cast<double>(packet->pts) * av_q2d(stream->time_base);
            // The dhav demuxer stamps the recorder's calendar time; the program stream counts
            // from an arbitrary origin, placed at the file entry's start.
            if (std::string(formatName) == "dhav") {
              time = t;
            } else {
              if (!firstTime) firstTime = t;
              time = base + (t - *firstTime);
            }
          }
          pipe.splitter.feed(std::span<const std::uint8_t>(packet->data, static_cast<std::size_t>(packet->size)), time,
                             packet->pos >= 0 ? static_cast<std::uint64_t>(packet->pos) : 0);
          // A packet is a whole picture here.
          pipe.splitter.cut();
        }
      }
      if (input.progress) input.progress(io.pos);
      av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&fmt);
  }
  pipe.finish();
  summarise(out, pipe, foreign, audio, video);
  if (fmt) avformat_free_context(fmt);
  if (avio) {
    av_freep(&avio->buffer);
    avio_context_free(&avio);
  }
  return out;
}

}  // namespace norvale::convert
