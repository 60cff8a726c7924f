#pragma once
// SHA256SUMS at the root of an output folder, in the form `sha256sum -c` checks: one
// "<hex>  <path relative to the folder>" line per file the program wrote there.
#include <cstddef>
#include <string>
#include <vector>

#include "base/error.h"
#include "task/task_probe.h"

namespace norvale {

inline constexpr const char* kManifestName = "SHA256SUMS";

struct ManifestLine {
  std::string sha256;
  std::string path;  // relative to the folder, '/' separated
};

// The SHA-256 of a file's bytes as lower-case hex; empty when it cannot be read.
std::string sha256OfFile(const std::string& path);
// Bytes as lower-case hex digits, as sha256sum prints a digest.
std::string hexDigits(const unsigned char* bytes, std::size_t length);

// Rewrites folder/SHA256SUMS from the old manifest and this run's files: a file of this run
// gets the line given (an empty hash is taken from the old line or computed), a file listed
// before keeps its line while it is still present, a file that is gone loses it. Lines are
// sorted by path; the manifest is written under a temporary name and renamed. A folder with
// nothing to list and no manifest gets none. faults: a test's (not owned).
Result<void> updateManifest(const std::string& folder, const std::vector<ManifestLine>& thisRun,
                            FileFaults* faults = nullptr);

// The lines of folder/SHA256SUMS (none when there is no manifest).
std::vector<ManifestLine> readManifest(const std::string& folder);

// The path of a file below folder as a manifest writes it.
std::string manifestPath(const std::string& folder, const std::string& file);

}  // namespace norvale
