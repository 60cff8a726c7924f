#pragma once
// Joins accepted frames into one open segment while scanning, for brands whose packet test
// yields single frames.
#include <cstdint>
#include <functional>

#include "format/time_zone.h"
#include "parsers/packet_decoder.h"

namespace norvale {

enum class RunBreakRule {
  ChannelAndGap,  // another channel, or the gap test fails against the run's end
  GapOnly,        // the run's end is set and the gap test fails (packet time 0 always passes)
  ChannelPackets, // only a packet naming another channel than the run's; channel 0 names none, and
                  // a run without a channel takes the first one a continuing packet names
};

struct RunRules {
  RunBreakRule breakRule = RunBreakRule::ChannelAndGap;
  bool onlyKeyPacketsSetEnd = false;  // the gap-only variant moves the end on key packets only
  bool keyPacketSetsStart = false;    // a variant takes the start from the first key packet
  bool addOnlyKeyRuns = false;        // add rule: only runs of kind 1
  std::uint64_t minimumLength = 0;    // add rule: data length must be above this
  // Does packet time a continue a run that ended at b, read in the zone? (Not asked by
  // ChannelPackets.)
  bool (*continues)(const TimeZone& zone, std::uint32_t a, std::uint32_t b) = nullptr;
  const TimeZone* zone = nullptr;  // the recorder's; null: the workstation's
};

class RunAccumulator {
 public:
  // add receives each finished run that passes the add rule.
  RunAccumulator(RunRules rules, std::function<void(const SegmentRecord&)> add)
      : m_rules(rules), m_add(std::move(add)) {}

  void accept(const Packet& packet);
  // A rejected position ends the open run.
  void reject();
  // After the last block: add the open run.
  void finish() { addRun(); }
  const SegmentRecord& open() const { return m_run; }
  // Is a run open that a finish would add or a later packet would extend?
  bool isOpen() const { return m_run.size != 0; }
  // How many runs were opened so far: the scan frame tells from it where the open run began.
  std::uint64_t opened() const { return m_opened; }

 private:
  void addRun();
  void openFrom(const Packet& packet);
  bool breaks(const Packet& packet) const;

  RunRules m_rules;
  std::function<void(const SegmentRecord&)> m_add;
  SegmentRecord m_run = emptyRun();
  std::uint64_t m_opened = 0;
  static SegmentRecord emptyRun() { return SegmentRecord{SegmentKind::None, 0, 0, 0, -1, 0, 0}; }
};

}  // namespace norvale
