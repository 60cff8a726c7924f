#include "storage/media_digest.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace norvale {
namespace {

constexpr std::size_t kBlock = 1 << 20;
constexpr std::size_t kSector = 512;

struct DigestDeleter {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using DigestPtr = std::unique_ptr<EVP_MD_CTX, DigestDeleter>;

std::string hex(const unsigned char* bytes, unsigned int n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < n; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0xF];
  }
  return out;
}

void noteUnreadable(MediaDigest& digest, std::uint64_t offset, std::uint64_t length, const std::string& reason) {
  if (!digest.unreadable.empty()) {
    auto& last = digest.unreadable.back();
    if (last.offset + last.length == offset) {
      last.length += length;
      return;
    }
  }
  digest.unreadable.push_back({offset, length, reason});
}

// Fills dst from offset; whatever cannot be read is zero and noted.
void readFully(ByteSource& source, std::uint64_t offset, std::span<std::uint8_t> dst, MediaDigest& digest) {
  auto got = source.readAt(offset, dst);
  if (got && *got == dst.size()) return;
  for (std::size_t at = 0; at < dst.size(); at += kSector) {
    const auto piece = dst.subspan(at, std::min(kSector, dst.size() - at));
    auto one = source.readAt(offset + at, piece);
    if (one && *one == piece.size()) continue;
    std::fill(piece.begin(), piece.end(), 0);
    noteUnreadable(digest, offset + at, piece.size(),
                   one ? "the source ends before its size" : one.error().message);
  }
}

}  // namespace

Result<MediaDigest> digestMedia(ByteSource& source, const std::function<bool(std::uint64_t)>& progress) {
  auto size = source.size();
  if (!size) return std::unexpected(size.error());
  DigestPtr md5(EVP_MD_CTX_new()), sha1(EVP_MD_CTX_new());
  if (!md5 || !sha1 || EVP_DigestInit_ex(md5.get(), EVP_md5(), nullptr) != 1 ||
      EVP_DigestInit_ex(sha1.get(), EVP_sha1(), nullptr) != 1)
    return fail(ErrorCode::InvalidArgument, "the MD5 and SHA1 digests are not available");

  MediaDigest digest;
  std::vector<std::uint8_t> block(kBlock);
  while (digest.bytes < *size) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, *size - digest.bytes));
    const auto piece = std::span(block.data(), n);
    readFully(source, digest.bytes, piece, digest);
    EVP_DigestUpdate(md5.get(), piece.data(), n);
    EVP_DigestUpdate(sha1.get(), piece.data(), n);
    digest.bytes += n;
    if (progress && !progress(digest.bytes)) {
      digest.stopped = digest.bytes < *size;
      break;
    }
  }
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(md5.get(), out, &length);
  digest.md5 = hex(out, length);
  EVP_DigestFinal_ex(sha1.get(), out, &length);
  digest.sha1 = hex(out, length);
  return digest;
}

}  // namespace norvale
