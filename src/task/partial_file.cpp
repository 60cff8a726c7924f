#include "task/partial_file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
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

PartialFile::~PartialFile() { discard(); }

void PartialFile::discard() {
  if (m_file) std::fclose(m_file);
  m_file = nullptr;
  std::error_code ec;
  if (!m_path.empty()) fs::remove(m_path, ec);
  m_path.clear();
}

Result<void> PartialFile::failed(const char* what, int err) {
  Error error{ErrorCode::WriteFailed, std::string("cannot ") + what + " " + m_path.string() + ": " + std::strerror(err), 0};
  discard();
  return std::unexpected(std::move(error));
}

Result<void> PartialFile::create(const fs::path& target) {
  discard();
  m_path = partialPathFor(target);
  m_file = std::fopen(m_path.string().c_str(), "wb");
  if (!m_file) return failed("create", errno);
  // The callers write large pieces: each goes to the file at once, and its failure is its own.
  std::setvbuf(m_file, nullptr, _IONBF, 0);
  return {};
}

Result<void> PartialFile::write(std::span<const std::uint8_t> bytes) {
  if (!m_file) return fail(ErrorCode::WriteFailed, "no partial file is open");
  std::uint64_t allowed = bytes.size();
  const int fault = m_faults ? m_faults->before(FileCall::Write, bytes.size(), allowed) : 0;
  const std::size_t take = fault ? static_cast<std::size_t>(std::min<std::uint64_t>(allowed, bytes.size())) : bytes.size();
  errno = 0;
  if (std::fwrite(bytes.data(), 1, take, m_file) != take) return failed("write", errno ? errno : EIO);
  if (fault) {
    std::fflush(m_file);
    return failed("write", fault);
  }
  return {};
}

Result<void> PartialFile::commit(const fs::path& finalName) {
  if (!m_file) return fail(ErrorCode::WriteFailed, "no partial file is open");
  errno = 0;
  // Buffered bytes meet a full disk here at the latest.
  if (std::fflush(m_file) != 0) return failed("write", errno ? errno : EIO);
  std::uint64_t none = 0;
  if (const int fault = m_faults ? m_faults->before(FileCall::Sync, 0, none) : 0) return failed("flush", fault);
  const int closed = std::fclose(m_file);
  m_file = nullptr;
  if (closed != 0) return failed("write", errno ? errno : EIO);
  if (auto committed = commitPartial(m_path, finalName); !committed) {
    discard();
    return committed;
  }
  m_path.clear();
  return {};
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
