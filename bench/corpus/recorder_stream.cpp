#include "corpus/recorder_stream.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <numeric>

namespace norvale::corpus {

void Random::fill(std::uint8_t* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const std::uint64_t v = next();
    std::memcpy(out + i, &v, 8);
  }
  if (i < n) {
    const std::uint64_t v = next();
    std::memcpy(out + i, &v, n - i);
  }
}

namespace {

constexpr std::uint8_t kDistinct[] = {18, 1, 2, 3, 4, 5, 6, 8, 12, 13, 14, 15, 16, 17};
constexpr std::uint8_t kStartCode[4] = {0, 0, 0, 1};
constexpr std::uint8_t kKeyUnit = 0x65;    // coded slice of an IDR picture
constexpr std::uint8_t kOtherUnit = 0x21;  // coded slice of another picture

void le16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void le24(std::uint8_t* p, std::uint32_t v) {
  le16(p, v);
  p[2] = static_cast<std::uint8_t>(v >> 16);
}
void le32(std::uint8_t* p, std::uint32_t v) {
  le16(p, v);
  le16(p + 2, v >> 16);
}
void le64(std::uint8_t* p, std::uint64_t v) {
  le32(p, static_cast<std::uint32_t>(v));
  le32(p + 4, static_cast<std::uint32_t>(v >> 32));
}
void be16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
void be32(std::uint8_t* p, std::uint32_t v) {
  be16(p, v >> 16);
  be16(p + 2, v);
}

// Grows out by n bytes of `fill` and returns where they begin.
std::uint8_t* grow(std::vector<std::uint8_t>& out, std::size_t n, std::uint8_t fill = 0) {
  const std::size_t at = out.size();
  out.resize(at + n, fill);
  return out.data() + at;
}

struct Calendar {
  int year, month, day, hour, minute, second;
};

// Frame times are the recorder's wall time as seconds since 1970 read as UTC.
Calendar calendarAt(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// Seconds since 1970 of the wall time in the local zone (how most recorders stamp frames).
std::uint32_t localEpochAt(std::int64_t seconds) {
  const Calendar c = calendarAt(seconds);
  std::tm tm{};
  tm.tm_year = c.year - 1900;
  tm.tm_mon = c.month - 1;
  tm.tm_mday = c.day;
  tm.tm_hour = c.hour;
  tm.tm_min = c.minute;
  tm.tm_sec = c.second;
  tm.tm_isdst = -1;
  return static_cast<std::uint32_t>(std::mktime(&tm));
}

// Year - 2000 in bits 26-31, month 22-25, day 17-21, hour 12-16, minute 6-11, second 0-5.
std::uint32_t packedAt(std::int64_t seconds) {
  const Calendar c = calendarAt(seconds);
  return static_cast<std::uint32_t>(c.year - 2000) << 26 | static_cast<std::uint32_t>(c.month) << 22 |
         static_cast<std::uint32_t>(c.day) << 17 | static_cast<std::uint32_t>(c.hour) << 12 |
         static_cast<std::uint32_t>(c.minute) << 6 | static_cast<std::uint32_t>(c.second);
}

// Brand 8's bit order: the packed fields in reverse.
std::uint32_t reversedAt(std::int64_t seconds) {
  const Calendar c = calendarAt(seconds);
  return static_cast<std::uint32_t>(c.year - 2000) | static_cast<std::uint32_t>(c.month) << 6 |
         static_cast<std::uint32_t>(c.day) << 10 | static_cast<std::uint32_t>(c.hour) << 15 |
         static_cast<std::uint32_t>(c.minute) << 20 | static_cast<std::uint32_t>(c.second) << 26;
}

// One camera frame: the coded picture (start code, unit byte, compressed bytes).
struct Frame {
  int channel = 0;          // from 0
  std::int64_t second = 0;  // on the recorder's clock (wall time read as UTC)
  int index = 0;            // within its second
  bool key = false;
  std::vector<std::uint8_t> data;
};

// The cameras and the recorder's write order: per recorded second, every channel's frames of
// that second as one burst, the channels in a shuffled order (whichever buffer filled first).
class FrameSchedule {
 public:
  explicit FrameSchedule(const StreamLayout& layout) : m_layout(layout), m_random(layout.seed * 7919ull + 17) {
    m_order.resize(static_cast<std::size_t>(std::max(layout.channels, 1)));
    std::iota(m_order.begin(), m_order.end(), 0);
  }

  // The next burst of one channel; `recordingStarts` says that a pause lies before it.
  std::vector<Frame>& nextBurst(bool& recordingStarts) {
    if (m_next == m_order.size()) {
      m_next = 0;
      ++m_recorded;
      for (std::size_t i = m_order.size(); i > 1; --i) std::swap(m_order[i - 1], m_order[m_random.next() % i]);
    }
    recordingStarts = m_next == 0 && m_recorded % m_layout.recordingSeconds == 0;
    const int channel = m_order[m_next++];
    const std::int64_t inRecording = m_recorded % m_layout.recordingSeconds;
    const std::int64_t second =
        m_recorded / m_layout.recordingSeconds * (m_layout.recordingSeconds + m_layout.pauseSeconds) + inRecording;
    m_burst.resize(static_cast<std::size_t>(m_layout.burstFrames));
    for (int i = 0; i < m_layout.burstFrames; ++i) {
      Frame& f = m_burst[static_cast<std::size_t>(i)];
      f.channel = channel;
      f.index = i * m_layout.framesPerSecond / std::max(m_layout.burstFrames, 1);
      f.second = m_layout.clockStart + second;
      // A recording starts on a key frame; the GOP runs on from there.
      const std::int64_t n = inRecording * m_layout.framesPerSecond + f.index;
      f.key = n % m_layout.gopFrames == 0;
      const std::uint32_t size =
          f.key ? m_random.between(m_layout.keyMin, m_layout.keyMax) : m_random.between(m_layout.otherMin, m_layout.otherMax);
      f.data.resize(std::max<std::uint32_t>(size, 8));
      std::memcpy(f.data.data(), kStartCode, 4);
      f.data[4] = f.key ? kKeyUnit : kOtherUnit;
      m_random.fill(f.data.data() + 5, f.data.size() - 5);
    }
    return m_burst;
  }

  Random& random() { return m_random; }

 private:
  StreamLayout m_layout;
  Random m_random;
  std::vector<int> m_order;
  std::size_t m_next = 0;
  std::int64_t m_recorded = 0;
  std::vector<Frame> m_burst;
};

// Lays frames out in one recorder design's packets. `at` is the device offset where `out`
// begins, for the designs that align to sectors or sections.
class PacketWriter {
 public:
  PacketWriter(std::uint8_t brand, const StreamLayout& layout) : m_brand(brand), m_layout(layout) {}

  void burst(const std::vector<Frame>& frames, bool recordingStarts, std::uint64_t at, Random& random,
             std::vector<std::uint8_t>& out) {
    // Between recordings lie the stale bytes of older ones (not for brand 5, whose sections
    // hold only marked bursts).
    if (recordingStarts && at > 0 && m_brand != 5) {
      const std::size_t n = random.between(4096, 65536);
      random.fill(grow(out, n), n);
    }
    switch (m_brand) {
      case 1: return programStream(frames, out);
      case 2: return volumeFrames(frames, out, "DHAV", "dhav");
      case 7: return volumeFrames(frames, out, "HYAV", "hyav");
      case 9:
      case 10: return volumeFrames(frames, out, "ZLAV", "zlav");
      case 11: return volumeFrames(frames, out, "DHAV", "dhav");
      case 3: return wfs(frames, out);
      case 4: return jvs(frames, at, out);
      case 5: return sections(frames, at, out);
      case 6: return hbms(frames, out);
      case 8: return reversedTime(frames, out);
      case 12: return microTime(frames, out);
      case 13: return named(frames, out, 72);
      case 14: return named(frames, out, 64);
      case 15: return lengthPair(frames, out);
      case 16: return pes(frames, out);
      case 17: return marker(frames, out);
      default: return multiBrand(frames, out);
    }
  }

 private:
  // Brand 1: a pack header per frame, a stream map with the packed time before key frames,
  // and the picture in video packets of at most 16 KiB.
  void programStream(const std::vector<Frame>& frames, std::vector<std::uint8_t>& out) {
    for (const Frame& f : frames) {
      std::uint8_t* pack = grow(out, 20, 0x44);
      pack[0] = 0, pack[1] = 0, pack[2] = 1, pack[3] = 0xBA;
      if (f.key) {
        std::uint8_t* map = grow(out, 36, 0x44);
        map[0] = 0, map[1] = 0, map[2] = 1, map[3] = 0xBC;
        be16(map + 4, 30);
        const std::uint32_t t = packedAt(f.second);
        be32(map + 16, t >> 2);
        map[20] = static_cast<std::uint8_t>((t & 3) << 6);
      }
      for (std::size_t done = 0; done < f.data.size();) {
        const std::size_t n = std::min<std::size_t>(16384, f.data.size() - done);
        std::uint8_t* p = grow(out, 14 + n, 0);
        p[0] = 0, p[1] = 0, p[2] = 1, p[3] = 0xE0;
        be16(p + 4, static_cast<std::uint32_t>(8 + n));
        p[6] = 0x80, p[7] = 0x80, p[8] = 5, p[9] = 0x21, p[10] = 0xFF, p[11] = 0xFF, p[12] = 0xFF, p[13] = 0xFF;
        std::memcpy(p + 14, f.data.data() + done, n);
        done += n;
      }
    }
  }

  // Brands 2, 7, 9, 10, 11: magic, type (FD key), channel, whole length, packed time, then the
  // picture and the tail magic with the length again.
  void volumeFrames(const std::vector<Frame>& frames, std::vector<std::uint8_t>& out, const char* magic,
                    const char* tail) {
    for (const Frame& f : frames) {
      const std::uint32_t length = static_cast<std::uint32_t>(24 + f.data.size() + 8);
      std::uint8_t* p = grow(out, length, 0);
      std::memcpy(p, magic, 4);
      le16(p + 4, f.key ? 0x00FD : 0x00F1);
      p[6] = static_cast<std::uint8_t>(f.channel);
      le32(p + 12, length);
      le32(p + 16, packedAt(f.second));
      p[20] = static_cast<std::uint8_t>(f.index);
      std::memcpy(p + 24, f.data.data(), f.data.size());
      std::memcpy(p + length - 8, tail, 4);
      le32(p + length - 4, length);
    }
  }

  // Brand 3: FC packets (time and length) carry key pictures, FD packets the others.
  void wfs(const std::vector<Frame>& frames, std::vector<std::uint8_t>& out) {
    for (const Frame& f : frames) {
      const std::size_t header = f.key ? 16 : 8;
      std::uint8_t* p = grow(out, header + f.data.size(), 0);
      p[0] = 0, p[1] = 0, p[2] = 1, p[3] = f.key ? 0xFC : 0xFD;
      if (f.key) {
        le32(p + 8, packedAt(f.second));
        le32(p + 12, static_cast<std::uint32_t>(f.data.size()));
      } else {
        le32(p + 4, static_cast<std::uint32_t>(f.data.size()));
      }
      std::memcpy(p + header, f.data.data(), f.data.size());
    }
  }

  // Brand 4: each burst starts on a sector with the 80-byte channel packet and ends with a
  // filler packet up to the next sector, so the "JVS " chain runs on unbroken.
  void jvs(const std::vector<Frame>& frames, std::uint64_t at, std::vector<std::uint8_t>& out) {
    const std::uint64_t begin = at + out.size();
    if (begin % 512 != 0) {
      // Only after the stale bytes before a recording: they end where the sector ends.
      const std::size_t n = static_cast<std::size_t>(512 - begin % 512);
      grow(out, n, 0xEE);
    }
    std::uint8_t* c = grow(out, 80, 0);
    std::memcpy(c, "JVS ", 4);
    c[4] = 8;
    le24(c + 5, 64);
    c[48] = static_cast<std::uint8_t>(frames.front().channel);
    for (const Frame& f : frames) {
      std::uint8_t* p = grow(out, 16 + f.data.size(), 0);
      std::memcpy(p, "JVS ", 4);
      p[4] = f.key ? 1 : 2;
      le24(p + 5, static_cast<std::uint32_t>(f.data.size()));
      std::memcpy(p + 16, f.data.data(), f.data.size());
    }
    std::size_t gap = static_cast<std::size_t>((512 - (at + out.size()) % 512) % 512);
    if (gap != 0 && gap < 64) gap += 512;
    if (gap != 0) {
      std::uint8_t* p = grow(out, gap, 0);
      std::memcpy(p, "JVS ", 4);
      le24(p + 5, static_cast<std::uint32_t>(gap - 16));
    }
  }

  // Brand 5: sections of 256 MiB from 128 KiB in, each an index area of 2 MiB and then the
  // bursts of one channel, each burst a time marker on a sector and its packets (the first
  // recognised by 0x1357 inside the marker), closed by a filler packet up to the next sector.
  void sections(const std::vector<Frame>& frames, std::uint64_t at, std::vector<std::uint8_t>& out) {
    constexpr std::uint64_t kFirst = 0x20000, kSection = 0x10000000, kIndex = 0x200000;
    std::size_t bytes = 0;
    for (const Frame& f : frames) bytes += 28 * (f.data.size() / 32000 + 1) + f.data.size();
    bytes += 8 + 1024;
    std::uint64_t pos = at + out.size();
    if (pos < kFirst) {
      grow(out, static_cast<std::size_t>(kFirst - pos));
      pos = kFirst;
    }
    std::uint64_t inSection = (pos - kFirst) % kSection;
    if (inSection != 0 && inSection + bytes > kSection) {
      grow(out, static_cast<std::size_t>(kSection - inSection));
      pos += kSection - inSection;
      inSection = 0;
    }
    if (inSection == 0) {
      std::uint8_t* index = grow(out, kIndex);
      le16(index, 0x5050);
      index[12] = static_cast<std::uint8_t>(frames.front().channel);
      le32(index + 16, localEpochAt(frames.front().second));
      le32(index + 20, localEpochAt(frames.front().second + 900));
    }
    std::uint8_t* m = grow(out, 8);
    le32(m, 0x2006);
    le32(m + 4, localEpochAt(frames.front().second));
    bool first = true;
    for (const Frame& f : frames) {
      for (std::size_t done = 0; done < f.data.size();) {
        const std::size_t n = std::min<std::size_t>(32000, f.data.size() - done);
        std::uint8_t* p = grow(out, 28 + n, 0);
        if (first) {
          le32(p, 0x44332211);
          le32(p + 4, 0x1357);
          first = false;
        } else {
          le32(p, 0x1358);
        }
        le16(p + 22, static_cast<std::uint32_t>(n));
        std::memcpy(p + 28, f.data.data() + done, n);
        done += n;
      }
    }
    std::size_t gap = static_cast<std::size_t>((512 - (at + out.size()) % 512) % 512);
    if (gap < 40) gap += 512;
    std::uint8_t* p = grow(out, gap, 0);
    le32(p, 0x1358);
    le16(p + 22, static_cast<std::uint32_t>(gap - 28));
  }

  // Brand 6: "HBMS" packets of at most 32000 payload bytes; the burst's first header names
  // the channel ("CH" and the channel - 1 in two digits).
  void hbms(const std::vector<Frame>& frames, std::vector<std::uint8_t>& out) {
    bool first = true;
    for (const Frame& f : frames) {
      for (std::size_t done = 0; done < f.data.size();) {
        const std::size_t n = std::min<std::size_t>(32000, f.data.size() - done);
        std::uint8_t* p = grow(out, 28 + n, 0);
        std::memcpy(p, "HBMS", 4);
        p[4] = 28;
        le16(p + 5, static_cast<std::uint32_t>(n * 2));
        le32(p + 12, localEpochAt(f.second));
        if (first) {
          char digits[8];
          std::snprintf(digits, sizeof digits, "%02d", f.channel % 100);
          p[24] = 'C', p[25] = 'H', p[26] = static_cast<std::uint8_t>(digits[0]), p[27] = static_cast<std::uint8_t>(digits[1]);
          first = false;
        }
        std::memcpy(p + 28, f.data.data() + done, n);
        done += n;
      }
    }
  }

  // Brand 8: a 16-byte header (channel, payload length, reversed time) before each picture.
  void reversedTime(const std::vector<Frame>& frames, std::vector<std::uint8_t>& out) {
    for (const Frame& f : frames) {
      std::uint8_t* p = grow(out, 16 + f.data.size(), 0);
      p[0] = 0x48, p[1] = 0x4B;
      p[2] = static_cast<std::uint8_t>(f.channel);
      le32(p + 4, static_cast<std::uint32_t>(f.data.size()));
      le32(p + 12, reversedAt(f.second));
      std::memcpy(p + 16, f.data.data(), f.data.size());
    }
  }

  // Brand 12: a 32-byte header with the capture time in microseconds, padded to 8 bytes.
  void microTime(const std::vector<Frame>& frames, std::vector<std::uint8_t>& out) {
    for (const Frame& f : frames) {
      const std::size_t length = (32 + f.data.size() + 7) / 8 * 8;
      std::uint8_t* p = grow(out, length, 0);
      const std::uint64_t micros = static_cast<std::uint64_t>(localEpochAt(f.second)) * 1'000'000u +
                                   static_cast<std::uint64_t>(f.index) * 1'000'000u / 25u;
      le64(p, micros);
      le32(p + 8, static_cast<std::uint32_t>(f.data.size()));
      std::memcpy(p + 32, f.data.data(), f.data.size());
    }
  }

  // Brands 13 and 14: "NVR1" headers of 72 or 64 bytes with the payload length at 12.
  void named(const std::vector<Frame>& frames, std::vector<std::uint8_t>& out, std::size_t header) {
    for (const Frame& f : frames) {
      std::uint8_t* p = grow(out, header + f.data.size(), 0);
      std::memcpy(p, "NVR1", 4);
      p[8] = static_cast<std::uint8_t>(f.channel);
      le32(p + 12, static_cast<std::uint32_t>(f.data.size()));
      std::memcpy(p + header, f.data.data(), f.data.size());
    }
  }

  // Brand 15: frame length at 4 and payload length at 20 that agree, picture at 32.
  void lengthPair(const std::vector<Frame>& frames, std::vector<std::uint8_t>& out) {
    for (const Frame& f : frames) {
      std::uint8_t* p = grow(out, 32 + f.data.size(), 0);
      le32(p + 4, static_cast<std::uint32_t>(32 + f.data.size()));
      p[8] = static_cast<std::uint8_t>(f.channel);
      le32(p + 20, static_cast<std::uint32_t>(f.data.size()));
      std::memcpy(p + 32, f.data.data(), f.data.size());
    }
  }

  // Brand 16: PES packets of stream E0 + channel with the time at 27 and a coded unit at 48;
  // a picture longer than one packet goes on in further units of the same packet kind.
  void pes(const std::vector<Frame>& frames, std::vector<std::uint8_t>& out) {
    for (const Frame& f : frames) {
      for (std::size_t done = 0; done < f.data.size();) {
        // The first packet carries the picture's own start code; the others one of their own.
        const bool head = done == 0;
        const std::size_t n = std::min<std::size_t>(head ? 65000 : 64995, f.data.size() - done);
        const std::size_t length = 48 + (head ? 0 : 5) + n;
        std::uint8_t* p = grow(out, length, 0xFF);
        p[0] = 0, p[1] = 0, p[2] = 1, p[3] = static_cast<std::uint8_t>(0xE0 | (f.channel & 0x0F));
        be16(p + 4, static_cast<std::uint32_t>(length - 6));
        be32(p + 27, localEpochAt(f.second));
        std::uint8_t* body = p + 48;
        if (!head) {
          std::memcpy(body, kStartCode, 4);
          body[4] = kOtherUnit;
          body += 5;
        }
        std::memcpy(body, f.data.data() + done, n);
        done += n;
      }
    }
  }

  // Brand 17: a 128-byte header framed by "liu " and " uil" before each picture.
  void marker(const std::vector<Frame>& frames, std::vector<std::uint8_t>& out) {
    for (const Frame& f : frames) {
      std::uint8_t* p = grow(out, 128 + f.data.size(), 0);
      std::memcpy(p, "liu ", 4);
      p[44] = static_cast<std::uint8_t>(f.channel);
      le32(p + 60, static_cast<std::uint32_t>(f.data.size()));
      le32(p + 72, static_cast<std::uint32_t>(f.second));
      std::memcpy(p + 124, " uil", 4);
      std::memcpy(p + 128, f.data.data(), f.data.size());
    }
  }

  // Brands 18-48: a 66-byte header (channel, size S, local time, start code at 43), picture at 66.
  void multiBrand(const std::vector<Frame>& frames, std::vector<std::uint8_t>& out) {
    for (const Frame& f : frames) {
      std::uint8_t* p = grow(out, 66 + f.data.size(), 0);
      p[0] = static_cast<std::uint8_t>(f.channel);
      p[1] = 0x30;
      le32(p + 8, static_cast<std::uint32_t>(f.data.size() + 22));
      le32(p + 20, localEpochAt(f.second));
      std::memcpy(p + 43, kStartCode, 4);
      std::memcpy(p + 66, f.data.data(), f.data.size());
    }
  }

  std::uint8_t m_brand;
  StreamLayout m_layout;
};

constexpr std::size_t kPiece = 8 << 20;

// Hands out the buffered bytes in pieces, never past `size` in all.
void drain(std::vector<std::uint8_t>& pending, std::uint64_t& written, std::uint64_t size, ImageWriter& out,
           bool all) {
  if (pending.size() < kPiece && !all) return;
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(pending.size(), size - written));
  out.write(std::span(pending.data(), n));
  written += n;
  pending.clear();
}

}  // namespace

std::span<const std::uint8_t> distinctLayoutBrands() { return kDistinct; }

bool hasRecorderLayout(std::uint8_t brand) {
  return brand == 7 || brand == 9 || brand == 10 || brand == 11 || (brand >= 18 && brand <= 48) ||
         std::find(std::begin(kDistinct), std::end(kDistinct), brand) != std::end(kDistinct);
}

bool writeRecorderImage(std::uint8_t brand, const StreamLayout& layout, std::uint64_t size, ImageWriter& out) {
  if (!hasRecorderLayout(brand)) return false;
  FrameSchedule schedule(layout);
  PacketWriter writer(brand, layout);
  std::vector<std::uint8_t> pending;
  pending.reserve(kPiece + (4 << 20));
  std::uint64_t written = 0;
  while (written < size) {
    bool starts = false;
    auto& frames = schedule.nextBurst(starts);
    writer.burst(frames, starts, written + pending.size() - 0, schedule.random(), pending);
    drain(pending, written, size, out, written + pending.size() >= size);
  }
  return true;
}

void writeDenseImage(std::uint64_t size, std::uint32_t packetBytes, std::uint32_t seed, ImageWriter& out) {
  StreamLayout layout;
  layout.channels = 16;
  layout.gopFrames = 25;
  packetBytes = std::max<std::uint32_t>(packetBytes, 72);
  layout.keyMin = layout.keyMax = layout.otherMin = layout.otherMax = packetBytes - 66;
  layout.recordingSeconds = 3600;
  layout.pauseSeconds = 0;
  layout.seed = seed;
  FrameSchedule schedule(layout);
  PacketWriter writer(18, layout);
  std::vector<std::uint8_t> pending;
  std::uint64_t written = 0;
  while (written < size) {
    bool starts = false;
    auto& frames = schedule.nextBurst(starts);
    writer.burst(frames, false, written + pending.size(), schedule.random(), pending);
    drain(pending, written, size, out, written + pending.size() >= size);
  }
}

void writeRandomImage(std::uint64_t size, std::uint32_t seed, ImageWriter& out) {
  Random random(seed * 104729ull + 3);
  std::vector<std::uint8_t> piece(kPiece);
  for (std::uint64_t written = 0; written < size;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), size - written));
    random.fill(piece.data(), n);
    out.write(std::span(piece.data(), n));
    written += n;
  }
}

}  // namespace norvale::corpus
