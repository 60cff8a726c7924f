// EWF (E01) sets through libewf, read-only. libewf hands back a chunk whose checksum or
// decompression fails (and the chunks of a segment that is missing or cut short) as a
// successful read and only records the damage in its checksum-error list; each read here
// consults that list so the damaged range fails as a bad sector would.
#include <libewf.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <mutex>
#include <vector>

#include "base/byte_reader.h"
#include "storage/evidence_source.h"

namespace norvale {
namespace fs = std::filesystem;
namespace {

// libewf's reason as one line; frees the error.
std::string takeMessage(libewf_error_t*& error) {
  if (!error) return "libewf gave no reason";
  std::array<char, 2048> text{};
  libewf_error_sprint(error, text.data(), text.size());
  libewf_error_free(&error);
  std::string out(text.data());
  std::replace(out.begin(), out.end(), '\n', ' ');
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out.empty() ? "libewf gave no reason" : out;
}

struct HandleDeleter {
  void operator()(libewf_handle_t* handle) const {
    libewf_handle_close(handle, nullptr);
    libewf_handle_free(&handle, nullptr);
  }
};
using HandlePtr = std::unique_ptr<libewf_handle_t, HandleDeleter>;

struct ByteRange {
  std::uint64_t start = 0;
  std::uint64_t end = 0;  // exclusive
};

std::string fileName(const std::string& path) { return fs::path(path).filename().string(); }

// Sorted, with overlapping and touching ranges joined, as the overlap search needs them.
std::vector<ByteRange> joined(std::vector<ByteRange> ranges) {
  std::sort(ranges.begin(), ranges.end(), [](const ByteRange& a, const ByteRange& b) { return a.start < b.start; });
  std::vector<ByteRange> out;
  for (const auto& r : ranges) {
    if (!out.empty() && r.start <= out.back().end)
      out.back().end = std::max(out.back().end, r.end);
    else
      out.push_back(r);
  }
  return out;
}

// The extension of segment `number` in the naming of a first segment's extension: E01 ... E99,
// then EAA ... EZZ, FAA ... (the letter and its case follow the first segment: s01, saa ...).
std::string segmentExtension(const std::string& firstExtension, std::uint32_t number) {
  const char letter = firstExtension.empty() ? 'E' : firstExtension[0];
  const bool lower = std::islower(static_cast<unsigned char>(letter)) != 0;
  if (number <= 99) {
    const char digits[3] = {static_cast<char>('0' + number / 10), static_cast<char>('0' + number % 10), 0};
    return std::string(1, letter) + digits;
  }
  const std::uint32_t k = number - 100;
  const char a = lower ? 'a' : 'A';
  return {static_cast<char>(letter + k / 676), static_cast<char>(a + (k % 676) / 26), static_cast<char>(a + k % 26)};
}

std::string segmentPath(const std::string& first, std::uint32_t number) {
  const fs::path p(first);
  const std::string ext = p.extension().string();
  return (p.parent_path() / (p.stem().string() + "." + segmentExtension(ext.size() > 1 ? ext.substr(1) : "E", number)))
      .string();
}

// The segment number an EWF segment file carries in its file header, or nullopt when the file
// is not an EWF segment.
std::optional<std::uint32_t> segmentNumberOf(const std::string& path) {
  auto source = openFileSource(path);
  if (!source) return std::nullopt;
  std::array<std::uint8_t, 13> header{};
  auto got = (*source)->readAt(0, header);
  if (!got || *got < header.size() || !hasEwfSignature(header)) return std::nullopt;
  return le16(header.data() + 9);
}

class EwfSource final : public ByteSource {
 public:
  EwfSource(HandlePtr handle, EvidenceInfo info, std::uint32_t bytesPerSector, std::uint32_t sectorsPerChunk,
            std::vector<ByteRange> acquiryGaps, std::vector<std::string> segments)
      : m_segments(std::move(segments)),
        m_handle(std::move(handle)),
        m_info(std::move(info)),
        m_bytesPerSector(bytesPerSector),
        m_chunkBytes(static_cast<std::uint64_t>(bytesPerSector) * sectorsPerChunk),
        m_acquiryGaps(std::move(acquiryGaps)) {}

  Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> dst) override {
    const std::uint64_t media = m_info.mediaSize;
    if (offset >= media || dst.empty()) return std::size_t{0};
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(dst.size(), media - offset));
    std::lock_guard lock(m_mutex);
    std::size_t done = 0;
    while (done < wanted) {
      libewf_error_t* error = nullptr;
      const ssize_t got = libewf_handle_read_random(m_handle.get(), dst.data() + done, wanted - done,
                                                    static_cast<off64_t>(offset + done), &error);
      if (got < 0)
        return fail(ErrorCode::ReadFailed, "EWF data could not be read: " + takeMessage(error) + incompleteNote(),
                    offset + done);
      if (got == 0)
        return fail(ErrorCode::ReadFailed, "EWF data ends before the media size" + incompleteNote(), offset + done);
      done += static_cast<std::size_t>(got);
    }
    if (auto checked = refreshDamage(offset, wanted); !checked) return std::unexpected(checked.error());
    if (const ByteRange* bad = firstOverlap(m_damaged, offset, wanted))
      return fail(ErrorCode::ReadFailed,
                  std::string(m_info.incomplete ? "EWF chunk data is missing or damaged (sectors "
                                                : "EWF chunk data fails its checksum or cannot be decompressed (sectors ") +
                      sectorText(*bad) + ")" + incompleteNote(),
                  std::max(offset, bad->start));
    if (const ByteRange* gap = firstOverlap(m_acquiryGaps, offset, wanted))
      return fail(ErrorCode::ReadFailed,
                  "the acquisition could not read these sectors of the original disk (sectors " + sectorText(*gap) + ")",
                  std::max(offset, gap->start));
    return wanted;
  }

  Result<std::uint64_t> size() override { return m_info.mediaSize; }
  EvidenceInfo evidenceInfo() override { return m_info; }
  // Every segment file of the set is still there.
  bool stillThere() override {
    std::error_code ec;
    for (const auto& path : m_segments)
      if (!std::filesystem::exists(path, ec)) return false;
    return true;
  }

 private:
  std::string incompleteNote() const {
    return m_info.incomplete ? "; the EWF set is incomplete (a segment is missing or cut short)" : "";
  }

  std::string sectorText(const ByteRange& r) const {
    return std::to_string(r.start / m_bytesPerSector) + "-" + std::to_string((r.end - 1) / m_bytesPerSector);
  }

  // The ranges are sorted and apart; the first that overlaps [offset, offset + length).
  static const ByteRange* firstOverlap(const std::vector<ByteRange>& ranges, std::uint64_t offset,
                                       std::uint64_t length) {
    auto it = std::partition_point(ranges.begin(), ranges.end(), [&](const ByteRange& r) { return r.end <= offset; });
    return it != ranges.end() && it->start < offset + length ? &*it : nullptr;
  }

  Result<ByteRange> damageEntry(std::uint32_t index) {
    std::uint64_t start = 0, count = 0;
    libewf_error_t* error = nullptr;
    if (libewf_handle_get_checksum_error(m_handle.get(), index, &start, &count, &error) != 1)
      return fail(ErrorCode::ReadFailed, "cannot tell whether the EWF chunk data is intact: " + takeMessage(error));
    return ByteRange{start * m_bytesPerSector, (start + count) * m_bytesPerSector};
  }

  // Brings the copy of libewf's checksum-error list up to date after reading [offset, +length).
  // libewf joins a new damaged chunk to a range it touches, so an unchanged count can still hide
  // a grown range: then only ranges touching the chunks just read can have changed.
  Result<void> refreshDamage(std::uint64_t offset, std::uint64_t length) {
    std::uint32_t count = 0;
    libewf_error_t* error = nullptr;
    if (libewf_handle_get_number_of_checksum_errors(m_handle.get(), &count, &error) != 1)
      return fail(ErrorCode::ReadFailed, "cannot tell whether the EWF chunk data is intact: " + takeMessage(error),
                  offset);
    if (count != m_damaged.size()) {
      std::vector<ByteRange> ranges;
      for (std::uint32_t i = 0; i < count; ++i) {
        auto entry = damageEntry(i);
        if (!entry) return fail(entry.error().code, entry.error().message, offset);
        ranges.push_back(*entry);
      }
      // libewf keeps its list sorted and joined; the copy must stay index for index the same.
      m_damaged = std::move(ranges);
      return {};
    }
    const std::uint64_t from = offset - offset % m_chunkBytes;
    const std::uint64_t to = offset + length + m_chunkBytes;
    auto it = std::partition_point(m_damaged.begin(), m_damaged.end(), [&](const ByteRange& r) { return r.end < from; });
    for (; it != m_damaged.end() && it->start <= to; ++it) {
      auto entry = damageEntry(static_cast<std::uint32_t>(it - m_damaged.begin()));
      if (!entry) return fail(entry.error().code, entry.error().message, offset);
      *it = *entry;
    }
    return {};
  }

  std::vector<std::string> m_segments;
  HandlePtr m_handle;
  EvidenceInfo m_info;
  std::uint32_t m_bytesPerSector;
  std::uint64_t m_chunkBytes;
  std::vector<ByteRange> m_acquiryGaps;
  std::vector<ByteRange> m_damaged;
  std::mutex m_mutex;  // one libewf handle serves one read at a time
};

std::string headerValue(libewf_handle_t* handle, const char* identifier) {
  const auto* id = reinterpret_cast<const std::uint8_t*>(identifier);
  const std::size_t idLength = std::char_traits<char>::length(identifier);
  std::size_t size = 0;
  if (libewf_handle_get_utf8_header_value_size(handle, id, idLength, &size, nullptr) != 1 || size <= 1) return {};
  std::vector<std::uint8_t> text(size, 0);
  if (libewf_handle_get_utf8_header_value(handle, id, idLength, text.data(), text.size(), nullptr) != 1) return {};
  return std::string(reinterpret_cast<const char*>(text.data()));
}

std::string hashValue(libewf_handle_t* handle, const char* identifier) {
  const auto* id = reinterpret_cast<const std::uint8_t*>(identifier);
  std::array<std::uint8_t, 160> text{};
  if (libewf_handle_get_utf8_hash_value(handle, id, std::char_traits<char>::length(identifier), text.data(),
                                        text.size(), nullptr) != 1)
    return {};
  std::string out(reinterpret_cast<const char*>(text.data()));
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

Result<std::unique_ptr<ByteSource>> openEwfSource(const std::string& firstSegment) {
  const auto number = segmentNumberOf(firstSegment);
  if (!number) {
    auto probe = openFileSource(firstSegment);
    if (!probe) return std::unexpected(probe.error());
    return fail(ErrorCode::Corrupt, firstSegment + ": not an EWF segment (no EWF signature)");
  }
  if (*number != 1)
    return fail(ErrorCode::InvalidArgument, fileName(firstSegment) + " is segment " + std::to_string(*number) +
                                                " of an EWF set: open its first segment (" +
                                                fileName(segmentPath(firstSegment, 1)) + ")");

  libewf_error_t* error = nullptr;
  char** globbed = nullptr;
  int globCount = 0;
  std::vector<std::string> names;
  if (libewf_glob(firstSegment.c_str(), firstSegment.size(), LIBEWF_FORMAT_UNKNOWN, &globbed, &globCount, &error) == 1) {
    for (int i = 0; i < globCount; ++i) names.emplace_back(globbed[i]);
    libewf_glob_free(globbed, globCount, nullptr);
  } else {
    libewf_error_free(&error);  // a name libewf's naming does not know: the file alone
  }
  if (names.empty()) names.push_back(firstSegment);

  // libewf's glob stops at the first name that does not exist; a segment after that gap would
  // be silently left out, so the folder is searched for one.
  const fs::path folder = fs::path(firstSegment).parent_path();
  const std::string stem = fs::path(firstSegment).stem().string();
  std::optional<std::pair<std::uint32_t, std::string>> beyond;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder.empty() ? fs::path(".") : folder, ec)) {
    if (entry.path().stem().string() != stem || !entry.is_regular_file(ec)) continue;
    const auto n = segmentNumberOf(entry.path().string());
    if (n && *n > names.size() && (!beyond || *n < beyond->first)) beyond = {{*n, entry.path().filename().string()}};
  }
  if (beyond)
    return fail(ErrorCode::NotFound, "EWF segment " +
                                         fileName(segmentPath(firstSegment, static_cast<std::uint32_t>(names.size() + 1))) +
                                         " is missing (" + beyond->second + " exists after it)");

  libewf_handle_t* raw = nullptr;
  if (libewf_handle_initialize(&raw, &error) != 1)
    return fail(ErrorCode::ReadFailed, "cannot prepare an EWF reader: " + takeMessage(error));
  HandlePtr handle(raw);
  std::vector<char*> argv;
  for (auto& n : names) argv.push_back(n.data());
  if (libewf_handle_open(handle.get(), argv.data(), static_cast<int>(argv.size()), LIBEWF_OPEN_READ, &error) != 1)
    return fail(ErrorCode::Corrupt, firstSegment + ": the EWF set cannot be opened: " + takeMessage(error));

  EvidenceInfo info;
  info.kind = EvidenceKind::Ewf;
  info.segments = static_cast<std::uint32_t>(names.size());
  size64_t mediaSize = 0;
  std::uint32_t bytesPerSector = 0, sectorsPerChunk = 0;
  if (libewf_handle_get_media_size(handle.get(), &mediaSize, &error) != 1 ||
      libewf_handle_get_bytes_per_sector(handle.get(), &bytesPerSector, &error) != 1 ||
      libewf_handle_get_sectors_per_chunk(handle.get(), &sectorsPerChunk, &error) != 1)
    return fail(ErrorCode::Corrupt, firstSegment + ": the EWF set describes no media: " + takeMessage(error));
  if (bytesPerSector == 0 || sectorsPerChunk == 0 || mediaSize == 0)
    return fail(ErrorCode::Corrupt, firstSegment + ": the EWF set describes no media (its sections are damaged)");
  info.mediaSize = mediaSize;
  info.incomplete = libewf_handle_segment_files_corrupted(handle.get(), nullptr) == 1;
  info.md5 = hashValue(handle.get(), "MD5");
  info.sha1 = hashValue(handle.get(), "SHA1");
  info.caseNumber = headerValue(handle.get(), "case_number");
  info.evidenceNumber = headerValue(handle.get(), "evidence_number");
  info.examiner = headerValue(handle.get(), "examiner_name");
  info.description = headerValue(handle.get(), "description");
  info.notes = headerValue(handle.get(), "notes");
  info.acquisitionDate = headerValue(handle.get(), "acquiry_date");

  std::vector<ByteRange> gaps;
  std::uint32_t acquiryErrors = 0;
  if (libewf_handle_get_number_of_acquiry_errors(handle.get(), &acquiryErrors, nullptr) == 1) {
    for (std::uint32_t i = 0; i < acquiryErrors; ++i) {
      std::uint64_t start = 0, count = 0;
      if (libewf_handle_get_acquiry_error(handle.get(), i, &start, &count, nullptr) == 1 && count > 0)
        gaps.push_back({start * bytesPerSector, (start + count) * bytesPerSector});
    }
  }
  return std::unique_ptr<ByteSource>(
      new EwfSource(std::move(handle), std::move(info), bytesPerSector, sectorsPerChunk, joined(std::move(gaps)),
                    std::vector<std::string>(names.begin(), names.end())));
}

}  // namespace norvale
