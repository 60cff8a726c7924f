#pragma once
// H.264 / H.265 elementary streams in Annex B form: the start-code walk, the codec the first
// parameter sets name, and the grouping of NAL units into access units with the checks that
// tell damaged or foreign bytes from video.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace norvale::convert {

enum class VideoCodec { Unknown, H264, Hevc };

// "h264", "hevc", or "" while unknown.
const char* codecName(VideoCodec codec);

// One coded picture: its NAL units each behind a 4-byte start code.
struct AccessUnit {
  std::vector<std::uint8_t> bytes;
  std::optional<double> second;  // recorder time in whole seconds (plain calendar), when the carrier says
  bool key = false;              // IDR (H.264) or IRAP (H.265): decoding may start here
  VideoCodec codec = VideoCodec::Unknown;
  std::uint64_t sourceBytes = 0; // bytes of the file the unit came from
  // Picture order count from the slice headers: the display order among the units from one key
  // unit to the next. Empty when the stream does not say (display order is then decode order).
  std::optional<std::int64_t> order;
  // File offset of the packet its first NAL unit came from (in a raw stream: of its start code).
  std::uint64_t origin = 0;
};

// What a payload that is not H.264/H.265 is, from the bytes after a start code; empty when the
// bytes look like neither a known foreign stream nor video.
std::string foreignPayloadName(std::span<const std::uint8_t> afterStartCode);

// Splits a byte stream fed in pieces at its start codes (00 00 01 / 00 00 00 01). Bytes before
// the first start code belong to no unit and are counted as skipped.
class NalSplitter {
 public:
  struct Nal {
    std::vector<std::uint8_t> body;  // without the start code
    std::optional<double> second;    // time of the piece the unit began in
    std::uint64_t origin = 0;        // see AccessUnit::origin
  };
  using Sink = std::function<void(Nal&&)>;
  explicit NalSplitter(Sink sink) : m_sink(std::move(sink)) {}

  // origin: the file offset of the packet the bytes came from, or with exactOrigins the file
  // offset of the bytes themselves (a raw stream fed from its start).
  void feed(std::span<const std::uint8_t> bytes, std::optional<double> second = std::nullopt, std::uint64_t origin = 0);
  void setExactOrigins() { m_exactOrigins = true; }
  // The stream breaks here (a piece of the file was not video): the unit in progress ends
  // where its packet ended, and what follows up to the next start code belongs to no unit.
  void cut();
  void finish() { cut(); }
  std::uint64_t skippedBytes() const { return m_skipped; }

 private:
  Sink m_sink;
  std::vector<std::uint8_t> m_current;
  bool m_inUnit = false;
  int m_zeros = 0;  // zero bytes seen at the end of what was fed
  std::optional<double> m_second;
  std::uint64_t m_origin = 0;
  bool m_exactOrigins = false;
  std::uint64_t m_skipped = 0;
};

// Groups NAL units into access units, learns the codec from the first parameter set, checks
// every unit against the parameter sets and drops what cannot be decoded: damaged units, units
// before the first key unit, and units that follow a loss until the next key unit.
class AccessUnitBuilder {
 public:
  using Sink = std::function<void(AccessUnit&&)>;
  explicit AccessUnitBuilder(Sink sink) : m_sink(std::move(sink)) {}

  void push(NalSplitter::Nal&& nal);
  // A break in the carrier: the picture in progress ended with the packet before the break,
  // and what follows may have lost its references.
  void cut();
  void finish();

  VideoCodec codec() const { return m_codec; }
  // What the stream was found to be instead when no H.264/H.265 parameter set came.
  const std::string& foreign() const { return m_foreign; }
  std::uint64_t damagedBytes() const { return m_damagedBytes; }  // NAL units that failed the checks
  std::uint64_t lostUnits() const { return m_lostUnits; }        // dropped after the first key unit
  std::uint64_t leadingUnits() const { return m_leadingUnits; }  // dropped before the first key unit
  std::uint64_t losses() const { return m_losses; }              // places where the stream broke

 private:
  struct H264Sps {
    bool valid = false;
    int log2MaxFrameNum = 4;
    bool separateColourPlane = false;
    bool chroma3 = false;  // 4:4:4
    std::uint32_t profile = 0;
    bool gapsAllowed = false;
    std::uint32_t picSizeInMbs = 0;
    std::uint32_t pocType = 0;
    int log2MaxPocLsb = 4;
    bool frameMbsOnly = true;
    std::uint32_t widthInMbs = 0, heightInMapUnits = 0;
    std::size_t heightFrom = 0, heightTo = 0;  // bits of pic_height_in_map_units_minus1 in the RBSP
    std::vector<std::uint8_t> body;
  };
  struct H264Pps {
    bool valid = false;
    std::uint32_t spsId = 0;
    bool cabac = false;
    std::vector<std::uint8_t> body;
  };
  struct HevcSps {
    bool valid = false;
    bool separateColourPlane = false;
    int log2MaxPocLsb = 4;
  };
  struct HevcPps {
    bool valid = false;
    std::uint32_t spsId = 0;
    bool dependentSlices = false;
    bool outputFlagPresent = false;
    int extraSliceHeaderBits = 0;
  };

  void detect(const std::vector<std::uint8_t>& body);
  bool headerValid(const std::vector<std::uint8_t>& body) const;
  bool startsPicture(const std::vector<std::uint8_t>& body) const;
  bool isVcl(const std::vector<std::uint8_t>& body) const;
  bool isKeyVcl(const std::vector<std::uint8_t>& body) const;
  // H.264: false when the unit cannot be the parameter set its type names.
  bool learnParameterSet(const std::vector<std::uint8_t>& body);
  void learnHevcParameterSet(const std::vector<std::uint8_t>& body);
  // H.265: the POC LSB of the first slice segment of a picture (0 for IDR), and its SPS; empty
  // when the segment does not start a picture or its parameter sets are unknown.
  std::optional<std::uint32_t> hevcPocLsb(const std::vector<std::uint8_t>& body, std::uint32_t& spsId) const;
  // H.264: checks a slice against its parameter sets; false when it cannot be one. Sets
  // frameNum, whether it is a reference, and the SPS it names.
  bool checkH264Slice(const std::vector<std::uint8_t>& body, std::uint32_t& frameNum, bool& reference,
                      std::uint32_t& spsId, std::optional<std::uint32_t>& pocLsb) const;
  // H.264: how many foreign bytes the last slice of a unit ran on into (the start code after it
  // was lost), where the decoder shows that its data ends with the picture's last macroblock.
  // Empty when that cannot be shown: the unit is then damaged.
  std::optional<std::size_t> runOnBytes(const std::vector<std::uint8_t>& unit) const;
  // Cuts the run-on bytes off a unit (counted as damaged); false when the unit is damaged.
  bool trimRunOn(std::vector<std::uint8_t>& unit);
  // The SPS with one map unit row more.
  static std::vector<std::uint8_t> tallerSps(const H264Sps& sps);
  // The picture order count of the unit in progress, from its POC LSB (H.264 type 0, H.265).
  std::optional<std::int64_t> pictureOrder(bool key, bool startsDecoding);
  void closeUnit();
  void closePicture();
  void markLoss(bool heldMayRunOn);

  Sink m_sink;
  VideoCodec m_codec = VideoCodec::Unknown;
  std::string m_foreign;
  std::vector<std::vector<std::uint8_t>> m_nals;  // of the unit in progress
  std::optional<double> m_second;
  std::uint64_t m_unitOrigin = 0;
  std::uint64_t m_unitSource = 0;
  bool m_unitHasVcl = false;
  bool m_unitKey = false;
  bool m_lossPending = false;  // foreign bytes came after the unit in progress
  bool m_haveKey = false;     // a key unit was passed on
  bool m_waitForKey = true;   // after a loss: drop until the next key unit
  std::optional<AccessUnit> m_held;  // the last good unit, held back one step
  std::uint64_t m_damagedBytes = 0, m_lostUnits = 0, m_leadingUnits = 0, m_losses = 0;
  std::uint64_t m_nalsSeen = 0;
  H264Sps m_sps[32];
  H264Pps m_pps[256];
  std::optional<std::uint32_t> m_prevRefFrameNum;
  bool m_prevWasReference = false;
  std::uint32_t m_unitFrameNum = 0;
  std::uint32_t m_unitSpsId = 0;
  bool m_unitReference = false;
  bool m_unitChecked = false;
  bool m_unitRunsOn = false;  // foreign bytes came right after its last slice
  bool m_lastWasVcl = false;
  bool m_haveSubsetSps = false;
  std::optional<std::uint32_t> m_unitPocLsb;
  std::int64_t m_prevPocMsb = 0;
  std::uint32_t m_prevPocLsb = 0;
  HevcSps m_hevcSps[16];
  HevcPps m_hevcPps[64];
  int m_unitHevcType = -1;  // NAL unit type and temporal id of the unit's first slice
  int m_unitTemporalId = 0;
  bool m_skipRasl = false;  // decoding began at a CRA: its skipped leading pictures cannot be decoded
};

// The parameter sets (VPS/SPS/PPS) of a key unit, each behind a 4-byte start code.
std::vector<std::uint8_t> parameterSets(const AccessUnit& unit, VideoCodec codec);

}  // namespace norvale::convert
