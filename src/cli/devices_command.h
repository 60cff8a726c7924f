#pragma once
// `norvale-cli devices [--image PATH]... [--json]`: the device list as the device view shows it
//: every disk of the machine and every added image with its partitions.
#include <iosfwd>
#include <string>
#include <vector>

#include "storage/device_enum.h"

namespace norvale {

// argv[0] is "devices", then its options. Returns the process exit code: 0 when everything was
// listed, 1 when an --image could not be opened (the rest is still listed), 2 for a usage error.
int runDevicesCommand(int argc, char** argv);

namespace cli {

// What the command reads and writes, for tests: output streams, where the Linux enumeration
// looks, and whether the machine's disks are listed at all.
struct DevicesCommandEnv {
  std::ostream* out = nullptr;  // standard output when null
  std::ostream* err = nullptr;  // standard error when null
  DiskEnumerationOptions enumeration;
  bool listDisks = true;
};

int runDevicesCommand(int argc, char** argv, const DevicesCommandEnv& env);

// The one note about disks left out because they could not be opened; empty when there are
// none. Names each disk with its reason and, when permission was refused, how to get it (or,
// for a user who is root already, that the system refuses even root).
std::string unopenedDisksNote(const std::vector<UnopenedDisk>& unopened, bool runningAsRoot);

}  // namespace cli
}  // namespace norvale

using norvale::runDevicesCommand;
