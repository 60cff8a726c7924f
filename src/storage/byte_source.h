#pragma once
// The platform layer under DeviceHandle: one open source with positioned reads.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/error.h"
#include "storage/evidence_info.h"

namespace norvale {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to dst.size() bytes at offset. Returns the bytes transferred (0 at or past the
  // end), or an error when the platform refuses the read (bad sector, device gone).
  virtual Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> dst) = 0;
  // Size in bytes of the open object (file size, or block device size).
  virtual Result<std::uint64_t> size() = 0;
  // May several threads read at once? Sources that cannot say no, and their reads take turns.
  virtual bool concurrentReads() const { return false; }
  // Do reads go past the page cache? Only a direct open that the file system accepted does.
  virtual bool readsPastCache() const { return false; }
  // Is what the source was opened from still there? False once the file was deleted or
  // replaced, or the disk was unplugged: failed reads are then no bad sectors. Asked after a
  // failed read, not on every one.
  virtual bool stillThere() { return true; }
  // What the source is; a plain file or device unless a source says otherwise.
  virtual EvidenceInfo evidenceInfo() {
    EvidenceInfo info;
    info.mediaSize = size().value_or(0);
    return info;
  }
};

// Opens a file or block device by path, read-only: evidence is never opened for writing.
Result<std::unique_ptr<ByteSource>> openFileSource(const std::string& path);
// The same, reading past the page cache when directReads (O_DIRECT), so that scanning a large
// disk does not evict what the machine keeps cached; where the platform or the file system
// cannot, the source reads as usual.
Result<std::unique_ptr<ByteSource>> openFileSource(const std::string& path, bool directReads);
// Opens an image by path as the evidence it is: an EWF set when the file carries the EWF
// signature, a split raw set when it is the first of numbered segments and the next one exists,
// else the plain file (see storage/evidence_source.h).
Result<std::unique_ptr<ByteSource>> openEvidenceSource(const std::string& path);
// The same; a plain file is read past the page cache when directReads (see openFileSource).
Result<std::unique_ptr<ByteSource>> openEvidenceSource(const std::string& path, bool directReads);

// An in-memory source, for tests and for sampling buffers already read.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}
  Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> dst) override;
  Result<std::uint64_t> size() override { return m_bytes.size(); }
  bool concurrentReads() const override { return true; }
  const std::vector<std::uint8_t>& bytes() const { return m_bytes; }

 private:
  std::vector<std::uint8_t> m_bytes;
};

}  // namespace norvale
