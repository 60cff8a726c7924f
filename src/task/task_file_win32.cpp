// Win32 task files: opened without sharing, which is the exclusive hold the task needs.
#include <windows.h>

#include "task/task_file.h"

namespace norvale {

Result<void> TaskFile::open(const std::string& path, TaskFileMode mode) {
  close();
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         mode == TaskFileMode::Create ? OPEN_ALWAYS : OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    if (err == ERROR_SHARING_VIOLATION) return fail(ErrorCode::InUse, path + ": the task is open in another process");
    return fail(err == ERROR_FILE_NOT_FOUND ? ErrorCode::NotFound : ErrorCode::WriteFailed, path + ": cannot be opened");
  }
  if (mode == TaskFileMode::Create) {
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(h);
  }
  m_handle = h;
  m_path = path;
  return {};
}

void TaskFile::close() {
  if (m_handle) CloseHandle(static_cast<HANDLE>(m_handle));
  m_handle = nullptr;
}

bool TaskFile::isOpen() const { return m_handle != nullptr; }

Result<std::uint64_t> TaskFile::size() const {
  LARGE_INTEGER li{};
  if (!m_handle || !GetFileSizeEx(static_cast<HANDLE>(m_handle), &li)) return fail(ErrorCode::ReadFailed, m_path);
  return static_cast<std::uint64_t>(li.QuadPart);
}

Result<std::size_t> TaskFile::readAt(std::uint64_t offset, std::span<std::uint8_t> dst) const {
  std::size_t done = 0;
  while (done < dst.size()) {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset + done);
    ov.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(dst.size() - done, 0x40000000));
    if (!ReadFile(static_cast<HANDLE>(m_handle), dst.data() + done, want, &got, &ov)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return fail(ErrorCode::ReadFailed, m_path);
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

Result<void> TaskFile::writeAt(std::uint64_t offset, std::span<const std::uint8_t> src) {
  std::size_t done = 0;
  std::uint64_t taken = src.size();
  const int failure = m_faults ? m_faults->before(FileCall::Write, src.size(), taken) : 0;
  const std::size_t allowed = failure ? static_cast<std::size_t>(std::min<std::uint64_t>(taken, src.size())) : src.size();
  while (done < src.size() || failure) {
    if (done == allowed) return fail(ErrorCode::WriteFailed, m_path + ": the write failed (error " + std::to_string(failure) + ")");
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset + done);
    ov.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    DWORD put = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(allowed - done, 0x40000000));
    if (!WriteFile(static_cast<HANDLE>(m_handle), src.data() + done, want, &put, &ov) || put == 0)
      return fail(ErrorCode::WriteFailed, m_path);
    done += put;
  }
  return {};
}

Result<void> TaskFile::sync() {
  if (fault(FileCall::Sync)) return fail(ErrorCode::WriteFailed, m_path);
  if (!FlushFileBuffers(static_cast<HANDLE>(m_handle))) return fail(ErrorCode::WriteFailed, m_path);
  return {};
}

Result<void> TaskFile::truncate(std::uint64_t length) {
  LARGE_INTEGER li{};
  li.QuadPart = static_cast<LONGLONG>(length);
  if (!SetFilePointerEx(static_cast<HANDLE>(m_handle), li, nullptr, FILE_BEGIN) ||
      !SetEndOfFile(static_cast<HANDLE>(m_handle)))
    return fail(ErrorCode::WriteFailed, m_path);
  return {};
}

Result<std::size_t> readFileHead(const std::string& path, std::span<std::uint8_t> dst) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return fail(ErrorCode::NotFound, path);
  DWORD got = 0;
  const BOOL ok = ReadFile(h, dst.data(), static_cast<DWORD>(dst.size()), &got, nullptr);
  CloseHandle(h);
  if (!ok) return fail(ErrorCode::ReadFailed, path);
  return static_cast<std::size_t>(got);
}

}  // namespace norvale
