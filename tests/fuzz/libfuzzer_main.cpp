// libFuzzer's entry, built once per target with NORVALE_FUZZ_ENTRY naming its function.
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  norvale::fuzz::NORVALE_FUZZ_ENTRY(data, size);
  return 0;
}
