// POSIX backend: pread on a read-only descriptor; block devices report their size by ioctl.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "storage/byte_source.h"

namespace norvale {
namespace {

std::string describe(int err) { return std::strerror(err); }

// Direct reads move whole logical blocks between the device and memory aligned alike; 4 KiB
// serves every sector size in use.
constexpr std::size_t kDirectAlign = 4096;
constexpr std::size_t kBounceBytes = 1 << 20;

struct FreeAligned {
  void operator()(std::uint8_t* p) const { std::free(p); }
};

class PosixFileSource final : public ByteSource {
 public:
  PosixFileSource(int fd, bool direct, std::string path) : m_fd(fd), m_direct(direct), m_path(std::move(path)) {
    struct stat st {};
    if (::fstat(m_fd, &st) == 0) m_opened = st;
  }
  ~PosixFileSource() override { ::close(m_fd); }

  Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> dst) override {
    if (m_direct && !aligned(offset, dst)) return readThroughBounce(offset, dst);
    return readPlain(offset, dst);
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

  // pread keeps no file position; the bounce buffer of direct reads is the thread's own.
  bool concurrentReads() const override { return true; }
  bool readsPastCache() const override { return m_direct; }

  // The path still names the object that was opened: a file deleted or replaced, a disk
  // unplugged (its node gone, or its block device no longer in sysfs) is not.
  bool stillThere() override {
    struct stat now {};
    if (::stat(m_path.c_str(), &now) != 0) return false;
    if (S_ISBLK(m_opened.st_mode)) {
      if (!S_ISBLK(now.st_mode) || now.st_rdev != m_opened.st_rdev) return false;
#ifdef __linux__
      const std::string sysfs = "/sys/dev/block/" + std::to_string(major(m_opened.st_rdev)) + ":" +
                                std::to_string(minor(m_opened.st_rdev));
      struct stat entry {};
      if (::stat(sysfs.c_str(), &entry) != 0 && errno == ENOENT) return false;
#endif
      return true;
    }
    return now.st_dev == m_opened.st_dev && now.st_ino == m_opened.st_ino;
  }

 private:
  static bool aligned(std::uint64_t offset, std::span<std::uint8_t> dst) {
    return offset % kDirectAlign == 0 && dst.size() % kDirectAlign == 0 &&
           reinterpret_cast<std::uintptr_t>(dst.data()) % kDirectAlign == 0;
  }

  Result<std::size_t> readPlain(std::uint64_t offset, std::span<std::uint8_t> dst) {
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
      // A direct read that ends short of a block has met the end of the source.
      if (m_direct && static_cast<std::size_t>(got) % kDirectAlign != 0) break;
    }
    return done;
  }

  // An unaligned request of a direct source: the aligned blocks around it, a piece at a time.
  Result<std::size_t> readThroughBounce(std::uint64_t offset, std::span<std::uint8_t> dst) {
    thread_local std::unique_ptr<std::uint8_t, FreeAligned> bounce;
    if (!bounce) {
      void* p = nullptr;
      if (posix_memalign(&p, kDirectAlign, kBounceBytes) != 0) return fail(ErrorCode::ReadFailed, "out of memory");
      bounce.reset(static_cast<std::uint8_t*>(p));
    }
    std::size_t done = 0;
    while (done < dst.size()) {
      const std::uint64_t at = offset + done;
      const std::uint64_t base = at / kDirectAlign * kDirectAlign;
      const std::size_t skip = static_cast<std::size_t>(at - base);
      const std::size_t want = std::min(dst.size() - done, kBounceBytes - skip);
      const std::size_t span = (skip + want + kDirectAlign - 1) / kDirectAlign * kDirectAlign;
      auto got = readPlain(base, std::span(bounce.get(), span));
      if (!got) {
        if (done > 0) break;
        return fail(got.error().code, got.error().message, offset);
      }
      if (*got <= skip) break;
      const std::size_t n = std::min(want, *got - skip);
      std::memcpy(dst.data() + done, bounce.get() + skip, n);
      done += n;
      if (n < want) break;
    }
    return done;
  }

  int m_fd;
  bool m_direct;
  std::string m_path;
  struct stat m_opened {};
};

Result<int> openReadOnly(const std::string& path, int extra) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | extra);
  if (fd < 0) {
    const int err = errno;
    const ErrorCode code = err == ENOENT ? ErrorCode::NotFound
                           : (err == EACCES || err == EPERM) ? ErrorCode::AccessDenied
                                                             : ErrorCode::ReadFailed;
    return fail(code, path + ": " + describe(err));
  }
  return fd;
}

}  // namespace

Result<std::unique_ptr<ByteSource>> openFileSource(const std::string& path) { return openFileSource(path, false); }

Result<std::unique_ptr<ByteSource>> openFileSource(const std::string& path, bool directReads) {
  bool direct = false;
  Result<int> fd = std::unexpected(Error{ErrorCode::ReadFailed, {}, 0});
#ifdef O_DIRECT
  if (directReads) {
    fd = openReadOnly(path, O_DIRECT);
    direct = fd.has_value();  // a file system without direct reads refuses the flag: read as usual
  }
#else
  (void)directReads;
#endif
  if (!fd) fd = openReadOnly(path, 0);
  if (!fd) return std::unexpected(fd.error());
  struct stat st {};
  if (::fstat(*fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(*fd);
    return fail(ErrorCode::InvalidArgument, path + ": is a folder, not an image or device");
  }
#ifdef POSIX_FADV_SEQUENTIAL
  if (!direct) ::posix_fadvise(*fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return std::unique_ptr<ByteSource>(new PosixFileSource(*fd, direct, path));
}

}  // namespace norvale
