#include "task/partial_file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>

namespace norvale {
namespace fs = std::filesystem;

namespace {
constexpr const char* kPartialSuffix = ".partial";

#ifndef _WIN32
// fsync of a file or folder by path; a folder that cannot be synced (some file systems refuse)
// only costs the rename's durability, never the file's bytes.
Result<void> syncPath(const fs::path& path, bool folder) {
  const int fd = ::open(path.c_str(), (folder ? O_RDONLY | O_DIRECTORY : O_RDWR) | O_CLOEXEC);
  if (fd < 0) {
    if (folder) return {};
    return fail(ErrorCode::WriteFailed, "cannot open " + path.string() + ": " + std::strerror(errno));
  }
  const int synced = ::fsync(fd);
  const int err = errno;
  ::close(fd);
  if (synced != 0 && !folder) return fail(ErrorCode::WriteFailed, "cannot flush " + path.string() + ": " + std::strerror(err));
  return {};
}
#else
Result<void> syncPath(const fs::path&, bool) { return {}; }
#endif
}  // namespace

fs::path partialPathFor(const fs::path& target) {
  fs::path name = ".";
  name += target.filename();
  name += kPartialSuffix;
  return target.parent_path() / name;
}

bool isPartialName(const std::string& fileName) {
  const std::size_t suffix = std::strlen(kPartialSuffix);
  return fileName.size() > suffix + 1 && fileName.front() == '.' &&
         fileName.compare(fileName.size() - suffix, suffix, kPartialSuffix) == 0;
}

Result<void> commitPartial(const fs::path& partial, const fs::path& target) {
  if (auto synced = syncPath(partial, false); !synced) return synced;
  std::error_code ec;
  fs::rename(partial, target, ec);
  if (ec) return fail(ErrorCode::WriteFailed, "cannot rename " + partial.string() + ": " + ec.message());
  return syncPath(target.parent_path().empty() ? fs::path(".") : target.parent_path(), true);
}

std::size_t removeStalePartials(const fs::path& folder) {
  std::size_t removed = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
       !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec) || !isPartialName(it->path().filename().string())) continue;
    std::error_code gone;
    if (fs::remove(it->path(), gone)) ++removed;
  }
  return removed;
}

}  // namespace norvale
