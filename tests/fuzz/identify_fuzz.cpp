// The brand identification's sampling over an in-memory device, with one packet test: the
// sampling's own windows, reads and counting, one sample block per input.
#include <algorithm>
#include <memory>

#include "base/byte_reader.h"
#include "fuzz/fuzz_targets.h"
#include "parsers/brand_table.h"
#include "task/identification.h"
#include "task/task_context.h"

namespace norvale::fuzz {

namespace {
constexpr std::size_t kMaxDevice = (5 << 20) / 2;

// Stops the sampling after its first block: each block searches a million positions.
class FirstBlockOnly final : public TaskObserver {
 public:
  explicit FirstBlockOnly(TaskContext& task) : m_task(task) {}
  void onTaskStatus(const TaskStatus& status) override {
    if (status.code == StatusCode::IdentifyProgress && status.value == 1) m_task.requestStop();
  }

 private:
  TaskContext& m_task;
};
}  // namespace

void fuzzIdentify(const std::uint8_t* data, std::size_t size) {
  // Byte 0 picks the counted brand whose test runs, then a u16 start sector and a u32 sector
  // count, then the device.
  if (size < 7) return;
  const std::vector<int> brands = countedBrands();
  const int counted = brands[data[0] % brands.size()];
  const std::uint8_t tested = packetTestBrand(counted);
  const PacketTestSet tests([tested](std::uint8_t brand) { return brand == tested ? findBrand(brand) : nullptr; });
  const std::uint64_t startSector = le16(data + 1);
  const std::uint64_t sectorCount = le32(data + 3);
  DeviceHandle source;
  source.open(std::make_unique<MemorySource>(sparseDevice({data + 7, size - 7}, kMaxDevice)));
  TaskContext task;
  FirstBlockOnly observer(task);
  const auto found = sampleBrands(task, observer, source, startSector, sectorCount, tests, YearWindow::legacy());
  const std::vector<int> allowed = tests.tests().empty() ? std::vector<int>{} : tests.tests().front().brands;
  int previous = 0;
  for (const BrandHits& hit : found) {
    if (std::find(allowed.begin(), allowed.end(), hit.brand) == allowed.end())
      fail("brand " + std::to_string(hit.brand) + " counted by the test of brand " + std::to_string(tested));
    if (hit.hits <= 0 || hit.hits < previous) fail("the brands are not listed by ascending hit count");
    previous = hit.hits;
  }
}

}  // namespace norvale::fuzz
