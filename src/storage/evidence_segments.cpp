#include <cctype>

#include "storage/evidence_source.h"

namespace norvale {

std::vector<std::string> ewfSegmentPaths(const std::string& firstSegment, std::uint32_t count) {
  // The first segment ends in "E01" (or "e01"); without that there is no name to count from.
  if (firstSegment.size() < 3 || count <= 1) return {firstSegment};
  const std::string stem = firstSegment.substr(0, firstSegment.size() - 3);
  const bool lower = std::islower(static_cast<unsigned char>(firstSegment[firstSegment.size() - 3])) != 0;
  const char base = lower ? 'a' : 'A';
  const char first = lower ? 'e' : 'E';
  std::vector<std::string> paths;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string suffix;
    if (i < 99) {
      suffix = {first, static_cast<char>('0' + (i + 1) / 10), static_cast<char>('0' + (i + 1) % 10)};
    } else {
      const std::uint32_t n = i - 99;  // EAA is the 100th segment
      const std::uint32_t letter = static_cast<std::uint32_t>(first - base) + n / (26 * 26);
      if (letter >= 26) break;
      suffix = {static_cast<char>(base + letter), static_cast<char>(base + n / 26 % 26), static_cast<char>(base + n % 26)};
    }
    paths.push_back(stem + suffix);
  }
  return paths;
}

std::vector<std::string> evidenceSegmentPaths(const std::string& firstSegment, const EvidenceInfo& evidence) {
  if (evidence.kind == EvidenceKind::Split)
    if (auto naming = splitNaming(firstSegment)) {
      std::vector<std::string> paths;
      for (std::uint32_t i = 0; i < evidence.segments; ++i)
        if (auto path = naming->segmentPath(i)) paths.push_back(*path);
      return paths;
    }
  if (evidence.kind == EvidenceKind::Ewf) return ewfSegmentPaths(firstSegment, evidence.segments);
  return {firstSegment};
}

}  // namespace norvale
