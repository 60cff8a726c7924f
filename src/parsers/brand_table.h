#pragma once
// The one table of recorder parsers: which brand ids each serves, its parser slot, how to make
// it, and how its times read. Adding a brand is a parser unit plus one line in brand_table.cpp.
#include <cstdint>
#include <memory>
#include <span>

#include "task/time_convention.h"

namespace norvale {

class BrandParser;
struct TaskContext;

struct BrandRow {
  std::uint8_t first = 0;  // brand ids first..last share this parser
  std::uint8_t last = 0;
  int slot = 0;            // parser slot in the task context
  std::unique_ptr<BrandParser> (*create)(TaskContext& task) = nullptr;
  TimeConvention (*convention)(std::uint8_t parseMode) = nullptr;
  const char* fileExtension = "dat";  // of exported files
};

std::span<const BrandRow> brandTable();
// The row serving a brand id; null for 0 and ids above 48.
const BrandRow* findBrand(std::uint8_t brand);
// The time convention of a brand in a parse mode (PackedTime for unknown brands).
TimeConvention timeConventionFor(std::uint8_t brand, std::uint8_t parseMode);
const char* fileExtensionFor(std::uint8_t brand);

}  // namespace norvale
