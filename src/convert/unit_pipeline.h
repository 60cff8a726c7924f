#pragma once
// The walk every stream reader shares: NAL splitter into access-unit builder into the sink.
#include <string>

#include "convert/annexb.h"
#include "convert/stream_reader.h"

namespace norvale::convert {

// The NAL splitter and the access-unit builder, with the sink's answer kept.
struct Pipeline {
  explicit Pipeline(const UnitSink& sink)
      : m_sink(sink),
        builder([this](AccessUnit&& unit) {
          if (stopped) return;
          ++units;
          if (!m_sink(std::move(unit))) stopped = true;
        }),
        splitter([this](NalSplitter::Nal&& nal) { builder.push(std::move(nal)); }) {}

  void cut() {
    splitter.cut();
    builder.cut();
  }
  void finish() {
    splitter.finish();
    builder.finish();
  }

  const UnitSink& m_sink;
  bool stopped = false;
  std::uint64_t units = 0;
  AccessUnitBuilder builder;
  NalSplitter splitter;
};

inline bool stopRequested(const StreamInput& input) {
  return input.stop && input.stop->load(std::memory_order_relaxed) != 0;
}

inline void summarise(StreamSummary& out, Pipeline& pipe, const std::string& carrierForeign, std::uint64_t audioPackets,
               std::uint64_t videoPayloads) {
  out.codec = pipe.builder.codec();
  out.units = pipe.units;
  out.skippedBytes += pipe.splitter.skippedBytes() + pipe.builder.damagedBytes();
  out.lostUnits = pipe.builder.lostUnits();
  out.leadingUnits = pipe.builder.leadingUnits();
  out.losses = pipe.builder.losses();
  out.stopped = out.stopped || pipe.stopped;
  if (out.codec != VideoCodec::Unknown) return;
  std::string name = !carrierForeign.empty() ? carrierForeign : pipe.builder.foreign();
  if (name.empty()) name = audioPackets > 0 && videoPayloads == 0 ? "audio only" : "unknown";
  out.unsupported = "unsupported payload: " + name;
}

}  // namespace norvale::convert
