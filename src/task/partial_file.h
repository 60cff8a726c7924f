#pragma once
// Output files written whole or not at all: an exported file, an MP4, SHA256SUMS is written
// under a partial name beside its final one, made durable, and only then renamed into place,
// so that a crash or a kill mid-file never leaves a file of the final name half-written.
#include <filesystem>
#include <string>

#include "storage/error.h"

namespace norvale {

// ".<name>.partial" in the target's folder: hidden, and of no extension a player opens.
std::filesystem::path partialPathFor(const std::filesystem::path& target);
// Is this file name one partialPathFor makes?
bool isPartialName(const std::string& fileName);
// Flushes the partial file to the disk, renames it to target and makes the rename durable.
Result<void> commitPartial(const std::filesystem::path& partial, const std::filesystem::path& target);
// Removes the partial files a run that was killed left below folder; returns how many.
std::size_t removeStalePartials(const std::filesystem::path& folder);

}  // namespace norvale
