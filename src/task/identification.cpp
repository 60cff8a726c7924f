#include "task/identification.h"

#include <algorithm>
#include <map>
#include <cstdio>
#include <cstring>

#include "parsers/packet_decoder.h"
#include "parsers/brand_table.h"
#include "task/task_context.h"

namespace norvale {

std::string identificationResultText(std::size_t brandsFound) {
  if (brandsFound == 0) return kIdentifyNothingText;
  char buf[128];
  std::snprintf(buf, sizeof buf, kIdentifyFoundFormat, static_cast<int>(brandsFound));
  return buf;
}

std::uint8_t packetTestBrand(int countedBrand) {
  const auto brand = static_cast<std::uint8_t>(countedBrand);
  const BrandRow* row = findBrand(brand);
  return row && row->identifiedBy ? row->identifiedBy : brand;
}

std::vector<int> countedBrands() {
  std::vector<int> brands;
  for (const BrandRow& row : brandTable()) brands.push_back(row.first);
  return brands;
}

PacketTestSet::PacketTestSet() : PacketTestSet(&findBrand) {}

PacketTestSet::PacketTestSet(const Lookup& lookup) {
  std::vector<std::uint8_t> testedBrands;  // parallel to m_tests
  for (const int counted : countedBrands()) {
    const std::uint8_t tested = packetTestBrand(counted);
    const auto known = std::find(testedBrands.begin(), testedBrands.end(), tested);
    if (known != testedBrands.end()) {
      // The same test already asked: its hits count for this brand too.
      m_tests[static_cast<std::size_t>(known - testedBrands.begin())].brands.push_back(counted);
      continue;
    }
    const BrandRow* row = lookup(tested);
    if (!row || !row->decoder) continue;  // that brand's decoder is not part of this build
    m_tests.push_back(Test{row->decoder, {counted}});
    testedBrands.push_back(tested);
  }
  for (auto& test : m_tests) std::sort(test.brands.begin(), test.brands.end());
}

std::vector<BrandHits> sampleBrands(TaskContext& task, TaskObserver& observer, DeviceHandle& source,
                                    std::uint64_t startSector, std::uint64_t sectorCount, const PacketTestSet& tests,
                                    const YearWindow& years) {
  task.clearStop();

  task.status.code = StatusCode::IdentifyStart;
  task.status.value = kSampleBlocks;
  task.notify(observer);

  const std::uint64_t base = startSector * kSectorSize;
  const std::uint64_t step = sectorCount * kSectorSize / kSampleBlocks;
  const auto& testList = tests.tests();
  // Hits per test; each brand is counted by exactly one test.
  std::vector<int> hits(testList.size(), 0);
  std::vector<std::uint8_t> buffer(kSampleBytes);

  for (int k = 1; k <= kSampleBlocks; ++k) {
    const std::uint64_t position = base + static_cast<std::uint64_t>(k) * step;
    std::memset(buffer.data(), 0, buffer.size());
    // A failed read may have filled part of the buffer; the sample is then searched as zeros.
    if (!source.readAt(position, buffer)) std::memset(buffer.data(), 0, buffer.size());
    for (std::size_t j = 0; j < kSamplePositions; ++j) {
      const PacketWindow window{buffer.data() + j, kSampleBytes - j,
                                static_cast<std::int64_t>(kSamplePositions - j), position + j, nullptr,
                                years};
      for (std::size_t t = 0; t < testList.size(); ++t)
        if (testList[t].decoder->decode(window, source)) ++hits[t];
      if (task.stopRequested()) break;
    }
    task.status.code = StatusCode::IdentifyProgress;
    task.status.value = k;
    task.notify(observer);
    if (task.stopRequested()) break;
  }

  std::map<int, int> candidates;  // brand -> hits
  for (std::size_t t = 0; t < testList.size(); ++t) {
    if (hits[t] == 0) continue;
    for (int brand : testList[t].brands) candidates[brand] += hits[t];
  }
  // Walking the candidates in brand order keeps equal counts in brand order.
  std::vector<BrandHits> ordered;
  for (const auto& [brand, count] : candidates) ordered.push_back({brand, count});
  std::stable_sort(ordered.begin(), ordered.end(), [](const BrandHits& a, const BrandHits& b) { return a.hits < b.hits; });

  task.status.code = StatusCode::IdentifyProgress;
  task.status.value = 0;
  task.notify(observer);
  return ordered;
}

Result<std::vector<BrandHits>> identifyBrands(TaskContext& task, TaskObserver& observer, const DeviceRecord& device,
                                              std::uint64_t startSector, std::uint64_t sectorCount,
                                              const YearWindow& years) {
  task.clearStop();
  // A handle of its own, read-only: the task's open source and its files stay as they are.
  DeviceHandle source;
  source.open(device);
  if (!source.ok()) {
    task.postMessage(observer, "访问源设备失败,请确认源设备是否存在");
    Error error = source.lastError();
    error.message = "访问源设备失败,请确认源设备是否存在 (" + error.message + ")";
    return std::unexpected(std::move(error));
  }
  const PacketTestSet tests;
  return sampleBrands(task, observer, source, startSector, sectorCount, tests, years);
}

}  // namespace norvale
