#include "task/brand_registry.h"

#include <charconv>
#include <cstdio>

#include "parsers/brand_table.h"

namespace norvale {
namespace {
constexpr const char* kUnknownBrandName = "未知监控录像系统";
}  // namespace

int brandCount() { return lastBrand() + 1; }

std::string brandName(int brand) {
  if (brand < 0 || brand > lastBrand()) return {};
  const char* name = kUnknownBrandName;  // id 0 is no row of the table
  if (brand != 0) {
    const BrandRow* row = findBrand(static_cast<std::uint8_t>(brand));
    if (!row) return {};
    name = row->name(static_cast<std::uint8_t>(brand));
  }
  return "[" + std::to_string(brand) + "]  " + name;
}

std::string parseModeName(int mode) {
  switch (mode) {
    case 0: return "快速解析(速度快)";
    case 1: return "深度解析(速度慢)";
    default: return {};
  }
}

std::string parseModeText(int mode) { return "[" + std::to_string(mode) + "] " + parseModeName(mode); }

std::optional<int> numberFromListText(std::string_view text) {
  const auto open = text.find('[');
  const auto close = text.find(']');
  if (open == std::string_view::npos || close == std::string_view::npos || close <= open + 1) return std::nullopt;
  int value = 0;
  const char* first = text.data() + open + 1;
  const char* last = text.data() + close;
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec != std::errc{} || ptr != last) return std::nullopt;
  return value;
}

}  // namespace norvale
