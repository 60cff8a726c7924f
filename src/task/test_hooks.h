#pragma once
// Hooks of the kill tests, read from the environment (see brand_scan.cpp for the list). They
// cost one getenv where they stand and do nothing unless a test asks.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <thread>

namespace norvale {

// With NORVALE_TEST_PAUSE_AT=moment: says "pause: moment" on stderr and waits a minute there,
// to be killed.
inline void testPause(const char* moment) {
  const char* at = std::getenv("NORVALE_TEST_PAUSE_AT");
  if (!at || std::string_view(at) != moment) return;
  std::fprintf(stderr, "pause: %s\n", moment);
  std::fflush(stderr);
  std::this_thread::sleep_for(std::chrono::seconds(60));
}

}  // namespace norvale
