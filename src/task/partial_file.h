#pragma once
// Output files written whole or not at all: an exported file, an MP4, SHA256SUMS is written
// under a partial name beside its final one, made durable, and only then renamed into place,
// so that a crash or a kill mid-file never leaves a file of the final name half-written.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>

#include "base/error.h"
#include "task/task_probe.h"

namespace norvale {

// ".<name>.partial" in the target's folder: hidden, and of no extension a player opens.
std::filesystem::path partialPathFor(const std::filesystem::path& target);
// Is this file name one partialPathFor makes?
bool isPartialName(const std::string& fileName);
// Flushes the partial file to the disk, renames it to target and makes the rename durable.
Result<void> commitPartial(const std::filesystem::path& partial, const std::filesystem::path& target);
// An output file written under its partial name: every write is checked (a full disk is named at
// the write that met it), and only commit gives it a final name. Destroyed uncommitted, the
// partial file is removed.
class PartialFile {
 public:
  // faults: a test's (not owned; null in use).
  explicit PartialFile(FileFaults* faults = nullptr) : m_faults(faults) {}
  ~PartialFile();
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  // Creates (or empties) the partial file of target.
  Result<void> create(const std::filesystem::path& target);
  Result<void> write(std::span<const std::uint8_t> bytes);
  // Flushes and closes the file, then commitPartial to finalName.
  Result<void> commit(const std::filesystem::path& finalName);
  // Closes and removes the partial file.
  void discard();

 private:
  Result<void> failed(const char* what, int err);

  FileFaults* m_faults;
  std::FILE* m_file = nullptr;
  std::filesystem::path m_path;
};

// Removes the partial files a run that was killed left below folder; returns how many.
std::size_t removeStalePartials(const std::filesystem::path& folder);

}  // namespace norvale
