#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "task/task_file.h"

namespace norvale {
namespace {
Error osError(ErrorCode code, const std::string& path, int err) {
  return Error{code, path + ": " + std::strerror(err), 0};
}
}  // namespace

Result<void> TaskFile::open(const std::string& path, TaskFileMode mode) {
  close();
  // Never O_TRUNC here: the file is emptied only after the lock proves nobody else uses it.
  const int flags = O_RDWR | O_CLOEXEC | (mode == TaskFileMode::Create ? O_CREAT : 0);
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) {
    const int err = errno;
    return std::unexpected(osError(err == ENOENT ? ErrorCode::NotFound
                                   : err == EACCES || err == EPERM || err == EROFS ? ErrorCode::AccessDenied
                                                                                  : ErrorCode::WriteFailed,
                                   path, err));
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) return fail(ErrorCode::InUse, path + ": the task is open in another process");
    return std::unexpected(osError(ErrorCode::AccessDenied, path, err));
  }
  // A new file is empty already. Emptying it anyway would make some file systems (ext4) write
  // it out at every close, taking the emptied file for one being replaced.
  struct stat st {};
  const bool empty = ::fstat(fd, &st) == 0 && st.st_size == 0;
  if (mode == TaskFileMode::Create && !empty && ::ftruncate(fd, 0) != 0) {
    const int err = errno;
    ::close(fd);
    return std::unexpected(osError(ErrorCode::WriteFailed, path, err));
  }
  m_fd = fd;
  m_path = path;
  return {};
}

void TaskFile::close() {
  if (m_fd >= 0) ::close(m_fd);  // closing releases the lock
  m_fd = -1;
}

bool TaskFile::isOpen() const { return m_fd >= 0; }

Result<std::uint64_t> TaskFile::size() const {
  struct stat st {};
  if (m_fd < 0 || ::fstat(m_fd, &st) != 0) return fail(ErrorCode::ReadFailed, m_path + ": cannot read its size");
  return static_cast<std::uint64_t>(st.st_size);
}

Result<std::size_t> TaskFile::readAt(std::uint64_t offset, std::span<std::uint8_t> dst) const {
  if (const int err = fault(FileCall::Read)) return std::unexpected(osError(ErrorCode::ReadFailed, m_path, err));
  std::size_t done = 0;
  while (done < dst.size()) {
    const ssize_t got = ::pread(m_fd, dst.data() + done, dst.size() - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(osError(ErrorCode::ReadFailed, m_path, errno));
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

Result<void> TaskFile::writeAt(std::uint64_t offset, std::span<const std::uint8_t> src) {
  std::size_t done = 0;
  // A full disk refuses only the bytes that would grow the file.
  std::size_t allowed = src.size();
  int failure = 0;
  if (m_faults) {
    struct stat st {};
    const std::uint64_t size = ::fstat(m_fd, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    const std::size_t inside = offset >= size ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(size - offset, src.size()));
    const std::uint64_t growth = src.size() - inside;
    std::uint64_t taken = growth;
    failure = m_faults->before(FileCall::Write, growth, taken);
    if (failure) allowed = inside + static_cast<std::size_t>(std::min(taken, growth));
  }
  while (done < src.size() || failure) {
    if (done == allowed) return std::unexpected(osError(ErrorCode::WriteFailed, m_path, failure));
    const ssize_t put = ::pwrite(m_fd, src.data() + done, allowed - done, static_cast<off_t>(offset + done));
    if (put < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(osError(ErrorCode::WriteFailed, m_path, errno));
    }
    done += static_cast<std::size_t>(put);
  }
  return {};
}

Result<void> TaskFile::sync() {
  if (const int err = fault(FileCall::Sync)) return std::unexpected(osError(ErrorCode::WriteFailed, m_path, err));
  while (::fsync(m_fd) != 0) {
    if (errno == EINTR) continue;
    return std::unexpected(osError(ErrorCode::WriteFailed, m_path, errno));
  }
  return {};
}

Result<void> TaskFile::truncate(std::uint64_t length) {
  if (const int err = fault(FileCall::Truncate)) return std::unexpected(osError(ErrorCode::WriteFailed, m_path, err));
  struct stat st {};
  if (::fstat(m_fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) == length) return {};  // see open
  if (::ftruncate(m_fd, static_cast<off_t>(length)) != 0)
    return std::unexpected(osError(ErrorCode::WriteFailed, m_path, errno));
  return {};
}

Result<std::size_t> readFileHead(const std::string& path, std::span<std::uint8_t> dst) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(osError(errno == ENOENT ? ErrorCode::NotFound : ErrorCode::ReadFailed, path, errno));
  std::size_t done = 0;
  while (done < dst.size()) {
    const ssize_t got = ::pread(fd, dst.data() + done, dst.size() - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return done;
}

}  // namespace norvale
