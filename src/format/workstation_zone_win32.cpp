#include "format/time_zone.h"

namespace norvale {

// Windows names its zones in its own way; tasks made there read the workstation's zone as the
// C library does unless the user names an IANA zone.
std::string workstationZoneName() { return {}; }

}  // namespace norvale
