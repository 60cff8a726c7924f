// Each brand row's quick and deep scan over an in-memory device, run through the task layer as
// the runner runs it: scan, rebuild, cut the intermediates, load the file map, read each file.
#include <filesystem>
#include <memory>

#include "fuzz/fuzz_targets.h"
#include "parsers/brand_parser.h"
#include "parsers/brand_table.h"
#include "task/brand_scan.h"
#include "task/result_store.h"
#include "task/task_context.h"

namespace norvale::fuzz {

namespace {
// Enough for brand 5's first section index (128 KiB in, 2 MiB long) in quick mode; deep mode
// carves every byte, so its devices stay near two scan blocks.
constexpr std::size_t kMaxQuickDevice = (5 << 20) / 2;
constexpr std::size_t kMaxDeepDevice = (5 << 20) / 4;
constexpr std::size_t kMaxFilesRead = 64;
constexpr std::uint64_t kMaxRecordsRead = 4096;

class QuietObserver final : public TaskObserver {
 public:
  void onTaskStatus(const TaskStatus&) override {}
};
}  // namespace

void fuzzScan(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return;
  const auto table = brandTable();
  const BrandRow& row = table[(data[0] >> 1) % table.size()];
  const std::uint8_t mode = data[0] & 1;
  const std::uint8_t brand = static_cast<std::uint8_t>(row.first + data[1] % (row.last - row.first + 1));
  std::vector<std::uint8_t> device =
      sparseDevice({data + 2, size - 2}, mode == kParseQuick ? kMaxQuickDevice : kMaxDeepDevice);

  const std::string folder = scratchFolder() + "/scan";
  std::filesystem::create_directories(folder);
  QuietObserver observer;
  TaskContext task;
  TaskHead head;
  head.description.brand = brand;
  head.description.parseMode = mode;
  head.description.length = (device.size() + 511) / 512 * 512;
  head.taskFolder = folder;
  task.describe(head);
  task.teardown();
  task.reset();
  task.deviceHandle.open(std::make_unique<MemorySource>(std::move(device)));
  if (auto opened = task.store->openFiles(folder, TaskFileMode::Create); !opened)
    fail("the task files cannot be created: " + opened.error().message);
  const std::unique_ptr<BrandParser> parser = createParser(brand);
  if (!parser) fail("no parser for brand " + std::to_string(brand));
  if (auto ended = runBrandScan(task, observer, *parser); !ended) fail("the scan failed: " + ended.error().message);
  if (auto cut = task.store->truncateIntermediates(); !cut) fail("the intermediates cannot be cut: " + cut.error().message);
  if (auto loaded = loadBrandFiles(task, observer); !loaded) fail("a scan's own files do not load: " + loaded.error().message);
  std::size_t read = 0;
  for (const auto& [key, entry] : task.fileMap) {
    if (++read > kMaxFilesRead) break;
    const std::uint64_t count = std::min(entry.recordCount(), kMaxRecordsRead);
    auto records = task.store->readFileRecords(entry, 0, count);
    if (!records) fail("a listed file's records do not read back: " + records.error().message);
    if (records->size() != count) fail("a listed file reads back fewer records than it counts");
  }
  task.teardown();
}

}  // namespace norvale::fuzz
