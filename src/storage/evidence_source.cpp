// Picks the kind of an image given by path: EWF by its signature, split by its name.
#include "storage/evidence_source.h"

#include <algorithm>
#include <array>

namespace norvale {

const char* evidenceKindName(EvidenceKind kind) {
  switch (kind) {
    case EvidenceKind::Raw: return "raw";
    case EvidenceKind::Split: return "split";
    case EvidenceKind::Ewf: return "ewf";
  }
  return "raw";
}

bool hasEwfSignature(std::span<const std::uint8_t> firstBytes) {
  return firstBytes.size() >= kEwfSignature.size() &&
         std::equal(kEwfSignature.begin(), kEwfSignature.end(), firstBytes.begin());
}

Result<std::unique_ptr<ByteSource>> openEvidenceSource(const std::string& path) { return openEvidenceSource(path, false); }

Result<std::unique_ptr<ByteSource>> openEvidenceSource(const std::string& path, bool directReads) {
  // The plain open comes first: it gives the clear error for a missing file, a folder or a
  // refused permission, and the first bytes tell an EWF segment from anything else.
  auto plain = openFileSource(path, directReads);
  if (!plain) return plain;
  std::array<std::uint8_t, kEwfSignature.size()> head{};
  auto got = (*plain)->readAt(0, head);
  if (got && *got == head.size() && hasEwfSignature(head)) {
    plain->reset();
    return openEwfSource(path);
  }
  if (auto naming = splitNaming(path); naming && hasOtherSegments(*naming)) {
    plain->reset();
    return openSplitSource(path);
  }
  return plain;
}

Result<EvidenceInfo> probeEvidence(const std::string& path) {
  auto source = openEvidenceSource(path);
  if (!source) return std::unexpected(source.error());
  return (*source)->evidenceInfo();
}

}  // namespace norvale
