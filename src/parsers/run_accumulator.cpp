#include "parsers/run_accumulator.h"

namespace norvale {

void RunAccumulator::openFrom(const Packet& packet) {
  ++m_opened;
  m_run.kind = packet.kind;
  m_run.channel = packet.channel;
  m_run.startTime = packet.time;
  m_run.endTime = packet.time;
  m_run.deviceOffset = packet.dataOffset;
  m_run.size = packet.dataLength;
  m_run.firstKeyOffset = packet.kind == SegmentKind::Key ? 0 : -1;
}

bool RunAccumulator::breaks(const Packet& packet) const {
  if (m_rules.breakRule == RunBreakRule::ChannelPackets)
    return packet.channel != 0 && m_run.channel != 0 && packet.channel != m_run.channel;
  const TimeZone& zone = zoneOrWorkstation(m_rules.zone);
  if (m_rules.breakRule == RunBreakRule::ChannelAndGap)
    return packet.channel != m_run.channel || !m_rules.continues(zone, packet.time, m_run.endTime);
  if (m_run.endTime == 0 || packet.time == 0) return false;
  return !m_rules.continues(zone, packet.time, m_run.endTime);
}

void RunAccumulator::addRun() {
  if (m_run.size == 0) return;
  if (m_rules.addOnlyKeyRuns && m_run.kind != SegmentKind::Key) return;
  if (m_run.size <= m_rules.minimumLength) return;
  m_add(m_run);
}

void RunAccumulator::accept(const Packet& packet) {
  if (m_run.size == 0) {
    openFrom(packet);
    return;
  }
  if (breaks(packet)) {
    addRun();
    openFrom(packet);
    return;
  }
  if (m_run.firstKeyOffset == -1 && packet.kind == SegmentKind::Key) {
    m_run.kind = SegmentKind::Key;
    m_run.firstKeyOffset = static_cast<std::int64_t>(m_run.size);
    if (m_rules.keyPacketSetsStart) m_run.startTime = packet.time;
  }
  if (m_rules.breakRule == RunBreakRule::ChannelPackets && m_run.channel == 0) m_run.channel = packet.channel;
  m_run.size += packet.dataLength;
  if (!m_rules.onlyKeyPacketsSetEnd || packet.kind == SegmentKind::Key) m_run.endTime = packet.time;
}

void RunAccumulator::reject() {
  addRun();
  if (m_run.startTime != 0 || m_run.size != 0) m_run = emptyRun();
}

}  // namespace norvale
