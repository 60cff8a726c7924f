// The partition walk and the file-system probes over an in-memory device.
#include <memory>

#include "fuzz/fuzz_targets.h"
#include "storage/device_handle.h"
#include "storage/fs_probe.h"
#include "storage/partition_scan.h"

namespace norvale::fuzz {

namespace {
constexpr std::size_t kMaxDevice = 8 << 20;

// The device, with the walk's promise checked: no read starts at or past the end (an empty
// device counts as one of unknown size, whose reads fail by themselves).
class BoundedSource final : public ByteSource {
 public:
  explicit BoundedSource(std::vector<std::uint8_t> bytes) : m_memory(std::move(bytes)) {}
  Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> dst) override {
    if (!m_memory.bytes().empty() && offset >= m_memory.bytes().size() && !dst.empty())
      fail("the partition walk read at " + std::to_string(offset) + ", past the end of a device of " +
           std::to_string(m_memory.bytes().size()) + " bytes");
    return m_memory.readAt(offset, dst);
  }
  Result<std::uint64_t> size() override { return m_memory.size(); }

 private:
  MemorySource m_memory;
};
}  // namespace

void fuzzPartitions(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> device = sparseDevice({data, size}, kMaxDevice);
  const std::uint64_t deviceSize = device.size();

  // The probes on their own see the device's first bytes, whatever their length.
  PartitionRecord direct;
  const std::size_t probed = std::min(device.size(), kProbeReadSize);
  if (identifyFileSystem(std::span(device.data(), probed), direct) && !direct.geometry)
    fail("a probe recognised a file system without describing it");

  DeviceHandle handle;
  handle.open(std::make_unique<BoundedSource>(std::move(device)));
  DeviceRecord record;
  record.kind = DeviceKind::Path;
  record.size = deviceSize;
  scanPartitions(handle, record);
  for (const PartitionRecord& p : record.partitions) {
    if (p.start >= deviceSize) fail("a partition starts at " + std::to_string(p.start) + ", past the device's end");
    if (!p.geometry || p.geometry->fsType != p.fsType) fail("a partition's geometry does not name its file system");
  }
  const int count = static_cast<int>(record.partitions.size());
  for (int index : {-1, 0, count - 1, count}) {
    auto found = findPartition(handle, record, index);
    const bool listed = index >= 0 && index < count;
    if (found.has_value() != listed) fail("findPartition(" + std::to_string(index) + ") disagrees with the list");
    if (listed && found->start != record.partitions[static_cast<std::size_t>(index)].start)
      fail("findPartition returned another partition");
  }
}

}  // namespace norvale::fuzz
