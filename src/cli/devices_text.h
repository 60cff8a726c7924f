#pragma once
// Text helpers of `norvale-cli devices`. Kept local to the command until the shared status
// texts (Part 5.3) exist in src/task/.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace norvale::cli {

// Part 5.3's narrow size formatter: "%.1f Bytes" below 1024, then "%.1f KB", "MB", "GB", "TB",
// "PB", "EB" by powers of 1024; 0 gives "0.0 Bytes".
std::string devicesSizeText(std::uint64_t bytes);

// Terminal columns a UTF-8 text takes: East Asian wide characters count 2.
std::size_t displayWidth(std::string_view utf8);

}  // namespace norvale::cli
