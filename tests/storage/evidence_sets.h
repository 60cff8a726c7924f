#pragma once
// Evidence sets made from an image by the real tools: EWF sets by ewfacquirestream (ewf-tools),
// split sets by split (coreutils). Shared by the storage and command-line suites.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "sample/sample_image.h"
#include "support/disk_tools.h"
#include "support/test_support.h"

namespace norvale::test {

#define NORVALE_SKIP_WITHOUT_EWF_TOOLS()                                  \
  if (::norvale::test::findTool("ewfacquirestream").empty())              \
  GTEST_SKIP() << "ewfacquirestream is not installed (package ewf-tools)"

inline constexpr std::size_t kEwfChunk = 16 * 512;  // -b 16

// The case notes every test set carries.
inline const char* const kCaseNumber = "case 7";
inline const char* const kEvidenceNumber = "ev-42";
inline const char* const kExaminer = "examiner one";
inline const char* const kDescription = "recorder disk";
inline const char* const kNotes = "seized 2016";

// Acquires the image file as target.E01, target.E02, ...: 1 MiB segments, 8 KiB chunks, the given
// compression ("none" or "deflate:fast"), MD5 always and SHA1 when asked. Returns the first segment.
inline std::string makeEwfSet(const std::string& image, const std::string& target, const std::string& compression,
                              bool sha1 = true) {
  std::vector<std::string> argv{"ewfacquirestream", "-q", "-S", "1048576", "-b", "16", "-c", compression,
                                "-t", target, "-C", kCaseNumber, "-D", kDescription, "-E", kEvidenceNumber,
                                "-e", kExaminer, "-N", kNotes};
  if (sha1) argv.insert(argv.end(), {"-d", "sha1"});
  const auto bytes = readFile(image);
  const auto run = runTool(argv, std::string(bytes.begin(), bytes.end()));
  EXPECT_TRUE(run.ok()) << run.output;
  return target + ".E01";
}

// Splits the image file into prefix.001, prefix.002 ... (numbered from `first`) or, with
// letters, prefix.aa, prefix.ab ...; returns the first segment.
inline std::string splitImage(const std::string& image, const std::string& prefix, std::uint64_t bytes,
                              bool letters = false, int first = 1) {
  std::vector<std::string> argv{"split", "-b", std::to_string(bytes)};
  if (!letters) argv.insert(argv.end(), {"-a", "3", "--numeric-suffixes=" + std::to_string(first)});
  argv.insert(argv.end(), {image, prefix + "."});
  const auto run = runTool(argv);
  EXPECT_TRUE(run.ok()) << run.output;
  return prefix + (letters ? ".aa" : first == 0 ? ".000" : ".001");
}

// Flips one byte of the stored data of one chunk of an uncompressed EWF set (first segment
// X.E01), the first chunk at or after `near` whose bytes first occur there in the image, so that
// the place found in the segment files is that chunk's. Returns the chunk's media offset.
// keepChecksum rewrites the chunk's Adler-32 (stored after its data) to match: the change then
// reads as good data, as a tampered set would.
inline std::uint64_t damageChunk(const std::string& firstSegment, const std::vector<std::uint8_t>& image,
                                 std::uint64_t near, bool keepChecksum = false) {
  for (std::uint64_t chunk = near / kEwfChunk * kEwfChunk; chunk + kEwfChunk <= image.size(); chunk += kEwfChunk) {
    const auto needle = image.begin() + static_cast<std::ptrdiff_t>(chunk + 100);
    if (std::search(image.begin(), image.end(), needle, needle + 64) != needle) continue;
    for (int n = 1; n <= 9; ++n) {
      const std::string segment = firstSegment.substr(0, firstSegment.size() - 1) + std::to_string(n);
      if (!std::filesystem::exists(segment)) break;
      auto bytes = readFile(segment);
      const auto at = std::search(bytes.begin(), bytes.end(), needle, needle + 64);
      if (at == bytes.end()) continue;
      at[10] ^= 0x5A;
      if (keepChecksum) {
        const auto data = at - 100;
        std::uint32_t a = 1, b = 0;
        for (std::size_t i = 0; i < kEwfChunk; ++i) a = (a + data[i]) % 65521, b = (b + a) % 65521;
        const std::uint32_t sum = (b << 16) | a;
        for (int k = 0; k < 4; ++k) data[kEwfChunk + k] = static_cast<std::uint8_t>(sum >> (8 * k));
      }
      writeFile(segment, bytes);
      return chunk;
    }
  }
  ADD_FAILURE() << "no chunk to damage in " << firstSegment;
  return 0;
}

// The built-in sample image (2,535,424 bytes: 4 channels, 3 days) written to dir/sample.img.
inline std::string writeSample(const TempDir& dir) {
  const std::string path = dir.file("sample.img");
  writeFile(path, sample::buildSampleImage().bytes);
  return path;
}

}  // namespace norvale::test
