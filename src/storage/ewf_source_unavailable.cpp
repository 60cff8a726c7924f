// Builds without libewf (a Windows build without the library): EWF sets are refused clearly.
#include "storage/evidence_source.h"

namespace norvale {

Result<std::unique_ptr<ByteSource>> openEwfSource(const std::string& firstSegment) {
  return fail(ErrorCode::InvalidArgument, firstSegment + ": EWF images need libewf, which this build lacks");
}

}  // namespace norvale
