#include "convert/decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "convert/ffmpeg_support.h"

namespace norvale::convert {

namespace {

struct Frame {
  AVFrame* f = av_frame_alloc();
  ~Frame() { av_frame_free(&f); }
};
struct Packet {
  AVPacket* p = av_packet_alloc();
  ~Packet() { av_packet_free(&p); }
};
struct CodecContext {
  AVCodecContext* c = nullptr;
  ~CodecContext() { avcodec_free_context(&c); }
};

Result<RgbPicture> toRgb(const AVFrame* frame) {
  RgbPicture out;
  out.width = frame->width;
  out.height = frame->height;
  if (out.width <= 0 || out.height <= 0) return fail(ErrorCode::Corrupt, "the picture has no size");
  SwsContext* sws = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
                                   frame->height, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!sws) return fail(ErrorCode::Corrupt, "the picture's pixel format cannot be converted");
  out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
  std::uint8_t* planes[4] = {out.rgb.data(), nullptr, nullptr, nullptr};
  int strides[4] = {out.width * 3, 0, 0, 0};
  sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
  sws_freeContext(sws);
  return out;
}

}  // namespace

struct UnitDecoder::State {
  CodecContext context;
};

UnitDecoder::UnitDecoder() : m_state(std::make_unique<State>()) {}
UnitDecoder::~UnitDecoder() = default;

int UnitDecoder::width() const { return m_state->context.c ? m_state->context.c->width : 0; }
int UnitDecoder::height() const { return m_state->context.c ? m_state->context.c->height : 0; }

Result<void> UnitDecoder::open(VideoCodec codec, std::span<const std::uint8_t> extradata) {
  quietFfmpeg();
  const AVCodec* decoder = avcodec_find_decoder(codec == VideoCodec::Hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
  if (!decoder) return fail(ErrorCode::InvalidArgument, "no decoder for the stream");
  avcodec_free_context(&m_state->context.c);
  m_state->context.c = avcodec_alloc_context3(decoder);
  AVCodecContext* c = m_state->context.c;
  c->thread_count = 1;
  if (!extradata.empty()) {
    c->extradata = static_cast<std::uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::copy(extradata.begin(), extradata.end(), c->extradata);
    c->extradata_size = static_cast<int>(extradata.size());
  }
  if (int r = avcodec_open2(c, decoder, nullptr); r < 0) return fail(ErrorCode::Corrupt, "cannot open the decoder: " + ffmpegError(r));
  return {};
}

Result<RgbPicture> UnitDecoder::decodeKey(const AccessUnit& unit) {
  AVCodecContext* c = m_state->context.c;
  if (!c) return fail(ErrorCode::InvalidArgument, "the decoder is not open");
  avcodec_flush_buffers(c);
  Packet packet;
  if (av_new_packet(packet.p, static_cast<int>(unit.bytes.size())) < 0) return fail(ErrorCode::Corrupt, "out of memory");
  std::copy(unit.bytes.begin(), unit.bytes.end(), packet.p->data);
  packet.p->flags |= AV_PKT_FLAG_KEY;
  packet.p->pts = packet.p->dts = 0;
  if (int r = avcodec_send_packet(c, packet.p); r < 0) return fail(ErrorCode::Corrupt, "the key frame does not decode: " + ffmpegError(r));
  Frame frame;
  int r = avcodec_receive_frame(c, frame.f);
  if (r == AVERROR(EAGAIN)) {
    // A decoder that holds pictures back for reordering gives this one up when drained.
    avcodec_send_packet(c, nullptr);
    r = avcodec_receive_frame(c, frame.f);
  }
  // Drained decoders take no more input until flushed: open for the next try.
  avcodec_flush_buffers(c);
  if (r < 0) return fail(ErrorCode::Corrupt, "the key frame gives no picture: " + ffmpegError(r));
  if (frame.f->decode_error_flags != 0 || (frame.f->flags & AV_FRAME_FLAG_CORRUPT))
    return fail(ErrorCode::Corrupt, "the key frame decodes with errors");
  return toRgb(frame.f);
}

Result<std::vector<std::uint8_t>> encodePng(const RgbPicture& picture) {
  quietFfmpeg();
  const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_PNG);
  if (!encoder) return fail(ErrorCode::InvalidArgument, "no PNG encoder");
  CodecContext context;
  context.c = avcodec_alloc_context3(encoder);
  context.c->width = picture.width;
  context.c->height = picture.height;
  context.c->pix_fmt = AV_PIX_FMT_RGB24;
  context.c->time_base = AVRational{1, 1};
  if (int r = avcodec_open2(context.c, encoder, nullptr); r < 0)
    return fail(ErrorCode::InvalidArgument, "cannot open the PNG encoder: " + ffmpegError(r));
  Frame frame;
  frame.f->width = picture.width;
  frame.f->height = picture.height;
  frame.f->format = AV_PIX_FMT_RGB24;
  if (av_frame_get_buffer(frame.f, 0) < 0) return fail(ErrorCode::InvalidArgument, "out of memory");
  for (int y = 0; y < picture.height; ++y)
    std::copy_n(picture.rgb.data() + static_cast<std::size_t>(y) * picture.width * 3, picture.width * 3,
                frame.f->data[0] + static_cast<std::ptrdiff_t>(y) * frame.f->linesize[0]);
  Packet packet;
  if (avcodec_send_frame(context.c, frame.f) < 0 || avcodec_send_frame(context.c, nullptr) < 0 ||
      avcodec_receive_packet(context.c, packet.p) < 0)
    return fail(ErrorCode::InvalidArgument, "the PNG encoder gave nothing");
  return std::vector<std::uint8_t>(packet.p->data, packet.p->data + packet.p->size);
}

Result<RgbPicture> decodePng(std::span<const std::uint8_t> png) {
  quietFfmpeg();
  const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_PNG);
  if (!decoder) return fail(ErrorCode::InvalidArgument, "no PNG decoder");
  CodecContext context;
  context.c = avcodec_alloc_context3(decoder);
  if (avcodec_open2(context.c, decoder, nullptr) < 0) return fail(ErrorCode::InvalidArgument, "cannot open the PNG decoder");
  Packet packet;
  if (av_new_packet(packet.p, static_cast<int>(png.size())) < 0) return fail(ErrorCode::Corrupt, "out of memory");
  std::copy(png.begin(), png.end(), packet.p->data);
  Frame frame;
  if (avcodec_send_packet(context.c, packet.p) < 0) return fail(ErrorCode::Corrupt, "not a PNG picture");
  avcodec_send_packet(context.c, nullptr);
  if (avcodec_receive_frame(context.c, frame.f) < 0) return fail(ErrorCode::Corrupt, "the PNG picture does not decode");
  return toRgb(frame.f);
}

}  // namespace norvale::convert
