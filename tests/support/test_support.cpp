#include "support/test_support.h"

#include "task/partial_file.h"

#include "format/local_time.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>

#include <unistd.h>

namespace norvale::test {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  m_path = std::filesystem::temp_directory_path() /
           ("norvale-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(m_path);
  std::filesystem::create_directories(m_path);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(m_path, ec);
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

Result<std::size_t> ScriptedSource::readAt(std::uint64_t offset, std::span<std::uint8_t> dst) {
  if (log) log->emplace_back(offset, dst.size());
  if (offset >= m_bytes.size()) return std::size_t{0};
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(dst.size(), m_bytes.size() - offset));
  for (std::uint64_t s = offset / 512; s <= (offset + n - 1) / 512; ++s)
    if (m_bad.count(s)) return fail(ErrorCode::ReadFailed, "bad sector", s * 512);
  std::memcpy(dst.data(), m_bytes.data() + offset, n);
  return n;
}

ZoneGuard::ZoneGuard(const char* zone) {
  if (const char* old = std::getenv("TZ")) {
    m_old = old;
    m_hadOld = true;
  }
  ::setenv("TZ", zone, 1);
  ::tzset();
  resetLocalTimeMemo();
}

ZoneGuard::~ZoneGuard() {
  if (m_hadOld)
    ::setenv("TZ", m_old.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
  resetLocalTimeMemo();
}

std::vector<std::uint8_t> patternBytes(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
  return bytes;
}

std::vector<std::string> partialFilesBelow(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code ec;
  for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (isPartialName(it->path().filename().string())) found.push_back(it->path().string());
  return found;
}

}  // namespace norvale::test
