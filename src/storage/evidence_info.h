#pragma once
// What an opened source is: a plain file or disk, a numbered set of raw segments, or an EWF
// (E01) set with the hashes and case notes its acquisition stored.
#include <cstdint>
#include <string>

namespace norvale {

enum class EvidenceKind : std::uint8_t {
  Raw,    // one file or block device, read as it is
  Split,  // name.001, name.002, ... read as one
  Ewf,    // an Expert Witness set: X.E01, X.E02, ...
};

// "raw", "split" or "ewf".
const char* evidenceKindName(EvidenceKind kind);

struct EvidenceInfo {
  EvidenceKind kind = EvidenceKind::Raw;
  std::uint32_t segments = 1;
  std::uint64_t mediaSize = 0;  // bytes the source presents
  // Stored hashes of the acquired media, lowercase hex; empty when the set stores none.
  std::string md5;
  std::string sha1;
  // The acquisition's header values as stored (EWF only); empty when absent.
  std::string caseNumber;
  std::string evidenceNumber;
  std::string examiner;
  std::string description;
  std::string notes;
  std::string acquisitionDate;
  // An EWF set whose segments end early or lack one: what they miss reads as errors.
  bool incomplete = false;
};

}  // namespace norvale
