#pragma once
// Text helpers of `norvale-cli devices`.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace norvale::cli {

// Terminal columns a UTF-8 text takes: East Asian wide characters count 2.
std::size_t displayWidth(std::string_view utf8);

}  // namespace norvale::cli
