#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "report/desktop_open.h"

namespace norvale {
namespace {

std::string findProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) return ::access(program.c_str(), X_OK) == 0 ? program : std::string();
  const char* path = std::getenv("PATH");
  std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t from = 0;
  while (from <= dirs.size()) {
    const std::size_t colon = std::min(dirs.find(':', from), dirs.size());
    const std::string dir = dirs.substr(from, colon - from);
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    from = colon + 1;
  }
  return {};
}

}  // namespace

Result<void> launchDetached(const std::string& program, const std::vector<std::string>& arguments) {
  // Everything the child needs is prepared here: after fork only async-signal-safe calls follow.
  const std::string resolved = findProgram(program);
  if (resolved.empty()) return fail(ErrorCode::NotFound, program + ": no such program");
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return fail(ErrorCode::InvalidArgument, program + ": " + std::strerror(errno));
  const pid_t child = ::fork();
  if (child < 0) {
    const int err = errno;
    ::close(report[0]);
    ::close(report[1]);
    return fail(ErrorCode::InvalidArgument, program + ": " + std::strerror(err));
  }
  if (child == 0) {
    // The grandchild is adopted by init, so nobody has to wait for the program to end.
    const pid_t grandchild = ::fork();
    if (grandchild != 0) {
      if (grandchild < 0) {
        const int err = errno;
        (void)!::write(report[1], &err, sizeof err);
      }
      ::_exit(0);
    }
    ::setsid();
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull >= 0) {
      ::dup2(devNull, STDIN_FILENO);
      ::dup2(devNull, STDOUT_FILENO);  // the caller's standard output stays its own
    }
    ::execv(resolved.c_str(), argv.data());
    const int err = errno;
    (void)!::write(report[1], &err, sizeof err);
    ::_exit(127);
  }
  ::close(report[1]);
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  // The pipe closes without a word when exec succeeded.
  int err = 0;
  ssize_t got = 0;
  do {
    got = ::read(report[0], &err, sizeof err);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  if (got == static_cast<ssize_t>(sizeof err)) return fail(ErrorCode::InvalidArgument, program + ": " + std::strerror(err));
  return {};
}

Result<void> openWithDesktop(const std::string& path) {
#ifdef __APPLE__
  return launchDetached("open", {path});
#else
  return launchDetached("xdg-open", {path});
#endif
}

}  // namespace norvale
