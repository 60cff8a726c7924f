#include "parsers/brand_parser.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "format/task_header.h"
#include "parsers/brand_table.h"
#include "parsers/chunk_schedule.h"
#include "storage/memory_hint.h"
#include "storage/read_ahead.h"

namespace norvale {

void BrandParser::reportUnreadable(std::uint64_t offset, std::uint64_t bytes) {
  if (m_sourceGone) return;
  // A failed read asks once whether the source is still there: a vanished disk fails every
  // read after, and would otherwise be reported as bad from here to the range's end.
  if (!device().sourceStillThere()) {
    endStretch();
    m_sourceGone = true;
    m_sink->report(SourceGone{});
    m_sink->requestStop();
    return;
  }
  if (m_stretchBytes == 0) {
    m_stretchFirst = offset;
    m_stretchBytes = bytes;
    return;
  }
  // Reads of the stretch follow one another in scan order; it spans from its first to the end
  // of its last.
  m_stretchBytes = std::max(m_stretchBytes, offset + bytes - std::min(offset + bytes, m_stretchFirst));
}

void BrandParser::sayStretch() {
  const std::uint64_t first = m_stretchFirst / 512;
  const std::uint64_t last = (m_stretchFirst + m_stretchBytes + 511) / 512;
  m_stretchBytes = 0;
  m_sink->report(UnreadableStretch{first, last - first});
}

bool BrandParser::quickMode() const { return m_job->task.parseMode == kParseQuick; }

void BrandParser::scan(ScanJob& job, ScanSink& sink) {
  m_job = &job;
  m_sink = &sink;
  m_convention = timeConventionFor(job.task.brand, job.task.parseMode);
  m_convention.zone = job.zone;
  clearLists();
  m_stretchBytes = 0;
  m_sourceGone = false;
  if (quickMode())
    scanQuick();
  else
    scanDeep();
  endStretch();  // a stretch still open when the scan ended or stopped
  clearLists();
  m_run.reset();
  m_job = nullptr;
  m_sink = nullptr;
}

std::uint32_t BrandParser::hourCode(std::uint32_t time) const {
  const auto c = m_convention.calendar(time);
  return c ? calendarCode(c->year, c->month, c->day, c->hour) : 0;
}

void BrandParser::startRun(const RunRules& rules, std::function<void(const SegmentRecord&)> add) {
  m_run.emplace(rules, std::move(add));
}

namespace {
// The record of a packet that is a record of its own.
SegmentRecord packetRecord(const Packet& packet) {
  SegmentRecord record;
  record.kind = packet.kind;
  record.channel = packet.channel;
  record.startTime = packet.time;
  record.endTime = packet.time;
  record.firstKeyOffset = 0;
  record.deviceOffset = packet.dataOffset;
  record.size = packet.dataLength;
  return record;
}
}  // namespace

void BrandParser::onPacket(const Packet& packet) {
  if (m_run) {
    m_run->accept(packet);
    return;
  }
  addRecord(packetRecord(packet), storeKey(packet.channel, hourCode(packet.time)));
}

bool followerHasMagic(const PacketWindow& window, DeviceHandle& device, std::uint64_t at,
                      std::span<const std::uint8_t> magic) {
  const std::uint64_t end = at + magic.size();
  const std::uint64_t inBuffer = static_cast<std::uint64_t>(std::max<std::int64_t>(window.valid, 0));
  if (end <= inBuffer && end <= window.available) return std::memcmp(window.data + at, magic.data(), magic.size()) == 0;
  const std::uint64_t spot = window.deviceOffset + at;
  // No follower past the source's end; where a stream ends there, none is needed.
  if (spot + magic.size() > device.size()) return window.streamEnds;
  std::uint8_t block[1024] = {};
  if (!device.readAt(spot / 512 * 512, block)) return false;
  const std::size_t inBlock = static_cast<std::size_t>(spot % 512);
  return inBlock + magic.size() <= sizeof block && std::memcmp(block + inBlock, magic.data(), magic.size()) == 0;
}

bool followerBytes(const PacketWindow& window, DeviceHandle& device, std::uint64_t at, std::span<std::uint8_t> out,
                   std::uint64_t inBufferNeed) {
  const std::uint64_t need = at + std::max<std::uint64_t>(inBufferNeed, out.size());
  const std::uint64_t inBuffer = static_cast<std::uint64_t>(std::max<std::int64_t>(window.valid, 0));
  if (need >= at && need <= inBuffer && at + out.size() <= window.available) {
    std::memcpy(out.data(), window.data + at, out.size());
    return true;
  }
  const std::uint64_t spot = window.deviceOffset + at;
  std::memset(out.data(), 0, out.size());
  // No follower past the source's end; where a stream ends there, none is judged.
  if (spot + out.size() > device.size()) return !window.streamEnds;
  std::uint8_t block[1024] = {};
  const std::size_t inBlock = static_cast<std::size_t>(spot % 512);
  if (!device.readAt(spot / 512 * 512, block) || inBlock + out.size() > sizeof block) return true;
  std::memcpy(out.data(), block + inBlock, out.size());
  return true;
}

// ---- The linear block scan ----
//
// The walk: in each block (1 MiB of start positions, read with 512 bytes of look-ahead) the
// decoder's candidate search leads from position to position; a rejected candidate, and every
// position the search skipped, ends the open run; an accepted packet moves the walk on by its
// length. The next block starts where the walk left the last one: after a packet that ran past
// the block's end, or at the block's end.
//
// Why the walk can be cut into chunks. Which position the walk visits next depends on the
// position and on what the decoder says there, and nothing else: the candidate search finds
// the first candidate at or after the position whether it searches one block or two, and the
// decoder's answer is the same whichever block's window shows it the bytes (the window always
// holds at least the look-ahead after a tested position, far more than any packet test reads;
// bytes past the range's end read as zeros in every window; a follower outside the window is
// read from the device, and one inside it holds the device's bytes). So two walks that visit one
// position in the same way go on alike from there, whatever their blocks. The only effect of
// the blocks is that a search running over a block's end may reject twice where one search
// rejects once, and a second reject finds no open run. A walk started at a chunk's first byte
// is therefore the true walk from the first position both visit on; a worker records what its
// walk did (the packets, the rejects, where each search began and what it found), and the
// joiner, which carries the one true walk and the one open run, follows the true walk across
// each chunk's start until it reaches a search the chunk's walk made too, then takes the
// chunk's steps from the candidate that search found. The run accumulator and the parser's
// packet handling run only on the joiner, in walk order, so the records are exactly those of
// the one-thread walk.
//
// What breaks the argument, and is kept out: a read that fails changes where the walk goes
// (the failed block is skipped whole) and which follower reads fail, so a chunk that met any
// failed read is not used, and the joiner walks its bytes itself; a worker's chunk is read
// whole with 4 KiB more after it than its walk looks at, so that any follower the true walk
// reads from the device beside the chunk's window lies in bytes known to read well; a range
// that runs past the source's end is walked by one thread; and parsers whose beforePacketTest
// keeps state from the bytes at every position (brand 6's channel markers) walk on one
// thread, as do scans that are no linear block scan (brand 5's sections, the quick modes that
// read index structures).

namespace {
constexpr std::size_t kWindowBytes = kBlockSize + kLookAhead;
constexpr std::uint64_t kDefaultChunkBytes = 16 << 20;
constexpr std::size_t kChunkMargin = 4096;          // read after a chunk's last window
constexpr std::size_t kReadAheadSlot = 8 << 20;
constexpr std::uint64_t kReadAheadFrom = 8 * kBlockSize;  // smaller ranges read block by block
constexpr std::size_t kChunkLogLimit = 1 << 18;     // steps a worker keeps before it hands over

// The walk's steps as the one-thread scan takes them.
struct DirectEvents {
  static constexpr bool kDirect = true;  // the parser's own hooks run at every tested position
  RunAccumulator* run = nullptr;
  std::function<void(std::uint64_t, const Packet&)> onAccept;
  bool join(std::uint64_t) { return false; }
  void accept(std::uint64_t at, const Packet& packet) { onAccept(at, packet); }
  void reject(std::uint64_t) {
    if (run) run->reject();
  }
  void tested(std::uint64_t, bool) {}
};
}  // namespace

// One step of a chunk's walk that the joiner replays: an accepted packet, or a reject (the
// rejects that follow one another are kept as the first: the others find no open run).
struct WalkEvent {
  std::uint64_t at = 0;  // the tested position, or where the search that rejected began
  bool accepted = false;
  Packet packet;
};

// A search of a chunk's walk: it began at `from` and found the candidate `at`, which the
// decoder accepted or not.
struct WalkSearch {
  std::uint64_t from = 0;
  std::uint64_t at = 0;
  bool accepted = false;
};

struct ChunkLog {
  std::vector<WalkEvent> events;
  std::vector<WalkSearch> searches;
  // Without a run: each accepted packet's record, serialised, its key and where it was found.
  std::vector<std::uint8_t> records;
  std::vector<std::uint64_t> keys;
  std::vector<std::uint64_t> recordAt;
  std::uint64_t openFrom = 0;  // the last search, which found nothing before `stop` (or stop)
  std::uint64_t stop = 0;      // where the next block of the chunk's walk would start
  bool usable = false;

  // Empty again, keeping the memory for the next chunk.
  void clear() {
    events.clear();
    searches.clear();
    records.clear();
    keys.clear();
    recordAt.clear();
    openFrom = stop = 0;
    usable = false;
  }
};

namespace {
// The steps of a worker's walk, into its chunk's log.
struct LoggedEvents {
  static constexpr bool kDirect = false;
  ChunkLog& log;
  const BrandParser* records = nullptr;  // set when each accepted packet is a record of its own
  bool searching = false;  // a search runs on from the block before
  std::uint64_t from = 0;
  bool rejected = false;   // the last event was a reject

  bool join(std::uint64_t x) {
    if (!searching) {
      searching = true;
      from = x;
    }
    return false;
  }
  void reject(std::uint64_t at) {
    if (rejected || records) return;  // without a run a reject changes nothing
    log.events.push_back(WalkEvent{at, false, {}});
    rejected = true;
  }
  void tested(std::uint64_t at, bool accepted) {
    log.searches.push_back(WalkSearch{from, at, accepted});
    searching = false;
  }
  void accept(std::uint64_t at, const Packet& packet) {
    rejected = false;
    if (!records) {
      log.events.push_back(WalkEvent{at, true, packet});
      return;
    }
    const std::size_t end = log.records.size();
    log.records.resize(end + kSegmentRecordSize);
    packetRecord(packet).write(&log.records[end]);
    log.keys.push_back(storeKey(packet.channel, records->hourCode(packet.time)));
    log.recordAt.push_back(at);
  }
  bool full() const { return log.events.size() + log.keys.size() + log.searches.size() > kChunkLogLimit; }
};
}  // namespace

template <typename Events>
BrandParser::WalkStop BrandParser::walkWindow(const std::uint8_t* buffer, std::size_t n, std::uint64_t pos,
                                              DeviceHandle& source, Events& events) {
  std::size_t i = 0;
  while (i <= kWindowLastStart) {
    if (events.join(pos + i)) return {i, true};
    const std::size_t candidate = m_decoder.nextCandidate(buffer, i, kWindowLastStart);
    if (candidate != i) {
      events.reject(pos + i);  // every skipped position would have been rejected
      i = candidate;
      if (i > kWindowLastStart) break;
    }
    const PacketWindow window{buffer + i, kWindowBytes - i, static_cast<std::int64_t>(n) - static_cast<std::int64_t>(i),
                              pos + i, m_job->zone, m_job->task.years};
    if constexpr (Events::kDirect) beforePacketTest(window);
    if (auto packet = m_decoder.decode(window, source)) {
      events.tested(pos + i, true);
      events.accept(pos + i, *packet);
      i += static_cast<std::size_t>(std::max<std::uint64_t>(packet->advance, 1));
    } else {
      events.tested(pos + i, false);
      events.reject(pos + i);
      ++i;
    }
  }
  return {i, false};
}

void BrandParser::linearBlockScan() {
  const std::uint64_t start = m_job->startOffset;
  const std::uint64_t end = rangeEnd();
  if (start < end) {
    m_sink->scanStarted(static_cast<std::int64_t>(end / kBlockSize));
    const ScanOptions& options = m_job->options;
    const std::uint64_t chunk = options.chunkBytes ? options.chunkBytes : kDefaultChunkBytes;
    const bool chunks = !options.chunkStarts.empty() || end - start > chunk;
    m_runOpened = m_run ? m_run->opened() : 0;
    std::uint64_t reached = 0;
    if (options.threads > 1 && chunks && walksInChunks() && end <= device().size())
      reached = parallelWalk(start, end);
    else
      reached = sequentialWalk(start, end);
    // A stop leaves a checkpoint where the walk stands, before the open run is added: the
    // stopped task shows that run, a resumed scan finds it again from its first packet.
    if (m_sink->stopRequested() && !m_sink->failed() && reached < end) offerCheckpoint(reached, true);
    if (m_run) m_run->finish();
  }
  if (!m_sink->stopRequested() && !m_sourceGone) m_job->endSector = end / 512;
  m_sink->flush();
  m_run.reset();
}

void BrandParser::acceptAt(std::uint64_t at, const Packet& packet) {
  onPacket(packet);
  if (m_run && m_run->opened() != m_runOpened) {
    m_runOpened = m_run->opened();
    m_runFrom = at;
  }
}

// ---- Checkpoints ----
//
// A checkpoint says: the records handed to the sink so far are all the scan finds before the
// resume offset, and a scan continued from there finds exactly the rest. The sink writes the
// pending records out, makes the task files durable and then the header that names the
// checkpoint, so that a scan cut off at any moment (a kill, a crash, a power cut) leaves a task
// that goes on from its last checkpoint.
//
// Where a scan can continue: the walk is position-deterministic (see the linear block scan's
// argument below): a walk started at a position the true walk tested goes on exactly as the
// true walk does from there. Records of closed runs are in the sink; the open run is not, so the
// resume offset is the tested position of the open run's first packet, where a new walk opens
// the same run again, or, with no run open, the position the next block starts at. A block's
// position is the joiner's in the parallel scan: it carries the one true walk, and the records
// of the chunks it has taken over are in the sink by then; what workers hold for chunks ahead
// is not claimed.
//
// What keeps a parser out (checkpointsMidScan): state carried from block to block that the
// walk's position does not give back. Brand 6's channel marker is such state: the channel of
// every frame is the last marker's, which may lie before the open run. Such a parser keeps the
// checkpoint the task started with and so resumes from the range's start. Scans other than the
// linear block scan (index reads of the quick modes, brand 5's sections) make no checkpoints
// of their own: they are quick, and resume from the start too. So does a scan once it keeps an
// arrival list (the sink knows), which lives in memory until the end.
//
// The one thing a resumed scan may see differently: an unreadable block is skipped whole, and
// the resumed walk's blocks start elsewhere, so with bad sectors after the resume offset it
// skips other bytes around them than an uninterrupted scan would.
void BrandParser::offerCheckpoint(std::uint64_t pos, bool force) {
  if (!checkpointsMidScan() || (!force && !m_sink->checkpointDue())) return;
  // A packet may run past the range's end; the walk has nothing left to do there.
  pos = std::min(pos, rangeEnd());
  const std::uint64_t from = std::min(m_run && m_run->isOpen() ? m_runFrom : pos, pos);
  m_sink->checkpoint(pos, from);
}

std::uint64_t BrandParser::sequentialWalk(std::uint64_t start, std::uint64_t end) {
  DeviceHandle& source = device();
  std::vector<std::uint8_t> buffer(kWindowBytes);
  std::optional<ReadAhead> ahead;
  if (m_job->options.readAhead && end - start >= kReadAheadFrom)
    ahead.emplace(source.share(), start, end, kReadAheadSlot, kWindowBytes);
  DirectEvents events;
  events.run = openRun();
  events.onAccept = [this](std::uint64_t at, const Packet& p) { acceptAt(at, p); };
  std::uint64_t pos = start;
  while (keepScanning()) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), end - pos));
    // The read-ahead's window when it holds the block as the device gave it, else a read of
    // the block itself (which also tells the failures); only bytes past what the device gave
    // need zeros.
    const std::uint8_t* window = ahead ? ahead->window(pos, kWindowBytes) : nullptr;
    bool read = window != nullptr;
    if (!read) {
      std::size_t filled = 0;
      read = source.readAt(pos, std::span(buffer.data(), n), filled);
      if (read) std::memset(buffer.data() + filled, 0, buffer.size() - filled);
      window = buffer.data();
    }
    if (!read) {
      reportUnreadable(pos, n);
      // A source that went away stops the walk before the block it could not read, the open
      // run still open: the stop's checkpoint then resumes where the bytes are still unseen.
      if (m_sourceGone) break;
      pos += n;
      rejectRun();
    } else {
      endStretch();
      const std::size_t i = walkWindow(window, n, pos, source, events).next;
      m_sink->flushIfFull();
      m_sink->progress(static_cast<std::int64_t>((pos + i) / kBlockSize), (pos + i) / 512);
      pos += i;
      afterBlock(pos);
      offerCheckpoint(pos, false);
    }
    if (pos >= end) break;
  }
  return pos;
}

void BrandParser::walkChunk(ChunkLog& log, std::uint64_t chunkStart, std::uint64_t chunkEnd, std::uint64_t end,
                            DeviceHandle& source, std::vector<std::uint8_t>& memory, const std::atomic<bool>& abort,
                            bool records) {
  // The chunk's walk never starts a block at or past chunkEnd, so its windows lie in the chunk
  // and the window after it; the margin behind covers the true walk's follower reads beside them.
  const std::size_t span = static_cast<std::size_t>(chunkEnd - chunkStart) + kWindowBytes + kChunkMargin;
  if (memory.size() < span) {
    memory.clear();
    memory.shrink_to_fit();
    memory.reserve(span);
    preferLargePages(memory.data(), span);
    memory.resize(span);
  }
  const std::uint64_t readable = std::min<std::uint64_t>(span, source.size() - std::min(source.size(), chunkStart));
  std::size_t filled = 0;
  const std::uint64_t failuresBefore = source.failedReads();
  if (!source.readAt(chunkStart, std::span(memory.data(), static_cast<std::size_t>(readable)), filled) ||
      filled != readable)
    return;  // not usable: the joiner walks it
  std::memset(memory.data() + filled, 0, span - filled);
  if (end < chunkStart + span)  // the range's end: what lies after it reads as zeros
    std::memset(memory.data() + (end - chunkStart), 0, static_cast<std::size_t>(chunkStart + span - end));

  LoggedEvents events{log};
  if (records) events.records = this;
  std::uint64_t pos = chunkStart;
  for (;;) {
    if (abort.load(std::memory_order_relaxed)) return;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kWindowBytes, end - pos));
    pos += walkWindow(memory.data() + (pos - chunkStart), n, pos, source, events).next;
    if (pos >= end || pos >= chunkEnd || events.full()) break;
  }
  log.stop = pos;
  log.openFrom = events.searching ? events.from : pos;
  log.usable = source.failedReads() == failuresBefore;
}

namespace {
// The joiner's steps: straight into the run, and at every search it asks whether a chunk's walk
// can take over there.
struct JoinedEvents : DirectEvents {
  std::function<bool(std::uint64_t)> joinAt;
  bool join(std::uint64_t x) { return joinAt(x); }
};

// Where the chunks of [start, end) begin: at the options' own starts inside it, else every
// chunkBytes; the first begins at start.
std::vector<std::uint64_t> chunkStartsOf(const ScanOptions& options, std::uint64_t start, std::uint64_t end) {
  std::vector<std::uint64_t> starts{start};
  if (!options.chunkStarts.empty()) {
    for (std::uint64_t s : options.chunkStarts)
      if (s > starts.back() && s < end) starts.push_back(s);
  } else {
    const std::uint64_t chunk = options.chunkBytes ? options.chunkBytes : kDefaultChunkBytes;
    for (std::uint64_t s = start + chunk; s < end; s += chunk) starts.push_back(s);
  }
  return starts;
}
}  // namespace

// At a search of the true walk from x: when the chunk's walk searched over x too, both find the
// same candidate; the true walk rejects as its own search would, and takes the chunk's steps from
// that candidate on, up to the chunk's end.
bool BrandParser::takeOverChunk(const ChunkLog& log, std::uint64_t x) {
  const auto& searches = log.searches;
  auto s = std::upper_bound(searches.begin(), searches.end(), x,
                            [](std::uint64_t v, const WalkSearch& w) { return v < w.from; });
  std::uint64_t from = 0;
  if (s != searches.begin() && x <= std::prev(s)->at) {
    const WalkSearch& found = *std::prev(s);
    if (x < found.at) rejectRun();
    if (!found.accepted) rejectRun();
    from = found.at;
  } else if (x >= log.openFrom) {
    if (x < log.stop) rejectRun();  // the search finds nothing before the chunk's end
    from = x + 1;
  } else {
    return false;
  }
  auto e = std::lower_bound(log.events.begin(), log.events.end(), from,
                            [](const WalkEvent& w, std::uint64_t v) { return w.at < v; });
  for (; e != log.events.end(); ++e) {
    if (e->accepted)
      acceptAt(e->at, e->packet);
    else
      rejectRun();
  }
  const std::size_t r = static_cast<std::size_t>(
      std::lower_bound(log.recordAt.begin(), log.recordAt.end(), from) - log.recordAt.begin());
  if (r < log.keys.size())
    m_sink->addRecords(std::span(log.records).subspan(r * kSegmentRecordSize), std::span(log.keys).subspan(r));
  return true;
}

std::uint64_t BrandParser::parallelWalk(std::uint64_t start, std::uint64_t end) {
  const std::vector<std::uint64_t> starts = chunkStartsOf(m_job->options, start, end);
  const std::size_t chunks = starts.size();
  auto chunkEnd = [&](std::size_t k) { return k + 1 < chunks ? starts[k + 1] : end; };
  const bool records = !m_run && plainOnPacket();
  ChunkSchedule<ChunkLog> schedule(chunks, m_job->options.threads, [&]() -> ChunkSchedule<ChunkLog>::Walk {
    return [this, &starts, &chunkEnd, end, records, handle = device().share(), memory = std::vector<std::uint8_t>()](
               std::size_t k, ChunkLog& log, const std::atomic<bool>& abort) mutable {
      walkChunk(log, starts[k], chunkEnd(k), end, *handle, memory, abort, records);
    };
  });

  DeviceHandle& source = device();
  std::uint64_t pos = start;
  std::size_t k = 0;  // the first chunk that may still take over
  // The chunk whose walk may hold the search at x: chunks the true walk has left are done with.
  auto chunkAt = [&](std::uint64_t x) -> const ChunkLog* {
    while (k < chunks && x >= starts[k]) {
      const ChunkLog& log = schedule.await(k);
      if (log.usable && x <= log.stop) return &log;
      schedule.release(k++);
    }
    return nullptr;
  };
  auto joinAt = [&](std::uint64_t x) -> bool {
    const ChunkLog* log = chunkAt(x);
    if (!log || !takeOverChunk(*log, x)) return false;
    endStretch();  // the chunk read whole
    pos = log->stop;
    schedule.release(k++);
    m_sink->flushIfFull();
    m_sink->progress(static_cast<std::int64_t>(pos / kBlockSize), pos / 512);
    afterBlock(pos);
    offerCheckpoint(pos, false);
    return true;
  };

  std::vector<std::uint8_t> buffer(kWindowBytes);
  JoinedEvents events;
  events.run = openRun();
  events.onAccept = [this](std::uint64_t at, const Packet& p) { acceptAt(at, p); };
  events.joinAt = joinAt;
  while (keepScanning() && pos < end) {
    if (joinAt(pos)) continue;
    // The true walk's own block: before the first chunk's walk meets it, or over a chunk that
    // could not be used.
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), end - pos));
    std::size_t filled = 0;
    if (!source.readAt(pos, std::span(buffer.data(), n), filled)) {
      reportUnreadable(pos, n);
      if (m_sourceGone) break;  // as in the one-thread walk: the unread block is left to a resume
      pos += n;
      rejectRun();
      continue;
    }
    endStretch();
    std::memset(buffer.data() + filled, 0, buffer.size() - filled);
    const WalkStop stop = walkWindow(buffer.data(), n, pos, source, events);
    if (stop.joined) continue;  // pos is the chunk's end
    m_sink->flushIfFull();
    m_sink->progress(static_cast<std::int64_t>((pos + stop.next) / kBlockSize), (pos + stop.next) / 512);
    pos += stop.next;
    afterBlock(pos);
    offerCheckpoint(pos, false);
  }
  schedule.stop();
  return pos;
}

}  // namespace norvale
