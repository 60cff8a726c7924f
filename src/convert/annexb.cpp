#include "convert/annexb.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "convert/ffmpeg_support.h"

namespace norvale::convert {

namespace {

constexpr std::uint8_t kStartCode4[4] = {0, 0, 0, 1};

int h264Type(const std::vector<std::uint8_t>& b) { return b.empty() ? -1 : b[0] & 0x1F; }
int hevcType(const std::vector<std::uint8_t>& b) { return b.empty() ? -1 : (b[0] >> 1) & 0x3F; }

// Reads the bits of an RBSP: the emulation-prevention bytes (00 00 03) are dropped first.
class BitReader {
 public:
  BitReader(const std::uint8_t* data, std::size_t size, std::size_t limit = SIZE_MAX) {
    const std::size_t n = std::min(size, limit);
    m_bytes.reserve(n);
    int zeros = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (zeros >= 2 && data[i] == 3) {
        zeros = 0;
        continue;
      }
      zeros = data[i] == 0 ? zeros + 1 : 0;
      m_bytes.push_back(data[i]);
    }
  }
  bool failed() const { return m_failed; }
  std::size_t position() const { return m_pos; }
  const std::vector<std::uint8_t>& rbsp() const { return m_bytes; }
  std::uint32_t bit() {
    if (m_pos >= m_bytes.size() * 8) {
      m_failed = true;
      return 0;
    }
    const std::uint32_t v = (m_bytes[m_pos / 8] >> (7 - m_pos % 8)) & 1;
    ++m_pos;
    return v;
  }
  std::uint32_t bits(int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | bit();
    return v;
  }
  // Exp-Golomb; anything past 31 leading zeros is damage.
  std::uint32_t ue() {
    int zeros = 0;
    while (bit() == 0) {
      if (m_failed || ++zeros > 31) {
        m_failed = true;
        return 0;
      }
    }
    if (zeros == 0) return 0;
    return static_cast<std::uint32_t>((1ull << zeros) - 1 + bits(zeros));
  }
  std::int32_t se() {
    const std::uint32_t v = ue();
    return (v & 1) ? static_cast<std::int32_t>((v + 1) / 2) : -static_cast<std::int32_t>(v / 2);
  }

 private:
  std::vector<std::uint8_t> m_bytes;
  std::size_t m_pos = 0;
  bool m_failed = false;
};

// Reads through `count` scaling lists (the first six 4x4, the rest 8x8), each behind its flag.
void skipScalingLists(BitReader& r, int count) {
  for (int i = 0; i < count; ++i) {
    if (!r.bit()) continue;
    int last = 8, next = 8;
    for (int j = 0; j < (i < 6 ? 16 : 64); ++j) {
      if (next != 0) next = (last + r.se() + 256) % 256;
      last = next == 0 ? last : next;
    }
  }
}

bool highProfile(std::uint32_t profile) {
  switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128: case 138: case 139:
    case 134: case 135:
      return true;
    default:
      return false;
  }
}

bool knownProfile(std::uint32_t profile) { return profile == 66 || profile == 77 || profile == 88 || highProfile(profile); }

// The position of an RBSP's stop bit (its last 1 bit); empty when it has none.
std::optional<std::size_t> stopBitOf(const std::vector<std::uint8_t>& rbsp) {
  std::size_t last = rbsp.size();
  while (last > 0 && rbsp[last - 1] == 0) --last;
  if (last == 0) return std::nullopt;
  return (last - 1) * 8 + 7 - static_cast<std::size_t>(__builtin_ctz(rbsp[last - 1]));
}

void appendNal(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> body) {
  out.insert(out.end(), std::begin(kStartCode4), std::end(kStartCode4));
  out.insert(out.end(), body.begin(), body.end());
}

// The NAL units of a unit (each behind a 4-byte start code) as spans of their bodies.
std::vector<std::span<const std::uint8_t>> nalsOf(const std::vector<std::uint8_t>& b) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i + 4 <= b.size(); ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 0 && b[i + 3] == 1) starts.push_back(i + 4), i += 3;
  std::vector<std::span<const std::uint8_t>> nals;
  for (std::size_t k = 0; k < starts.size(); ++k) {
    const std::size_t end = k + 1 < starts.size() ? starts[k + 1] - 4 : b.size();
    nals.emplace_back(b.data() + starts[k], end - starts[k]);
  }
  return nals;
}

// What the decoder reports on this thread while a check listens: errors, and how many
// macroblocks it concealed (-1: not listening).
thread_local int t_decoderErrors = -1;
thread_local int t_concealed = 0;

void listeningLog(void* context, int level, const char* format, va_list args) {
  if (t_decoderErrors >= 0) {
    if (level <= AV_LOG_ERROR) ++t_decoderErrors;
    if (std::strncmp(format, "concealing ", 11) == 0) {
      char text[128];
      va_list copy;
      va_copy(copy, args);
      std::vsnprintf(text, sizeof text, format, copy);
      va_end(copy);
      int dc = 0;
      if (std::sscanf(text, "concealing %d DC", &dc) == 1) t_concealed += dc;
    }
  }
  av_log_default_callback(context, level, format, args);
}

struct Decoded {
  std::vector<std::uint8_t> planes;
  int concealed = 0;  // macroblocks no slice covered
  bool operator==(const Decoded&) const = default;
};

// Decodes one access unit on its own with libavcodec (missing references are made up, the same
// way each time): the picture, or nothing when no picture came out or the decoder found an
// error in the unit.
std::optional<Decoded> decodeAlone(const std::vector<std::uint8_t>& unit) {
  quietFfmpeg();
  static const bool listening = (av_log_set_callback(listeningLog), true);
  (void)listening;
  t_decoderErrors = 0;
  t_concealed = 0;
  // One decoder per thread, emptied before each unit: opening one costs more than the decode.
  struct Decoder {
    AVCodecContext* c = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool open = false;
    Decoder() {
      const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
      if (!codec || !(c = avcodec_alloc_context3(codec))) return;
      c->thread_count = 1;
      c->flags2 |= AV_CODEC_FLAG2_SHOW_ALL;
      open = packet && frame && avcodec_open2(c, codec, nullptr) >= 0;
    }
    ~Decoder() {
      av_frame_free(&frame);
      av_packet_free(&packet);
      avcodec_free_context(&c);
    }
  };
  thread_local Decoder decoder;
  if (!decoder.open) return std::nullopt;
  AVCodecContext* c = decoder.c;
  AVPacket* packet = decoder.packet;
  AVFrame* frame = decoder.frame;
  avcodec_flush_buffers(c);
  std::optional<Decoded> out;
  if (av_new_packet(packet, static_cast<int>(unit.size())) >= 0) {
    std::copy(unit.begin(), unit.end(), packet->data);
    avcodec_send_packet(c, packet);
    avcodec_send_packet(c, nullptr);
    if (avcodec_receive_frame(c, frame) >= 0 && frame->format == AV_PIX_FMT_YUV420P) {
      out.emplace();
      for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? (frame->width + 1) / 2 : frame->width;
        const int h = plane ? (frame->height + 1) / 2 : frame->height;
        for (int y = 0; y < h; ++y)
          out->planes.insert(out->planes.end(), frame->data[plane] + static_cast<std::ptrdiff_t>(y) * frame->linesize[plane],
                      frame->data[plane] + static_cast<std::ptrdiff_t>(y) * frame->linesize[plane] + w);
      }
    }
  }
  av_frame_unref(frame);
  av_packet_unref(packet);
  if (t_decoderErrors > 0) out.reset();
  if (out) out->concealed = t_concealed;
  t_decoderErrors = -1;
  return out;
}

// Writes an RBSP bit by bit and wraps it as a NAL unit body (emulation prevention added).
class BitWriter {
 public:
  void bit(std::uint32_t v) {
    if (m_count % 8 == 0) m_bytes.push_back(0);
    if (v) m_bytes.back() |= static_cast<std::uint8_t>(0x80 >> (m_count % 8));
    ++m_count;
  }
  void ue(std::uint32_t v) {
    const std::uint64_t x = static_cast<std::uint64_t>(v) + 1;
    int length = 0;
    while ((x >> length) > 1) ++length;
    for (int i = 0; i < length; ++i) bit(0);
    for (int i = length; i >= 0; --i) bit(static_cast<std::uint32_t>((x >> i) & 1));
  }
  std::vector<std::uint8_t> nal(std::uint8_t header) const {
    std::vector<std::uint8_t> out{header};
    int zeros = 0;
    for (const std::uint8_t b : m_bytes) {
      if (zeros >= 2 && b <= 3) out.push_back(3), zeros = 0;
      out.push_back(b);
      zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
  }

 private:
  std::vector<std::uint8_t> m_bytes;
  std::size_t m_count = 0;
};

// Bytes that stand for whatever may follow a slice: three unrelated patterns.
std::vector<std::uint8_t> continuation(std::uint32_t seed) {
  std::vector<std::uint8_t> out(4096);
  for (auto& b : out) seed = seed * 1664525u + 1013904223u, b = static_cast<std::uint8_t>(seed >> 24 | 0x40);
  return out;
}

}  // namespace

const char* codecName(VideoCodec codec) {
  switch (codec) {
    case VideoCodec::H264: return "h264";
    case VideoCodec::Hevc: return "hevc";
    default: return "";
  }
}

std::string foreignPayloadName(std::span<const std::uint8_t> b) {
  if (b.empty()) return {};
  // Start codes that H.264 and H.265 cannot have: their forbidden bit is set.
  switch (b[0]) {
    case 0xB0: case 0xB5: case 0xB6: return "MPEG-4 Part 2";
    case 0xB3: case 0xB8: return "MPEG-2 video";
    default: return {};
  }
}

// ---- NalSplitter ----

void NalSplitter::feed(std::span<const std::uint8_t> bytes, std::optional<double> second, std::uint64_t origin) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::uint8_t b = bytes[i];
    if (b == 0) {
      ++m_zeros;
      continue;
    }
    if (b == 1 && m_zeros >= 2) {
      if (m_inUnit) {
        m_sink(Nal{std::move(m_current), m_second, m_origin});
        m_current = {};
      } else if (m_zeros > 3) {
        m_skipped += static_cast<std::uint64_t>(m_zeros - 3);
      }
      m_inUnit = true;
      m_second = second;
      m_origin = m_exactOrigins ? origin + i - static_cast<std::uint64_t>(std::min(m_zeros, 3)) : origin;
      m_zeros = 0;
      continue;
    }
    if (m_inUnit) {
      m_current.insert(m_current.end(), static_cast<std::size_t>(m_zeros), 0);
      m_current.push_back(b);
    } else {
      m_skipped += static_cast<std::uint64_t>(m_zeros) + 1;
    }
    m_zeros = 0;
  }
}

void NalSplitter::cut() {
  // Zeros at the end of a unit are trailing bytes, not part of it.
  if (m_inUnit && !m_current.empty()) m_sink(Nal{std::move(m_current), m_second, m_origin});
  else if (!m_inUnit) m_skipped += static_cast<std::uint64_t>(m_zeros);
  m_current = {};
  m_inUnit = false;
  m_zeros = 0;
}

// ---- AccessUnitBuilder ----

void AccessUnitBuilder::detect(const std::vector<std::uint8_t>& b) {
  if (b.size() >= 2 && (b[0] == 0x40 || b[0] == 0x42) && b[1] == 0x01) {
    m_codec = VideoCodec::Hevc;
  } else if (b.size() >= 4 && (b[0] == 0x27 || b[0] == 0x47 || b[0] == 0x67) && knownProfile(b[1])) {
    m_codec = VideoCodec::H264;
  } else if (m_foreign.empty()) {
    m_foreign = foreignPayloadName(b);
  }
}

bool AccessUnitBuilder::headerValid(const std::vector<std::uint8_t>& b) const {
  if (b.empty() || (b[0] & 0x80)) return false;
  if (m_codec == VideoCodec::H264) {
    const int type = h264Type(b);
    const int ref = (b[0] >> 5) & 3;
    if (type == 0 || type > 23) return false;
    if ((type == 5 || type == 7 || type == 8) && ref == 0) return false;
    if ((type == 6 || type == 9 || type == 10 || type == 11 || type == 12) && ref != 0) return false;
    // Reserved types; the scalable and multiview extensions only with their own SPS (its
    // profile one of theirs).
    if ((type >= 16 && type <= 18) || type >= 21) return false;
    if (type == 15 && (b.size() < 2 || !(b[1] == 83 || b[1] == 86 || b[1] == 118 || b[1] == 128 || b[1] == 134 || b[1] == 135 || b[1] == 138 || b[1] == 139)))
      return false;
    if ((type == 14 || type == 20) && !m_haveSubsetSps) return false;
    // Parameter sets and SEI have no entropy-coded data that could hide a run-on into foreign
    // bytes: 00 00 00 and 00 00 02 cannot occur inside a NAL unit.
    if (type != 1 && type != 5)
      for (std::size_t i = 2; i < b.size(); ++i)
        if (b[i - 2] == 0 && b[i - 1] == 0 && b[i] <= 2) return false;
    return b.size() >= 2;
  }
  if (b.size() < 3) return false;
  const int type = hevcType(b);
  const int layer = ((b[0] & 1) << 5) | (b[1] >> 3);
  const int tid = b[1] & 7;
  if (layer != 0 || tid == 0) return false;
  return type <= 9 || (type >= 16 && type <= 21) || (type >= 32 && type <= 40);
}

bool AccessUnitBuilder::isVcl(const std::vector<std::uint8_t>& b) const {
  if (m_codec == VideoCodec::H264) return h264Type(b) >= 1 && h264Type(b) <= 5;
  return hevcType(b) >= 0 && hevcType(b) <= 31;
}

bool AccessUnitBuilder::isKeyVcl(const std::vector<std::uint8_t>& b) const {
  if (m_codec == VideoCodec::H264) return h264Type(b) == 5;
  return hevcType(b) >= 16 && hevcType(b) <= 23;
}

bool AccessUnitBuilder::startsPicture(const std::vector<std::uint8_t>& b) const {
  if (m_codec == VideoCodec::H264) {
    const int type = h264Type(b);
    if (type == 1 || type == 5) return b.size() >= 2 && (b[1] & 0x80);  // first_mb_in_slice == 0
    return type == 6 || type == 7 || type == 8 || type == 9 || (type >= 14 && type <= 18);
  }
  const int type = hevcType(b);
  if (type <= 31) return b.size() >= 3 && (b[2] & 0x80);  // first_slice_segment_in_pic_flag
  return type == 32 || type == 33 || type == 34 || type == 35 || type == 39;
}

bool AccessUnitBuilder::learnParameterSet(const std::vector<std::uint8_t>& b) {
  const int type = h264Type(b);
  if (type == 7) {
    BitReader r(b.data() + 1, b.size() - 1);
    const std::uint32_t profile = r.bits(8);
    r.bits(16);  // constraint flags and level
    const std::uint32_t id = r.ue();
    if (r.failed() || id > 31) return true;
    H264Sps sps;
    if (highProfile(profile)) {
      const std::uint32_t chroma = r.ue();
      if (chroma > 3) return true;
      if (chroma == 3) sps.separateColourPlane = r.bit();
      sps.chroma3 = chroma == 3;
      r.ue();  // bit depths
      r.ue();
      r.bit();
      if (r.bit()) skipScalingLists(r, chroma != 3 ? 8 : 12);
    }
    const std::uint32_t log2FrameNum = r.ue() + 4;
    if (log2FrameNum > 16) return true;
    sps.log2MaxFrameNum = static_cast<int>(log2FrameNum);
    const std::uint32_t pocType = r.ue();
    sps.pocType = pocType;
    if (pocType == 0) {
      const std::uint32_t log2Lsb = r.ue() + 4;
      if (log2Lsb > 16) return true;
      sps.log2MaxPocLsb = static_cast<int>(log2Lsb);
    } else if (pocType == 1) {
      r.bit();
      r.se();
      r.se();
      const std::uint32_t cycle = r.ue();
      if (cycle > 255) return true;
      for (std::uint32_t i = 0; i < cycle; ++i) r.se();
    } else if (pocType != 2) {
      return true;
    }
    r.ue();  // max_num_ref_frames
    sps.gapsAllowed = r.bit();
    const std::uint32_t width = r.ue() + 1;
    sps.heightFrom = r.position();
    const std::uint32_t height = r.ue() + 1;
    sps.heightTo = r.position();
    sps.heightInMapUnits = height;
    sps.widthInMbs = width;
    const std::uint32_t frameMbsOnly = r.bit();
    if (r.failed() || width > 1024 || height > 1024) return true;
    sps.picSizeInMbs = width * height * (2 - frameMbsOnly);
    sps.frameMbsOnly = frameMbsOnly != 0;
    sps.valid = true;
    sps.profile = profile;
    sps.body = b;
    m_sps[id] = sps;
  } else if (type == 8) {
    BitReader r(b.data() + 1, b.size() - 1);
    const std::uint32_t id = r.ue();
    const std::uint32_t spsId = r.ue();
    const bool cabac = r.bit();
    if (r.failed() || id > 255 || spsId > 31 || !m_sps[spsId].valid) return false;
    r.bit();  // bottom_field_pic_order_in_frame_present_flag
    const std::uint32_t sliceGroups = r.ue();
    // Slice groups (baseline only) are taken on trust; otherwise every field is checked and the
    // stop bit must follow the last one.
    if (sliceGroups == 0) {
      const std::uint32_t refL0 = r.ue(), refL1 = r.ue();
      r.bit();
      const std::uint32_t bipred = r.bits(2);
      const std::int32_t qp = r.se(), qs = r.se(), chromaOffset = r.se();
      r.bits(3);
      if (r.failed() || refL0 > 31 || refL1 > 31 || bipred > 2 || qp < -62 || qp > 25 || qs < -26 || qs > 25 ||
          chromaOffset < -12 || chromaOffset > 12)
        return false;
      const auto stopBit = stopBitOf(r.rbsp());
      if (!stopBit) return false;
      if (r.position() != *stopBit) {
        const bool transform8x8 = r.bit();
        if (r.bit()) skipScalingLists(r, 6 + (transform8x8 ? (m_sps[spsId].chroma3 ? 6 : 2) : 0));
        const std::int32_t second = r.se();
        if (r.failed() || second < -12 || second > 12 || r.position() != *stopBit) return false;
      }
    } else if (sliceGroups > 7 || !(m_sps[spsId].profile == 66 || m_sps[spsId].profile == 88)) {
      return false;
    }
    m_pps[id] = H264Pps{true, spsId, cabac, b};
  }
  return true;
}

void AccessUnitBuilder::learnHevcParameterSet(const std::vector<std::uint8_t>& b) {
  const int type = hevcType(b);
  if (type == 33) {
    BitReader r(b.data() + 2, b.size() - 2);
    r.bits(4);  // sps_video_parameter_set_id
    const std::uint32_t subLayers = r.bits(3);
    r.bit();
    // profile_tier_level: 96 bits of the general profile and level, then the sub-layers'.
    for (int i = 0; i < 3; ++i) r.bits(32);
    bool profilePresent[8] = {}, levelPresent[8] = {};
    for (std::uint32_t i = 0; i < subLayers; ++i) profilePresent[i] = r.bit(), levelPresent[i] = r.bit();
    if (subLayers > 0)
      for (std::uint32_t i = subLayers; i < 8; ++i) r.bits(2);
    for (std::uint32_t i = 0; i < subLayers; ++i) {
      if (profilePresent[i]) r.bits(32), r.bits(32), r.bits(24);
      if (levelPresent[i]) r.bits(8);
    }
    const std::uint32_t id = r.ue();
    const std::uint32_t chroma = r.ue();
    if (r.failed() || id > 15 || chroma > 3) return;
    HevcSps sps;
    if (chroma == 3) sps.separateColourPlane = r.bit();
    r.ue();  // picture width and height
    r.ue();
    if (r.bit())  // conformance window
      for (int i = 0; i < 4; ++i) r.ue();
    r.ue();  // bit depths
    r.ue();
    const std::uint32_t log2Lsb = r.ue() + 4;
    if (r.failed() || log2Lsb > 16) return;
    sps.log2MaxPocLsb = static_cast<int>(log2Lsb);
    sps.valid = true;
    m_hevcSps[id] = sps;
  } else if (type == 34) {
    BitReader r(b.data() + 2, b.size() - 2, 16);
    const std::uint32_t id = r.ue();
    const std::uint32_t spsId = r.ue();
    HevcPps pps{true, spsId};
    pps.dependentSlices = r.bit();
    pps.outputFlagPresent = r.bit();
    pps.extraSliceHeaderBits = static_cast<int>(r.bits(3));
    if (r.failed() || id > 63 || spsId > 15) return;
    m_hevcPps[id] = pps;
  }
}

std::optional<std::uint32_t> AccessUnitBuilder::hevcPocLsb(const std::vector<std::uint8_t>& b, std::uint32_t& spsId) const {
  BitReader r(b.data() + 2, b.size() - 2, 64);
  if (!r.bit()) return std::nullopt;  // first_slice_segment_in_pic_flag: only a picture's first segment
  const int type = hevcType(b);
  if (type >= 16 && type <= 23) r.bit();  // no_output_of_prior_pics_flag
  const std::uint32_t ppsId = r.ue();
  if (r.failed() || ppsId > 63 || !m_hevcPps[ppsId].valid) return std::nullopt;
  const HevcPps& pps = m_hevcPps[ppsId];
  const HevcSps& sps = m_hevcSps[pps.spsId];
  if (!sps.valid) return std::nullopt;
  // A picture's first segment is never a dependent one: its header follows in full.
  r.bits(pps.extraSliceHeaderBits);
  const std::uint32_t sliceType = r.ue();
  if (pps.outputFlagPresent) r.bit();
  if (sps.separateColourPlane) r.bits(2);
  std::uint32_t lsb = 0;  // IDR pictures carry none: their count is 0
  if (type != 19 && type != 20) lsb = r.bits(sps.log2MaxPocLsb);
  if (r.failed() || sliceType > 2) return std::nullopt;
  spsId = pps.spsId;
  return lsb;
}

bool AccessUnitBuilder::checkH264Slice(const std::vector<std::uint8_t>& b, std::uint32_t& frameNum,
                                       bool& reference, std::uint32_t& spsId,
                                       std::optional<std::uint32_t>& pocLsb) const {
  BitReader r(b.data() + 1, b.size() - 1, 48);
  const std::uint32_t firstMb = r.ue();
  const std::uint32_t sliceType = r.ue();
  const std::uint32_t ppsId = r.ue();
  if (r.failed() || sliceType > 9 || ppsId > 255 || !m_pps[ppsId].valid) return false;
  spsId = m_pps[ppsId].spsId;
  const H264Sps& sps = m_sps[spsId];
  if (!sps.valid || firstMb >= sps.picSizeInMbs) return false;
  if (sps.separateColourPlane) r.bits(2);
  frameNum = r.bits(sps.log2MaxFrameNum);
  if (r.failed()) return false;
  if (h264Type(b) == 5 && frameNum != 0) return false;
  reference = ((b[0] >> 5) & 3) != 0;
  pocLsb.reset();
  if (sps.pocType == 0) {
    bool field = false;
    if (!sps.frameMbsOnly && (field = r.bit())) r.bit();
    if (h264Type(b) == 5) r.ue();  // idr_pic_id
    const std::uint32_t lsb = r.bits(sps.log2MaxPocLsb);
    // Field pictures pair up in one unit: their order stays that of decoding.
    if (!r.failed() && !field) pocLsb = lsb;
  }
  return true;
}

std::vector<std::uint8_t> AccessUnitBuilder::tallerSps(const H264Sps& sps) {
  BitReader r(sps.body.data() + 1, sps.body.size() - 1);
  const auto& rbsp = r.rbsp();
  // The stop bit ends what is copied; the writer pads to the byte.
  const auto stopBit = stopBitOf(rbsp);
  if (!stopBit) return {};
  auto bitAt = [&](std::size_t k) { return static_cast<std::uint32_t>((rbsp[k / 8] >> (7 - k % 8)) & 1); };
  BitWriter w;
  for (std::size_t k = 0; k < sps.heightFrom; ++k) w.bit(bitAt(k));
  w.ue(sps.heightInMapUnits);  // one map unit more than before
  for (std::size_t k = sps.heightTo; k <= *stopBit; ++k) w.bit(bitAt(k));
  return w.nal(sps.body[0]);
}

std::optional<std::size_t> AccessUnitBuilder::runOnBytes(const std::vector<std::uint8_t>& unit) const {
  const auto nals = nalsOf(unit);
  if (nals.empty()) return std::nullopt;
  const auto slice = nals.back();
  const int type = slice.empty() ? -1 : slice[0] & 0x1F;
  if (type != 1 && type != 5) return std::nullopt;
  BitReader r(slice.data() + 1, slice.size() - 1, 16);
  r.ue();
  r.ue();
  const std::uint32_t ppsId = r.ue();
  if (r.failed() || ppsId > 255 || !m_pps[ppsId].valid) return std::nullopt;
  const H264Pps& pps = m_pps[ppsId];
  const H264Sps& sps = m_sps[pps.spsId];
  if (!sps.valid) return std::nullopt;
  // The unit with the given SPS, the slice cut to `length` bytes and followed by `tail`.
  auto assemble = [&](const std::vector<std::uint8_t>& spsBody, std::size_t length, const std::vector<std::uint8_t>* tail) {
    std::vector<std::uint8_t> out;
    appendNal(out, spsBody);
    appendNal(out, pps.body);
    for (std::size_t k = 0; k + 1 < nals.size(); ++k)
      if ((nals[k][0] & 0x1F) != 7 && (nals[k][0] & 0x1F) != 8) appendNal(out, nals[k]);
    appendNal(out, slice.first(length));
    if (tail) out.insert(out.end(), tail->begin(), tail->end());
    return out;
  };
  const auto taller = tallerSps(sps);
  if (taller.empty()) return std::nullopt;
  // CAVLC slices end where their bits end: below a picture one row taller, a slice whose bits
  // end with the picture's last macroblock leaves the new row to concealment; one that runs on
  // decodes its extra bits into that row, or fails. Where such a slice would end inside foreign
  // bytes cannot be told from its bits, so it is only kept whole.
  const int newRow = static_cast<int>(sps.widthInMbs * (sps.frameMbsOnly ? 1 : 2));
  if (!pps.cabac) {
    const auto alone = decodeAlone(assemble(taller, slice.size(), nullptr));
    return alone && alone->concealed == newRow ? std::optional<std::size_t>(0) : std::nullopt;
  }
  // A slice after slices that already cover the picture is foreign bytes that looked like one.
  const auto vcl = std::count_if(nals.begin(), nals.end(), [](auto n) { return (n[0] & 0x1F) == 1 || (n[0] & 0x1F) == 5; });
  if (vcl > 1) {
    const std::vector<std::uint8_t> before(unit.begin(), unit.end() - static_cast<std::ptrdiff_t>(slice.size() + 4));
    std::vector<std::uint8_t> alone;
    appendNal(alone, sps.body);
    appendNal(alone, pps.body);
    alone.insert(alone.end(), before.begin(), before.end());
    const auto covered = decodeAlone(alone);
    if (covered && covered->concealed == 0) {
      const auto rest = runOnBytes(before);
      return rest ? std::optional<std::size_t>(*rest + slice.size() + 4) : std::nullopt;
    }
  }
  const auto whole = decodeAlone(assemble(sps.body, slice.size(), nullptr));
  if (!whole) return std::nullopt;
  const std::vector<std::uint8_t> tails[3] = {continuation(1), continuation(2), continuation(3)};
  // The picture does not depend on the bytes after `length`.
  auto settled = [&](std::size_t length) {
    const auto a = decodeAlone(assemble(sps.body, length, &tails[0]));
    const auto b = decodeAlone(assemble(sps.body, length, &tails[1]));
    return a && b && *a == *whole && *b == *whole;
  };
  if (whole->concealed != 0) return std::nullopt;
  // The common case, a slice that ran on into nothing: its last byte counts, and it ends with
  // the picture's last macroblock.
  if (slice.size() > 1 && !(decodeAlone(assemble(sps.body, slice.size() - 1, nullptr)) == whole)) {
    const auto alone = decodeAlone(assemble(taller, slice.size(), nullptr));
    if (alone && alone->concealed == newRow) return 0;
  }
  if (!settled(slice.size())) return std::nullopt;
  std::size_t lo = 1, hi = slice.size();
  while (hi - lo > 1) {
    const std::size_t mid = lo + (hi - lo) / 2;
    (settled(mid) ? hi : lo) = mid;
  }
  // Decoding stops after the picture's last macroblock whether or not the slice says it ends
  // there. Below a picture one row taller, only a slice that ends there (end_of_slice_flag, the
  // last bits before its stop bit) leaves the new row to concealment, the same whatever follows;
  // a slice that runs on into foreign bytes decodes them into that row, or fails.
  for (std::size_t length = hi; length <= std::min(slice.size(), hi + 4); ++length) {
    if (slice[length - 1] == 0) continue;
    const auto a = decodeAlone(assemble(taller, length, &tails[0]));
    const auto b = decodeAlone(assemble(taller, length, &tails[1]));
    const auto c = decodeAlone(assemble(taller, length, &tails[2]));
    if (!a || !b || !c || !(*a == *b) || !(*b == *c) || a->concealed != newRow) continue;
    // What an MP4 holds: the slice cut here, and the decoder's zero padding after it.
    if (!(decodeAlone(assemble(sps.body, length, nullptr)) == whole)) continue;
    // A byte holding nothing but the stop bit still belongs to the slice.
    if (length < slice.size() && slice[length] == 0x80) ++length;
    return slice.size() - length;
  }
  return std::nullopt;
}

std::optional<std::int64_t> AccessUnitBuilder::pictureOrder(bool key, bool startsDecoding) {
  if (!m_unitPocLsb) return std::nullopt;
  const std::uint32_t lsb = *m_unitPocLsb;
  if (m_codec == VideoCodec::Hevc) {
    const int type = m_unitHevcType;
    // IDR and BLA pictures, and a CRA picture that decoding starts at, begin a new count.
    const bool fresh = (type >= 16 && type <= 20) || (key && startsDecoding);
    const std::uint32_t maxLsb = 1u << m_hevcSps[m_unitSpsId].log2MaxPocLsb;
    std::int64_t msb = 0;
    if (!fresh) {
      msb = m_prevPocMsb;
      if (lsb < m_prevPocLsb && m_prevPocLsb - lsb >= maxLsb / 2) msb += maxLsb;
      else if (lsb > m_prevPocLsb && lsb - m_prevPocLsb > maxLsb / 2) msb -= maxLsb;
    }
    // Later pictures count from the last one of temporal layer 0 that is neither a leading
    // picture nor a sub-layer non-reference picture.
    const bool leading = type >= 6 && type <= 9;
    const bool subLayerNonReference = type <= 14 && type % 2 == 0;
    if (m_unitTemporalId == 0 && !leading && !subLayerNonReference) m_prevPocMsb = msb, m_prevPocLsb = lsb;
    return msb + lsb;
  }
  if (m_codec != VideoCodec::H264 || !m_unitChecked) return std::nullopt;
  if (key) m_prevPocMsb = 0, m_prevPocLsb = 0;
  const std::uint32_t maxLsb = 1u << m_sps[m_unitSpsId].log2MaxPocLsb;
  std::int64_t msb = m_prevPocMsb;
  if (lsb < m_prevPocLsb && m_prevPocLsb - lsb >= maxLsb / 2) msb += maxLsb;
  else if (lsb > m_prevPocLsb && lsb - m_prevPocLsb > maxLsb / 2) msb -= maxLsb;
  if (m_unitReference || key) m_prevPocMsb = msb, m_prevPocLsb = lsb;
  return msb + lsb;
}

void AccessUnitBuilder::push(NalSplitter::Nal&& nal) {
  ++m_nalsSeen;
  if (m_codec == VideoCodec::Unknown) {
    detect(nal.body);
    if (m_codec == VideoCodec::Unknown) return;
  }
  // A unit that cannot be one is foreign bytes: what follows may have lost its references, and
  // a slice just before them may run on into them.
  if (!headerValid(nal.body)) {
    m_damagedBytes += nal.body.size() + 3;
    m_lossPending = true;
    m_unitRunsOn |= m_lastWasVcl;
    return;
  }
  if (m_unitHasVcl && startsPicture(nal.body)) closeUnit();
  if (m_codec == VideoCodec::H264) {
    if (!learnParameterSet(nal.body)) {
      m_damagedBytes += nal.body.size() + 3;
      m_lossPending = true;
      m_unitRunsOn |= m_lastWasVcl;
      return;
    }
    m_haveSubsetSps |= h264Type(nal.body) == 15;
  }
  else learnHevcParameterSet(nal.body);
  if (isVcl(nal.body)) {
    if (m_codec == VideoCodec::H264) {
      std::uint32_t frameNum = 0, spsId = 0;
      bool reference = false;
      std::optional<std::uint32_t> pocLsb;
      if (!checkH264Slice(nal.body, frameNum, reference, spsId, pocLsb)) {
        m_damagedBytes += nal.body.size() + 3;
        m_lossPending = true;
        m_unitRunsOn |= m_lastWasVcl;
        return;
      }
      if (!m_unitHasVcl) {
        m_unitFrameNum = frameNum;
        m_unitSpsId = spsId;
        m_unitReference = reference;
        m_unitPocLsb = pocLsb;
        m_unitChecked = true;
      }
    } else if (!m_unitHasVcl) {
      std::uint32_t spsId = 0;
      m_unitPocLsb = hevcPocLsb(nal.body, spsId);
      m_unitSpsId = spsId;
      m_unitHevcType = hevcType(nal.body);
      m_unitTemporalId = (nal.body[1] & 7) - 1;
    }
    m_unitHasVcl = true;
    if (isKeyVcl(nal.body)) m_unitKey = true;
  }
  m_lastWasVcl = isVcl(nal.body);
  if (m_nals.empty()) m_second = nal.second, m_unitOrigin = nal.origin;
  m_unitSource += nal.body.size() + 3;
  m_nals.push_back(std::move(nal.body));
}

bool AccessUnitBuilder::trimRunOn(std::vector<std::uint8_t>& unit) {
  if (m_codec != VideoCodec::H264) return false;
  const auto runOn = runOnBytes(unit);
  if (!runOn) return false;
  unit.resize(unit.size() - *runOn);
  m_damagedBytes += *runOn;
  return true;
}

void AccessUnitBuilder::markLoss(bool heldMayRunOn) {
  // Foreign bytes after the picture held back may have begun inside it.
  if (heldMayRunOn && m_held && !trimRunOn(m_held->bytes)) {
    m_damagedBytes += m_held->sourceBytes;
    m_held.reset();
    ++m_lostUnits;
  }
  ++m_losses;
  m_waitForKey = true;
  m_prevRefFrameNum.reset();
}

void AccessUnitBuilder::closeUnit() {
  closePicture();
  if (m_lossPending) {
    m_lossPending = false;
    if (m_haveKey) markLoss(true);
  }
}

void AccessUnitBuilder::closePicture() {
  // Parameter sets and SEI with no picture yet: they open the next unit.
  if (!m_unitHasVcl) return;
  const bool key = m_unitKey;
  bool drop = false;
  if (m_codec == VideoCodec::H264 && m_unitChecked && !key && m_prevRefFrameNum) {
    const H264Sps& sps = m_sps[m_unitSpsId];
    const std::uint32_t modulo = 1u << sps.log2MaxFrameNum;
    const std::uint32_t expected = (*m_prevRefFrameNum + 1) % modulo;
    if (!sps.gapsAllowed && m_unitFrameNum != expected && m_unitFrameNum != *m_prevRefFrameNum) {
      // Pictures are missing: the units that lost their start codes went into the one before,
      // which now holds foreign bytes too.
      // It is kept when its last slice is shown to end before them.
      m_lostUnits += (m_unitFrameNum + modulo - expected) % modulo;
      markLoss(true);
    }
  }
  // Before a key picture a lost start code shows in no frame number: the picture held back may
  // have swallowed the pictures up to it.
  if (key && m_codec == VideoCodec::H264 && m_held && !m_waitForKey && !trimRunOn(m_held->bytes)) {
    m_damagedBytes += m_held->sourceBytes;
    m_held.reset();
    ++m_lostUnits;
  }
  if (!drop && m_waitForKey && !key) drop = true;
  std::vector<std::uint8_t> bytes;
  for (const auto& n : m_nals) appendNal(bytes, n);
  // Foreign bytes came right after its last slice: kept only when that slice ends before them.
  if (!drop && m_unitRunsOn && !trimRunOn(bytes)) {
    drop = true;
    m_damagedBytes += m_unitSource;
    m_waitForKey = true;
  }
  // Skipped leading pictures of the CRA or BLA picture decoding started at refer to pictures
  // before it.
  const bool rasl = m_codec == VideoCodec::Hevc && (m_unitHevcType == 8 || m_unitHevcType == 9);
  if (rasl && m_skipRasl) drop = true;
  const bool startsDecoding = m_waitForKey;
  if (drop) {
    if (m_haveKey && !(rasl && m_losses == 0)) ++m_lostUnits;
    else ++m_leadingUnits;
  } else {
    if (key && m_codec == VideoCodec::Hevc) m_skipRasl = (m_unitHevcType >= 16 && m_unitHevcType <= 18) || startsDecoding;
    m_waitForKey = false;
    if (m_unitChecked) {
      if (key) m_prevRefFrameNum = m_unitFrameNum;
      else if (m_unitReference) m_prevRefFrameNum = m_unitFrameNum;
    }
    AccessUnit unit;
    unit.bytes = std::move(bytes);
    unit.second = m_second;
    unit.key = key;
    unit.order = pictureOrder(key, startsDecoding);
    unit.origin = m_unitOrigin;
    unit.codec = m_codec;
    unit.sourceBytes = m_unitSource;
    if (m_held) m_sink(std::move(*m_held));
    m_held = std::move(unit);
    m_haveKey = true;
  }
  m_nals.clear();
  m_unitSource = 0;
  m_unitHasVcl = m_unitKey = m_unitChecked = m_unitRunsOn = false;
}

void AccessUnitBuilder::cut() {
  closeUnit();
  m_lastWasVcl = false;  // the carrier ended the last unit: it ran on into nothing
  if (m_haveKey) markLoss(false);
}

void AccessUnitBuilder::finish() {
  closeUnit();
  m_nals.clear();
  if (m_held) m_sink(std::move(*m_held));
  m_held.reset();
}

std::vector<std::uint8_t> parameterSets(const AccessUnit& unit, VideoCodec codec) {
  std::vector<std::uint8_t> out;
  const auto& b = unit.bytes;
  std::size_t i = 0;
  while (i + 4 < b.size()) {
    if (!(b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 0 && b[i + 3] == 1)) {
      ++i;
      continue;
    }
    std::size_t end = i + 4;
    while (end + 4 <= b.size() && !(b[end] == 0 && b[end + 1] == 0 && b[end + 2] == 0 && b[end + 3] == 1)) ++end;
    if (end + 4 > b.size()) end = b.size();
    const std::uint8_t h = b[i + 4];
    const bool keep = codec == VideoCodec::H264 ? ((h & 0x1F) == 7 || (h & 0x1F) == 8)
                                                : (((h >> 1) & 0x3F) >= 32 && ((h >> 1) & 0x3F) <= 34);
    if (keep) out.insert(out.end(), b.begin() + static_cast<std::ptrdiff_t>(i), b.begin() + static_cast<std::ptrdiff_t>(end));
    i = end;
  }
  return out;
}

}  // namespace norvale::convert
