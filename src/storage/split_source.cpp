// Split raw images: name.001, name.002, ... (or .000 ..., or .aa, .ab ...) read as one source.
// Every segment but the last has the size of the first, so an offset finds its segment by one
// division. Segments are opened when read and only a few stay open: a large set may have more
// segments than the process may hold descriptors.
#include <algorithm>
#include <filesystem>
#include <list>
#include <mutex>
#include <vector>

#include "storage/evidence_source.h"

namespace norvale {
namespace fs = std::filesystem;

std::optional<std::string> SplitNaming::segmentPath(std::uint64_t index) const {
  std::uint64_t value = first + index;
  const std::uint64_t base = letters ? 26 : 10;
  std::string suffix(width, letters ? 'a' : '0');
  for (std::size_t i = width; i-- > 0;) {
    suffix[i] = static_cast<char>((letters ? 'a' : '0') + value % base);
    value /= base;
  }
  if (value != 0) return std::nullopt;  // the width cannot hold it
  return stem + suffix;
}

std::optional<std::uint64_t> SplitNaming::valueOf(const std::string& fileName) const {
  const std::string prefix = fs::path(stem).filename().string();
  if (fileName.size() != prefix.size() + width || fileName.compare(0, prefix.size(), prefix) != 0)
    return std::nullopt;
  std::uint64_t value = 0;
  for (std::size_t i = prefix.size(); i < fileName.size(); ++i) {
    const char c = fileName[i];
    if (letters ? (c < 'a' || c > 'z') : (c < '0' || c > '9')) return std::nullopt;
    value = value * (letters ? 26 : 10) + static_cast<std::uint64_t>(c - (letters ? 'a' : '0'));
  }
  return value;
}

std::optional<SplitNaming> splitNaming(const std::string& path) {
  const std::string file = fs::path(path).filename().string();
  const auto dot = file.rfind('.');
  if (dot == std::string::npos || dot == 0) return std::nullopt;
  const std::string suffix = file.substr(dot + 1);
  if (suffix.size() < 2) return std::nullopt;
  SplitNaming naming;
  naming.stem = path.substr(0, path.size() - suffix.size());
  naming.width = suffix.size();
  if (std::all_of(suffix.begin(), suffix.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    const bool zero = std::all_of(suffix.begin(), suffix.end(), [](char c) { return c == '0'; });
    const bool one = suffix.back() == '1' &&
                     std::all_of(suffix.begin(), suffix.end() - 1, [](char c) { return c == '0'; });
    if (!zero && !one) return std::nullopt;
    naming.first = one ? 1 : 0;
    return naming;
  }
  if (std::all_of(suffix.begin(), suffix.end(), [](char c) { return c == 'a'; })) {
    naming.letters = true;
    return naming;
  }
  return std::nullopt;
}

namespace {

fs::path folderOf(const std::string& path) {
  const fs::path folder = fs::path(path).parent_path();
  return folder.empty() ? fs::path(".") : folder;
}

}  // namespace

bool hasOtherSegments(const SplitNaming& naming) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folderOf(naming.stem), ec)) {
    const auto value = naming.valueOf(entry.path().filename().string());
    if (value && *value != naming.first) return true;
  }
  return false;
}

namespace {

constexpr std::size_t kOpenSegments = 8;

std::string fileName(const std::string& path) { return fs::path(path).filename().string(); }

class SplitSource final : public ByteSource {
 public:
  SplitSource(std::vector<std::string> paths, std::vector<std::uint64_t> sizes)
      : m_paths(std::move(paths)), m_sizes(std::move(sizes)) {
    for (auto s : m_sizes) m_total += s;
  }

  Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> dst) override {
    if (offset >= m_total) return std::size_t{0};
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(dst.size(), m_total - offset));
    const std::uint64_t stride = m_sizes.front();
    std::size_t done = 0;
    while (done < wanted) {
      const std::uint64_t at = offset + done;
      const std::size_t index = static_cast<std::size_t>(std::min<std::uint64_t>(at / stride, m_paths.size() - 1));
      const std::uint64_t inSegment = at - index * stride;
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(wanted - done, m_sizes[index] - inSegment));
      auto segment = segmentSource(index);
      if (!segment) return fail(segment.error().code, segment.error().message, at);
      auto got = (*segment)->readAt(inSegment, dst.subspan(done, n));
      // A failure anywhere fails the whole request: bytes the caller asked for are never left
      // unfilled behind a short count.
      if (!got) return fail(got.error().code, fileName(m_paths[index]) + ": " + got.error().message, at);
      if (*got < n)
        return fail(ErrorCode::ReadFailed,
                    "split image segment " + fileName(m_paths[index]) + " ends before its size at opening",
                    at + *got);
      done += n;
    }
    return done;
  }

  Result<std::uint64_t> size() override { return m_total; }
  // Every segment's file is still there.
  bool stillThere() override {
    std::error_code ec;
    for (const auto& path : m_paths)
      if (!fs::exists(path, ec)) return false;
    return true;
  }
  // The segments read with pread; the list of open segments is guarded.
  bool concurrentReads() const override { return true; }

  EvidenceInfo evidenceInfo() override {
    EvidenceInfo info;
    info.kind = EvidenceKind::Split;
    info.segments = static_cast<std::uint32_t>(m_paths.size());
    info.mediaSize = m_total;
    return info;
  }

 private:
  // The open segment, from the few kept open (most recently used first).
  Result<std::shared_ptr<ByteSource>> segmentSource(std::size_t index) {
    std::lock_guard lock(m_mutex);
    for (auto it = m_open.begin(); it != m_open.end(); ++it) {
      if (it->first != index) continue;
      m_open.splice(m_open.begin(), m_open, it);
      return m_open.front().second;
    }
    auto opened = openFileSource(m_paths[index]);
    if (!opened) return std::unexpected(opened.error());
    m_open.emplace_front(index, std::shared_ptr<ByteSource>(std::move(*opened)));
    if (m_open.size() > kOpenSegments) m_open.pop_back();
    return m_open.front().second;
  }

  std::vector<std::string> m_paths;
  std::vector<std::uint64_t> m_sizes;
  std::uint64_t m_total = 0;
  std::mutex m_mutex;
  std::list<std::pair<std::size_t, std::shared_ptr<ByteSource>>> m_open;
};

}  // namespace

Result<std::unique_ptr<ByteSource>> openSplitSource(const std::string& firstSegment) {
  const auto naming = splitNaming(firstSegment);
  if (!naming) return fail(ErrorCode::InvalidArgument, firstSegment + ": not the first segment of a split image");

  std::vector<std::string> paths;
  std::vector<std::uint64_t> sizes;
  for (std::uint64_t index = 0;; ++index) {
    const auto path = naming->segmentPath(index);
    std::error_code ec;
    if (!path || !fs::exists(*path, ec)) break;
    // Opening each segment once makes a refused permission an error now, not a bad sector later.
    auto source = openFileSource(*path);
    if (!source) return std::unexpected(source.error());
    auto bytes = (*source)->size();
    if (!bytes) return fail(bytes.error().code, *path + ": " + bytes.error().message);
    paths.push_back(*path);
    sizes.push_back(*bytes);
  }
  if (paths.empty()) return fail(ErrorCode::NotFound, firstSegment + ": no such file");
  if (sizes.front() == 0) return fail(ErrorCode::Corrupt, "split image segment " + fileName(paths.front()) + " is empty");
  for (std::size_t i = 1; i + 1 < paths.size(); ++i) {
    if (sizes[i] < sizes.front())
      return fail(ErrorCode::Corrupt, "split image segment " + fileName(paths[i]) + " is shorter than the first");
    if (sizes[i] > sizes.front())
      return fail(ErrorCode::Corrupt, "split image segment " + fileName(paths[i]) + " is longer than the first");
  }
  if (sizes.size() > 1 && sizes.back() > sizes.front())
    return fail(ErrorCode::Corrupt, "split image segment " + fileName(paths.back()) + " is longer than the first");

  // A segment missing from the middle ends the run early; one that exists after the gap shows it.
  // So does a segment numbered before the one named, and one whose number has grown wider (as
  // split numbers past its default two characters, or .1000 after .999): the run cannot reach
  // those, and leaving them out would lose what they hold.
  const std::uint64_t last = naming->first + paths.size() - 1;
  const std::string prefix = fs::path(naming->stem).filename().string();
  const auto widerName = [&](const std::string& name) {
    if (name.size() <= prefix.size() + naming->width || name.compare(0, prefix.size(), prefix) != 0) return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(), [&](char c) {
      return naming->letters ? (c >= 'a' && c <= 'z') : (c >= '0' && c <= '9');
    });
  };
  std::error_code ec;
  std::optional<std::uint64_t> beyond;
  for (const auto& entry : fs::directory_iterator(folderOf(firstSegment), ec)) {
    const std::string name = entry.path().filename().string();
    if (widerName(name))
      return fail(ErrorCode::InvalidArgument, "split image segment " + name + " is numbered wider than " +
                                                  fileName(firstSegment) +
                                                  ": a set whose numbering grows is not read");
    const auto value = naming->valueOf(name);
    if (!value) continue;
    if (*value < naming->first)
      return fail(ErrorCode::InvalidArgument, fileName(firstSegment) + " is not the first segment of its split image: " +
                                                  entry.path().filename().string() + " comes before it");
    if (*value > last && (!beyond || *value < *beyond)) beyond = *value;
  }
  if (beyond) {
    const auto missing = naming->segmentPath(paths.size());
    const auto after = naming->segmentPath(*beyond - naming->first);
    return fail(ErrorCode::NotFound, "split image segment " + fileName(missing.value_or("?")) + " is missing (" +
                                         fileName(after.value_or("?")) + " exists after it)");
  }
  return std::unique_ptr<ByteSource>(new SplitSource(std::move(paths), std::move(sizes)));
}

}  // namespace norvale
