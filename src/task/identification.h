#pragma once
// Automatic brand identification by sampling: five blocks spread over the chosen range are
// searched byte by byte with every brand's packet test, and the hits are counted per brand.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "storage/device_handle.h"
#include "storage/device_record.h"
#include "base/error.h"
#include "format/year_window.h"
#include "parsers/brand_table.h"
#include "task/task_status.h"

namespace norvale {

class PacketDecoder;
struct BrandRow;
struct TaskContext;

inline constexpr int kSampleBlocks = 5;
inline constexpr std::size_t kSampleBytes = 0x100200;      // 1 MiB and one sector of look-ahead
inline constexpr std::size_t kSamplePositions = 0x100000;  // start offsets searched per block

// Texts of the identification dialog's status line; the list column and the title.
inline constexpr const char* kIdentifyTitle = "自动识别";
inline constexpr const char* kIdentifyColumn = "监控类型";
inline constexpr const char* kIdentifyRunningText = "正在识别监控类型,请稍等...";
inline constexpr const char* kIdentifyNothingText = "从存储设备底层没有判断出监控类型,请手工选择";
inline constexpr const char* kIdentifyFoundFormat = "已经识别出%d种监控类型,请选择后确定";
inline constexpr const char* kIdentifyEmptyListText = "请点击取消按钮,然后手工选择监控类型";
inline constexpr const char* kIdentifyNoSelectionText = "请在列表中选择监控类型,然后确定";
inline constexpr const char* kIdentifySelectDeviceText = "请在设备列表中选择存储设备";

// The status line once the sampling has ended: nothing found, or how many brands were found.
std::string identificationResultText(std::size_t brandsFound);

// The brands the sampling counts: the first id of each row of the brand table (the ids of one
// row are one design and share its count).
std::vector<int> countedBrands();

// The brand whose packet test counts for a brand: the row's `identifiedBy`, else its own.
std::uint8_t packetTestBrand(int countedBrand);

struct BrandHits {
  int brand = 0;
  int hits = 0;
  bool operator==(const BrandHits&) const = default;
};

// The packet tests the sampling asks, each with the brands its hits count for. Parsers whose
// brand is not registered in the table are left out, so they join once they are registered.
class PacketTestSet {
 public:
  using Lookup = std::function<const BrandRow*(std::uint8_t brand)>;
  struct Test {
    const PacketDecoder* decoder = nullptr;
    std::vector<int> brands;  // ascending
  };

  // One decoder per tested brand; the brands whose packets it tests share its hits. Decoders
  // are stateless, so the task in hand keeps its store, parsers and open source.
  PacketTestSet();
  explicit PacketTestSet(const Lookup& lookup);

  const std::vector<Test>& tests() const { return m_tests; }

 private:
  std::vector<Test> m_tests;
};

// The sampling over an open source: clears the stop flag, sends the observer status 6 (value 5), searches
// the five blocks at start + k x step (k = 1..5, step = the range / 5, unaligned offsets
// allowed) with every test, and sends status 7 with k after each block. Stops after the
// position at which the stop flag is seen; the brands counted so far are kept. Unreadable
// blocks are searched as zeros without a message. Times are judged against the year window
// given. Ends with status 7, value 0, and returns the brands found, fewest hits first, equal
// counts in brand order; the task keeps nothing of it.
std::vector<BrandHits> sampleBrands(TaskContext& task, TaskObserver& observer, DeviceHandle& source,
                                    std::uint64_t startSector, std::uint64_t sectorCount, const PacketTestSet& tests,
                                    const YearWindow& years);

// The identification worker's scan: opens the device read-only on a handle of its own (status
// 1 "访问源设备失败,请确认源设备是否存在" and an error when it cannot), and samples it with every
// registered brand's packet test.
Result<std::vector<BrandHits>> identifyBrands(TaskContext& task, TaskObserver& observer, const DeviceRecord& device,
                                              std::uint64_t startSector, std::uint64_t sectorCount,
                                              const YearWindow& years);

}  // namespace norvale
