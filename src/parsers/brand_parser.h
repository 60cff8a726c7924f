#pragma once
// The frame every recorder parser is built on: the run sequence with its messages, the linear
// block scan of the device, the follower check and the hand-over of records to the store.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "storage/device_handle.h"
#include "task/records.h"
#include "task/result_store.h"
#include "task/task_context.h"
#include "task/time_convention.h"

namespace norvale {

inline constexpr std::uint32_t kBlockSize = 1 << 20;       // 1 MiB scan block
inline constexpr std::uint32_t kLookAhead = 512;
inline constexpr std::size_t kWindowLastStart = kBlockSize - 1;  // start offsets 0..0xFFFFF per block

// A candidate position in a read buffer.
struct PacketWindow {
  const std::uint8_t* data = nullptr;
  std::size_t available = 0;    // bytes that may be read from data (the buffer's end)
  std::int64_t valid = 0;       // bytes from data that came from the device (may be <= 0)
  std::uint64_t deviceOffset = 0;
};

// What a packet test accepted.
struct Packet {
  SegmentKind kind = SegmentKind::Other;
  std::uint32_t channel = 0;
  std::uint32_t time = 0;
  std::uint64_t dataOffset = 0;  // device offset of the bytes kept
  std::uint64_t dataLength = 0;
  std::uint64_t advance = 1;     // whole packet length: where the walk goes on
};

class BrandParser {
 public:
  explicit BrandParser(TaskContext& task) : m_task(task) {}
  virtual ~BrandParser() = default;
  BrandParser(const BrandParser&) = delete;
  BrandParser& operator=(const BrandParser&) = delete;

  // Scan the task's range in the task's mode, rebuild the files, write the header twice.
  void run();
  // Load the file map of a saved task in this brand's time convention.
  Result<void> load();
  // The brand's packet test, asked by the scan and by the identification. device serves the
  // follower check when the follower lies past the valid bytes.
  virtual std::optional<Packet> testPacket(const PacketWindow& window, DeviceHandle& device) = 0;
  virtual TimeConvention timeConvention() const = 0;
  // Hour code (year<<14|month<<10|day<<5|hour) of a time, the low half of the store key.
  virtual std::uint32_t hourCode(std::uint32_t time) const;

 protected:
  bool quickMode() const { return m_task.parseMode == kParseQuick; }
  // Quick and deep scans; both default to the linear block scan.
  virtual void scanQuick() { linearBlockScan(); }
  virtual void scanDeep() { linearBlockScan(); }
  // Read back the index, sort by time, join into file entries.
  virtual Result<void> rebuild();
  // Brands that keep a list of their own clear it here (before and after the run).
  virtual void clearLists() {}

  // Handling of accepted packets and rejected positions during the linear scan. The default
  // adds each packet as a record of its own.
  virtual void onPacket(const Packet& packet);
  virtual void onRejected() {}
  virtual void afterLinearScan() {}
  // Runs at every tested position before the packet test (brands with in-stream markers).
  virtual void beforePacketTest(const PacketWindow& window) { (void)window; }
  // After each scanned block, with the position the next block starts at.
  virtual void afterBlock(std::uint64_t next) { (void)next; }
  // After a block that could not be read (and was skipped whole).
  virtual void onUnreadableBlock() {}
  // First position >= from (up to last) where the packet test could accept; last + 1 when there
  // is none. Brands with a fixed magic override it with a fast search; the result must be the
  // same as testing every position.
  virtual std::size_t nextCandidate(const std::uint8_t* buffer, std::size_t from, std::size_t last) const {
    (void)buffer;
    (void)last;
    return from;
  }

  void linearBlockScan();
  // Adds a record under its key and counts it as found.
  void addRecord(const SegmentRecord& record, std::uint64_t key);
  // Flushes pending records when more than the threshold wait.
  void flushIfFull();
  // Does the spot at relative offset `at` from the window carry magic? Reads the device when the
  // spot lies past the valid bytes (a failed read leaves zeros and so says no).
  bool followerHasMagic(const PacketWindow& window, DeviceHandle& device, std::uint64_t at,
                        std::span<const std::uint8_t> magic) const;
  // Copies out.size() bytes at relative offset `at`: from the buffer when `at + inBufferNeed`
  // bytes are valid there, otherwise from a 1024-byte device read at the spot rounded down to a
  // sector (zeros when that read fails). inBufferNeed defaults to out.size().
  static void followerBytes(const PacketWindow& window, DeviceHandle& device, std::uint64_t at,
                            std::span<std::uint8_t> out, std::uint64_t inBufferNeed = 0);
  std::string brandText() const;
  // Reports a task-file failure once and stops the scan: what was stored so far is kept.
  void reportStoreFailure(const Error& error);

  TaskContext& m_task;
  bool m_storeFailed = false;
};

}  // namespace norvale
