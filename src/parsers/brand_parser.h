#pragma once
// The scan frame every recorder parser is built on: the linear block scan of the device with its
// progress and bad-block message, the open run of packets, and the hand-over of records to the
// sink. A parser holds the state of one scan only; its packet test is the brand's stateless
// decoder.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "format/time_convention.h"
#include "parsers/packet_decoder.h"
#include "format/task_description.h"
#include "parsers/run_accumulator.h"
#include "parsers/scan_options.h"
#include "parsers/scan_sink.h"
#include "storage/device_handle.h"

namespace norvale {

inline constexpr std::uint32_t kBlockSize = 1 << 20;       // 1 MiB scan block
inline constexpr std::uint32_t kLookAhead = 512;
inline constexpr std::size_t kWindowLastStart = kBlockSize - 1;  // start offsets 0..0xFFFFF per block

// What one scan covers: the source, the task it scans for (brand, mode and years), the byte
// range this walk covers, and the end sector.
struct ScanJob {
  DeviceHandle& device;
  const TaskDescription& task;
  std::uint64_t startOffset = 0;  // bytes, a multiple of 512: the task's start or its resume offset
  std::uint64_t length = 0;       // bytes
  std::uint64_t endSector = 0;    // in: as the task holds it; out: the sector the scan reached
  ScanOptions options;
  const TimeZone* zone = nullptr; // the recorder's; null: the workstation's
};

struct ChunkLog;

class BrandParser {
 public:
  explicit BrandParser(const PacketDecoder& decoder) : m_decoder(decoder) {}
  virtual ~BrandParser() = default;
  BrandParser(const BrandParser&) = delete;
  BrandParser& operator=(const BrandParser&) = delete;

  // Scans the job's range in the job's mode and hands what it finds to the sink.
  void scan(ScanJob& job, ScanSink& sink);
  const PacketDecoder& decoder() const { return m_decoder; }
  // Hour code (year<<14|month<<10|day<<5|hour) of a time, the low half of the store key.
  virtual std::uint32_t hourCode(std::uint32_t time) const;

 protected:
  // Quick and deep scans; both default to the linear block scan.
  virtual void scanQuick() { linearBlockScan(); }
  virtual void scanDeep() { linearBlockScan(); }
  // Brands that keep a list of their own clear it here (before and after the scan).
  virtual void clearLists() {}
  // An accepted packet: into the open run when there is one, else a record of its own.
  virtual void onPacket(const Packet& packet);
  // Runs at every tested position before the packet test (brands with in-stream markers).
  virtual void beforePacketTest(const PacketWindow& window) { (void)window; }
  // After each scanned block, with the position the next block starts at.
  virtual void afterBlock(std::uint64_t next) { (void)next; }
  // May the linear block scan walk its range in chunks on several threads? Not for parsers
  // whose beforePacketTest keeps state from the bytes at every tested position.
  virtual bool walksInChunks() const { return true; }
  // Does onPacket do no more than BrandParser::onPacket? Then, without a run, each accepted
  // packet is a record of its own, which the parallel scan's workers make themselves.
  virtual bool plainOnPacket() const { return true; }
  // May the linear block scan offer checkpoints as it goes? Not for parsers that carry state
  // from block to block which a scan continued at the open run's start would not have.
  virtual bool checkpointsMidScan() const { return true; }

  // Walks the job's range block by block, asking the decoder at every candidate position. A
  // rejected position ends the open run, and so does a block that cannot be read: a run covers
  // contiguous bytes of the source. Sets the end sector when not stopped. With several threads
  // the range is walked in chunks and joined into exactly what the one-thread walk finds.
  void linearBlockScan();
  // The run the next linear scan joins accepted packets into; add receives each finished run.
  void startRun(const RunRules& rules, std::function<void(const SegmentRecord&)> add);
  RunAccumulator* openRun() { return m_run ? &*m_run : nullptr; }

  void addRecord(const SegmentRecord& record, std::uint64_t key) { m_sink->addRecord(record, key); }
  void appendRecord(const SegmentRecord& record) { m_sink->appendRecord(record); }
  // A read of the scan failed; its bytes are skipped. Failed reads one after another form one
  // stretch, said in one line when a read succeeds again or the scan ends. When the source
  // itself is gone, the scan says so once and stops as a user's stop would.
  void reportUnreadable(std::uint64_t offset, std::uint64_t bytes);
  // A read of the scan succeeded: an open stretch of failures ends before it.
  void endStretch() {
    if (m_stretchBytes) sayStretch();
  }
  // Neither stopped by the user nor failed in the store.
  bool keepScanning() const { return !m_sourceGone && !m_sink->stopRequested() && !m_sink->failed(); }
  bool quickMode() const;

  ScanJob& job() { return *m_job; }
  // The recorder's zone, in which the decoders and the hour codes read local times.
  const TimeZone& zone() const { return zoneOrWorkstation(m_job ? m_job->zone : nullptr); }
  // The years the task's times may show, for the designs' time tests.
  const YearWindow& years() const { return m_job->task.years; }
  ScanSink& sink() { return *m_sink; }
  DeviceHandle& device() { return m_job->device; }
  std::uint64_t rangeEnd() const { return m_job->startOffset + m_job->length; }

 private:
  struct WalkStop {
    std::size_t next = 0;  // where the window walk stopped
    bool joined = false;   // a chunk took over the walk
  };
  // The walk over one read window (block + look-ahead) from its first position; Events says
  // what becomes of each step: straight into the run, or into a chunk's log.
  template <typename Events>
  WalkStop walkWindow(const std::uint8_t* buffer, std::size_t n, std::uint64_t pos, DeviceHandle& source,
                      Events& events);
  // Both return the position the walk reached.
  std::uint64_t sequentialWalk(std::uint64_t start, std::uint64_t end);
  std::uint64_t parallelWalk(std::uint64_t start, std::uint64_t end);
  // An accepted packet at position `at`, into onPacket, noting where a run it opens began.
  void acceptAt(std::uint64_t at, const Packet& packet);
  // After a block, at the position the next one starts at: a checkpoint when one is due (always
  // when forced, at a stop).
  void offerCheckpoint(std::uint64_t pos, bool force);
  // A worker's walk over one chunk, from the chunk's first byte into the bytes after it.
  void walkChunk(ChunkLog& log, std::uint64_t chunkStart, std::uint64_t chunkEnd, std::uint64_t end,
                 DeviceHandle& source, std::vector<std::uint8_t>& memory, const std::atomic<bool>& abort,
                 bool records);
  // The joiner's take-over of a chunk at the true walk's search from x: the chunk's steps from
  // the candidate that search finds, and its records. False, doing nothing, when the chunk's walk
  // made no search over x.
  bool takeOverChunk(const ChunkLog& log, std::uint64_t x);
  void rejectRun() {
    if (m_run) m_run->reject();
  }
  void sayStretch();

  const PacketDecoder& m_decoder;
  ScanJob* m_job = nullptr;
  ScanSink* m_sink = nullptr;
  TimeConvention m_convention;
  std::optional<RunAccumulator> m_run;
  std::uint64_t m_stretchFirst = 0;  // the open stretch of failed reads: its first byte
  std::uint64_t m_stretchBytes = 0;  //   and the bytes up to the end of its last read
  bool m_sourceGone = false;
  std::uint64_t m_runOpened = 0;  // the run accumulator's count of opened runs, as last seen
  std::uint64_t m_runFrom = 0;    // the tested position of the open run's first packet
};

}  // namespace norvale
