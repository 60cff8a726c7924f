// The conversion's stream reader over an exported file's bytes: the brand's own walk finds the
// access units, whatever the bytes.
#include "base/byte_reader.h"
#include "convert/stream_reader.h"
#include "format/task_header.h"
#include "fuzz/fuzz_targets.h"
#include "parsers/brand_table.h"
#include "storage/byte_source.h"

namespace norvale::fuzz {

void fuzzConvert(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return;
  // Byte 0 picks one id of one row of the table.
  std::vector<std::uint8_t> ids;
  for (const BrandRow& row : brandTable())
    for (int id = row.first; id <= row.last; ++id) ids.push_back(static_cast<std::uint8_t>(id));
  const std::uint8_t brand = ids[data[0] % ids.size()];
  // Every row of the brand table names how its files are read: one that does not is a fault.
  if (!convert::hasStreamReader(brand)) fail("brand " + std::to_string(brand) + ": its row names no conversion layout");
  const std::vector<std::uint8_t> bytes(data + 1, data + size);
  MemorySource file(bytes);
  convert::StreamInput input;
  input.bytes = &file;
  input.brand = brand;
  input.parseMode = kParseDeep;
  input.convention = timeConventionFor(brand, kParseDeep);
  // Times as a task gives them: the bytes' first word as the entry's start, a minute on.
  input.entryStart = bytes.size() >= 4 ? le32(bytes.data()) : 0;
  input.entryEnd = input.entryStart + 60;
  for (std::size_t at = 0; at + 8 <= bytes.size() && input.pieceTimes.size() < 64; at += bytes.size() / 8 + 1)
    input.pieceTimes.emplace_back(at, input.entryStart + static_cast<std::uint32_t>(at % 60));
  // The sanitizers watch the walk; the reader's own counts must hold what it passed on.
  std::uint64_t units = 0;
  const auto summary = convert::readStream(input, [&](convert::AccessUnit&& unit) {
    if (unit.bytes.empty()) fail("brand " + std::to_string(brand) + ": an empty access unit");
    ++units;
    return true;
  });
  if (units > 0 && summary.codec == convert::VideoCodec::Unknown)
    fail("brand " + std::to_string(brand) + ": units passed on without a codec");
}

}  // namespace norvale::fuzz
