#pragma once
// Evidence sources beyond a plain file: split raw sets and EWF (E01) sets, each read as one
// read-only source of the acquired media's size. openEvidenceSource (byte_source.h) picks the kind.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "storage/byte_source.h"

namespace norvale {

// The first bytes of every EWF segment file.
inline constexpr std::array<std::uint8_t, 8> kEwfSignature{'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};

// True when the bytes start with the EWF signature.
bool hasEwfSignature(std::span<const std::uint8_t> firstBytes);

// The numbering of a split raw set, taken from the name of its first segment: a dot followed by
// digits that count from 0 or 1 (name.000, name.001, name.01), or by letters that count from
// "aa" (name.aa, name.aaa). Later segments keep the width: .001 .002 ... .999, .aa .ab ... .zz.
struct SplitNaming {
  std::string stem;         // the path up to and including the last dot
  bool letters = false;
  std::size_t width = 0;    // characters after the dot
  std::uint64_t first = 0;  // value of the first segment's suffix (0 or 1 for digits, 0 for letters)

  // The path of the segment `index` places after the first; nullopt past the last the width holds.
  std::optional<std::string> segmentPath(std::uint64_t index) const;
  // The suffix value of a file name in the same folder (stem's file name + suffix), if it is one.
  std::optional<std::uint64_t> valueOf(const std::string& fileName) const;
};

// The numbering when path names a first segment; nullopt for any other name.
std::optional<SplitNaming> splitNaming(const std::string& path);

// True when the folder holds another segment of the numbering besides the first (a later one,
// or one numbered before it): the name then stands for a split set, not a plain file.
bool hasOtherSegments(const SplitNaming& naming);

// Opens the run of consecutive segments starting at path as one source. Refuses a set whose
// middle segment is shorter or longer than the first, one with a later segment after a missing
// one, and a name whose set starts before it (name.001 beside name.000).
Result<std::unique_ptr<ByteSource>> openSplitSource(const std::string& firstSegment);

// Opens an EWF set by its first segment (libewf finds the others). A chunk whose checksum or
// decompression fails, data the set lacks, and sectors the acquisition could not read all come
// back from readAt as errors.
Result<std::unique_ptr<ByteSource>> openEwfSource(const std::string& firstSegment);

// The paths of an EWF set's segments, count of them, named as the acquisition tools name them
// after the first: X.E01 ... X.E99, then X.EAA ... X.EZZ, X.FAA ... (the first's letter case).
std::vector<std::string> ewfSegmentPaths(const std::string& firstSegment, std::uint32_t count);

// The paths of every segment of the evidence its first segment names: the one path of a raw
// source, the numbered segments of a split set, the segments of an EWF set.
std::vector<std::string> evidenceSegmentPaths(const std::string& firstSegment, const EvidenceInfo& evidence);

// Opens the evidence at path and says what it is.
Result<EvidenceInfo> probeEvidence(const std::string& path);

}  // namespace norvale
