#pragma once
// Helpers shared by the suites: temporary folders, and byte sources that record or refuse reads.
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "storage/byte_source.h"

namespace norvale::test {

// A fresh folder under the system temp folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return m_path; }
  std::string str() const { return m_path.string(); }
  std::string file(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readFile(const std::string& path);
// The partial files (the hidden ".<name>.partial" of an output not yet whole) below a folder.
std::vector<std::string> partialFilesBelow(const std::string& folder);

// An in-memory source that logs each platform read and refuses reads touching bad sectors.
class ScriptedSource final : public ByteSource {
 public:
  explicit ScriptedSource(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}
  Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> dst) override;
  Result<std::uint64_t> size() override { return m_bytes.size(); }

  void markBad(std::uint64_t sector) { m_bad.insert(sector); }
  // Every platform read as (offset, length), in order.
  std::vector<std::pair<std::uint64_t, std::size_t>>* log = nullptr;

 private:
  std::vector<std::uint8_t> m_bytes;
  std::set<std::uint64_t> m_bad;
};

// Sets the local time zone for the life of the object, then restores the previous one.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone);
  ~ZoneGuard();
  ZoneGuard(const ZoneGuard&) = delete;
  ZoneGuard& operator=(const ZoneGuard&) = delete;

 private:
  std::string m_old;
  bool m_hadOld = false;
};

// Bytes 0, 1, 2, ... wrapping at 251 (a prime, so sector contents differ).
std::vector<std::uint8_t> patternBytes(std::size_t n);

}  // namespace norvale::test
