#pragma once
// Hands a file to the desktop's default application, the way a double click would.
#include <string>
#include <vector>

#include "base/error.h"

namespace norvale {

// Opens path with the desktop's default handler (xdg-open on Linux, the shell's "open" verb on
// Windows) without waiting for it. An error when the handler cannot be started.
Result<void> openWithDesktop(const std::string& path);

#ifndef _WIN32
// Starts program (found through PATH unless it holds a slash) with the arguments, detached:
// nothing waits for it and it leaves no zombie behind. An error when it cannot be started.
Result<void> launchDetached(const std::string& program, const std::vector<std::string>& arguments);
#endif

}  // namespace norvale
