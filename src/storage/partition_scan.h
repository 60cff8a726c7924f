#pragma once
// The partition walk: MBR, extended chains, GPT behind a protective 0xEE entry, the
// UnixWare slice table, and finally the whole device probed as one partition at offset 0. Every
// candidate is kept only when a file-system probe recognises it.
#include <cstddef>
#include <cstdint>

#include "base/error.h"
#include "storage/device_handle.h"
#include "storage/device_record.h"

namespace norvale {

// At most this many extended boot records are read per device; a chain also never reads the
// same record twice, so loops (an EBR pointing at itself or back) end at once.
inline constexpr std::size_t kMaxExtendedRecords = 1024;

// Fills record.partitions (emptied first) by walking the tables of the open handle. Reads never
// start at or past the device's end (the handle's size, else record.size when the handle knows
// none); a failed read ends only its own branch of the walk. Partitions are named "Partition%d"
// in discovery order, counting from 0.
void scanPartitions(DeviceHandle& handle, DeviceRecord& record);

// The index-th listed partition of the source, counting from 0 (`scan --partition K`). Uses the
// record's partition list, or scans the handle when the record has none listed yet. An error
// names how many partitions there are when the index is not one of them.
Result<PartitionRecord> findPartition(DeviceHandle& handle, const DeviceRecord& record, int index);

}  // namespace norvale
