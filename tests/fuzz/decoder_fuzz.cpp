// Each brand row's packet decoder at every position of the input, against its nextCandidate.
#include <memory>

#include "fuzz/fuzz_targets.h"
#include "parsers/brand_parser.h"
#include "parsers/brand_table.h"
#include "parsers/packet_decoder.h"

namespace norvale::fuzz {

namespace {
constexpr std::size_t kMaxBytes = 1 << 16;
}

std::optional<std::string> candidateMismatch(const PacketDecoder& decoder, std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return std::nullopt;
  // As the scan frame lays a block out: the bytes read, then look-ahead zeros.
  std::vector<std::uint8_t> buffer(bytes.begin(), bytes.end());
  buffer.resize(bytes.size() + kLookAhead, 0);
  DeviceHandle device;
  device.open(std::make_unique<MemorySource>(std::vector<std::uint8_t>(bytes.begin(), bytes.end())));
  const std::size_t last = bytes.size() - 1;
  auto accepts = [&](std::size_t at) {
    const PacketWindow window{buffer.data() + at, buffer.size() - at,
                              static_cast<std::int64_t>(bytes.size()) - static_cast<std::int64_t>(at), at};
    return decoder.decode(window, device).has_value();
  };
  std::size_t from = 0;
  while (from <= last) {
    const std::size_t candidate = decoder.nextCandidate(buffer.data(), from, last);
    if (candidate < from || candidate > last + 1)
      return "nextCandidate(" + std::to_string(from) + ") returned " + std::to_string(candidate) +
             ", outside the range up to " + std::to_string(last + 1);
    for (std::size_t at = from; at < candidate; ++at)
      if (accepts(at))
        return "nextCandidate(" + std::to_string(from) + ") returned " + std::to_string(candidate) +
               ", skipping a packet that decode accepts at " + std::to_string(at);
    if (candidate > last) break;
    (void)accepts(candidate);
    from = candidate + 1;
  }
  return std::nullopt;
}

void fuzzDecoder(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return;
  const auto table = brandTable();
  const BrandRow& row = table[data[0] % table.size()];
  if (!row.decoder) return;
  const std::span<const std::uint8_t> bytes(data + 1, std::min(size - 1, kMaxBytes));
  if (auto mismatch = candidateMismatch(*row.decoder, bytes))
    fail("brand " + std::to_string(row.first) + ": " + *mismatch);
}

}  // namespace norvale::fuzz
