#pragma once
// Display texts of the brands and parse modes, and the number a list item's text carries.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvale {

// Ids 0 to the brand table's last: 0 is the unknown brand, the others the table's.
int brandCount();

// "[%d]  <name>"; empty above the table's last brand.
std::string brandName(int brand);
// "快速解析(速度快)", "深度解析(速度慢)", or empty.
std::string parseModeName(int mode);
// "[%d] %s" with the mode number and its name (task dialog, task information, report).
std::string parseModeText(int mode);
// The decimal number between the first "[" and the first "]" of a list text.
std::optional<int> numberFromListText(std::string_view text);

}  // namespace norvale
