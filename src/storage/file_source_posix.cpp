// POSIX backend: pread on a read-only descriptor; block devices report their size by ioctl.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

#include <cerrno>
#include <cstring>

#include "storage/byte_source.h"

namespace norvale {
namespace {

std::string describe(int err) { return std::strerror(err); }

class PosixFileSource final : public ByteSource {
 public:
  explicit PosixFileSource(int fd) : m_fd(fd) {}
  ~PosixFileSource() override { ::close(m_fd); }

  Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> dst) override {
    // pread may return less than asked before the end (signals, pipes); keep reading until the
    // request is met or the end is reached so that only the end of the source gives a short read.
    std::size_t done = 0;
    while (done < dst.size()) {
      const ssize_t got = ::pread(m_fd, dst.data() + done, dst.size() - done,
                                  static_cast<off_t>(offset + done));
      if (got < 0) {
        if (errno == EINTR) continue;
        if (done > 0) break;  // the bytes before the failing sector are still delivered
        return fail(ErrorCode::ReadFailed, describe(errno), offset);
      }
      if (got == 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  }

  Result<std::uint64_t> size() override {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) return fail(ErrorCode::ReadFailed, describe(errno));
#ifdef __linux__
    if (S_ISBLK(st.st_mode)) {
      std::uint64_t bytes = 0;
      if (::ioctl(m_fd, BLKGETSIZE64, &bytes) != 0) return fail(ErrorCode::ReadFailed, describe(errno));
      return bytes;
    }
#endif
    return static_cast<std::uint64_t>(st.st_size);
  }

 private:
  int m_fd;
};

}  // namespace

Result<std::unique_ptr<ByteSource>> openFileSource(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    const ErrorCode code = err == ENOENT ? ErrorCode::NotFound
                           : (err == EACCES || err == EPERM) ? ErrorCode::AccessDenied
                                                             : ErrorCode::ReadFailed;
    return fail(code, path + ": " + describe(err));
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return fail(ErrorCode::InvalidArgument, path + ": is a folder, not an image or device");
  }
#ifdef POSIX_FADV_SEQUENTIAL
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return std::unique_ptr<ByteSource>(new PosixFileSource(fd));
}

}  // namespace norvale
