// Win32 backend: CreateFileA with read access only, ReadFile with an OVERLAPPED offset.
#include <windows.h>

#include "storage/byte_source.h"

namespace norvale {
namespace {

class Win32FileSource final : public ByteSource {
 public:
  explicit Win32FileSource(HANDLE h) : m_handle(h) {}
  ~Win32FileSource() override { CloseHandle(m_handle); }

  Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> dst) override {
    std::size_t done = 0;
    while (done < dst.size()) {
      OVERLAPPED ov{};
      const std::uint64_t at = offset + done;
      ov.Offset = static_cast<DWORD>(at);
      ov.OffsetHigh = static_cast<DWORD>(at >> 32);
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(dst.size() - done, 0x40000000));
      DWORD got = 0;
      if (!ReadFile(m_handle, dst.data() + done, want, &got, &ov)) {
        if (GetLastError() == ERROR_HANDLE_EOF) break;
        if (done > 0) break;
        return fail(ErrorCode::ReadFailed, "ReadFile failed", offset);
      }
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  Result<std::uint64_t> size() override {
    LARGE_INTEGER li{};
    if (!GetFileSizeEx(m_handle, &li)) return fail(ErrorCode::ReadFailed, "GetFileSizeEx failed");
    return static_cast<std::uint64_t>(li.QuadPart);
  }

 private:
  HANDLE m_handle;
};

}  // namespace

Result<std::unique_ptr<ByteSource>> openFileSource(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    const ErrorCode code = (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) ? ErrorCode::NotFound
                           : err == ERROR_ACCESS_DENIED ? ErrorCode::AccessDenied
                                                        : ErrorCode::ReadFailed;
    return fail(code, path + ": cannot be opened");
  }
  return std::unique_ptr<ByteSource>(new Win32FileSource(h));
}

// Unbuffered reads need sector-aligned buffers here; the source reads as usual.
Result<std::unique_ptr<ByteSource>> openFileSource(const std::string& path, bool directReads) {
  (void)directReads;
  return openFileSource(path);
}

}  // namespace norvale
