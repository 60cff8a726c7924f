#pragma once
// The one table of recorder designs: which brand ids each serves, its parser slot, its packet
// decoder, how to make its scanner, how its times read, and how its files are rebuilt. Adding a
// brand is a parser unit plus one line in brand_table.cpp.
#include <cstdint>
#include <memory>
#include <span>

#include "format/rebuild_plan.h"
#include "format/time_convention.h"

namespace norvale {

class BrandParser;
class PacketDecoder;

struct BrandRow {
  std::uint8_t first = 0;  // brand ids first..last share this row
  std::uint8_t last = 0;
  int slot = 0;            // parser slot in the task context
  const PacketDecoder* decoder = nullptr;
  std::unique_ptr<BrandParser> (*create)() = nullptr;
  TimeConvention (*convention)(std::uint8_t parseMode) = nullptr;
  RebuildPlan quickRebuild;
  RebuildPlan deepRebuild;
  const char* fileExtension = "dat";  // of exported files

  const RebuildPlan& rebuild(std::uint8_t parseMode) const { return parseMode == 0 ? quickRebuild : deepRebuild; }
};

std::span<const BrandRow> brandTable();
// The row serving a brand id; null for 0 and ids above 48.
const BrandRow* findBrand(std::uint8_t brand);
// The time convention of a brand in a parse mode (PackedTime for unknown brands).
TimeConvention timeConventionFor(std::uint8_t brand, std::uint8_t parseMode);
const char* fileExtensionFor(std::uint8_t brand);

}  // namespace norvale
