#pragma once
// What a parser's scan hands on, and the little it asks back. The task layer implements it over
// the result store and the task notification; tests and tools may implement it over anything.
#include <cstdint>
#include <span>
#include <string>

#include "format/records.h"
#include "parsers/scan_notice.h"

namespace norvale {

class ScanSink {
 public:
  virtual ~ScanSink() = default;

  // A found segment under its store key (channel << 32 | hour code), to be sorted by key.
  virtual void addRecord(const SegmentRecord& record, std::uint64_t key) = 0;
  // Found segments in a row, serialised as the task files hold them (37 bytes each), each with
  // its key: the same as addRecord for each in turn.
  virtual void addRecords(std::span<const std::uint8_t> records, std::span<const std::uint64_t> keys) {
    for (std::size_t i = 0; i < keys.size(); ++i) addRecord(SegmentRecord::read(&records[i * kSegmentRecordSize]), keys[i]);
  }
  // A found segment for the arrival list, kept in the order found.
  virtual void appendRecord(const SegmentRecord& record) = 0;
  // Writes the keyed records out when more are pending than the store keeps in memory.
  virtual void flushIfFull() = 0;
  // Writes every pending keyed record out.
  virtual void flush() = 0;
  // Does the arrival list hold more than the store keeps in memory?
  virtual bool arrivalsFull() const = 0;
  // Writes the arrival list out as it stands.
  virtual void listArrivals() = 0;
  // Writes the arrival list out and makes one file of it, from its first key record on.
  virtual void listArrivalsAsFile() = 0;

  // The scan starts: `total` progress steps lie ahead.
  virtual void scanStarted(std::int64_t total) = 0;
  // Step `value` is done (with the sector reached, where the scan tells it).
  virtual void progress(std::int64_t value) = 0;
  virtual void progress(std::int64_t value, std::uint64_t currentSector) = 0;
  // Something the user is told of, said as a value; the sink words it.
  virtual void report(const ScanNotice& notice) = 0;

  // Is a checkpoint due? Asked after every block, so it is cheap.
  virtual bool checkpointDue() const { return false; }
  // The scan has reached `position`; every record handed over so far comes from before
  // `resumeOffset`, and a scan continued from there finds exactly the rest. The sink makes that
  // durable as it can.
  virtual void checkpoint(std::uint64_t position, std::uint64_t resumeOffset) {
    (void)position;
    (void)resumeOffset;
  }

  // The user asked to stop.
  virtual bool stopRequested() const = 0;
  // The scan cannot go on (its source is gone): stop it as the user's stop would.
  virtual void requestStop() {}
  // The task files could not be written: the scan ends, what was stored is kept.
  virtual bool failed() const = 0;
};

}  // namespace norvale
