#include "export/source_reader.h"

#include <openssl/evp.h>

#include <algorithm>

#include "export/manifest.h"

namespace norvale {

struct Sha256::State {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
};

Sha256::Sha256() : m_state(new State) { EVP_DigestInit_ex(m_state->ctx, EVP_sha256(), nullptr); }

Sha256::~Sha256() {
  EVP_MD_CTX_free(m_state->ctx);
  delete m_state;
}

void Sha256::update(const std::uint8_t* data, std::size_t n) { EVP_DigestUpdate(m_state->ctx, data, n); }

std::string Sha256::hex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(m_state->ctx, digest, &length);
  return hexDigits(digest, length);
}

std::uint64_t SourceReader::read(std::uint64_t offset, std::size_t size, std::uint8_t* out,
                                 std::vector<UnreadableSpan>* spans) {
  std::uint64_t unreadable = 0;
  std::uint64_t pieceAt = 0;
  while (size > 0) {
    const std::uint64_t blockStart = offset / kBlockBytes * kBlockBytes;
    if (blockStart != m_blockStart) load(blockStart);
    const std::size_t inBlock = static_cast<std::size_t>(offset - blockStart);
    const std::size_t n = std::min(size, kBlockBytes - inBlock);
    std::copy_n(m_block.begin() + static_cast<std::ptrdiff_t>(inBlock), n, out);
    for (std::size_t s = inBlock / 512; s <= (inBlock + n - 1) / 512; ++s) {
      if (!m_badSectors.count(s)) continue;
      const std::size_t from = std::max(inBlock, s * 512), to = std::min(inBlock + n, s * 512 + 512);
      unreadable += to - from;
      if (!spans) continue;
      const std::uint64_t at = pieceAt + (from - inBlock);
      if (!spans->empty() && spans->back().offset + spans->back().length == at) spans->back().length += to - from;
      else spans->push_back({at, to - from});
    }
    out += n;
    offset += n;
    size -= n;
    pieceAt += n;
  }
  return unreadable;
}

void SourceReader::load(std::uint64_t blockStart) {
  m_blockStart = blockStart;
  m_badSectors.clear();
  std::fill(m_block.begin(), m_block.end(), 0);
  if (m_device.readAt(blockStart, m_block)) return;
  for (std::size_t s = 0; s < kBlockBytes / 512; ++s) {
    if (!m_device.readAt(blockStart + s * 512, std::span(m_block.data() + s * 512, 512))) {
      std::fill_n(m_block.begin() + static_cast<std::ptrdiff_t>(s * 512), 512, 0);
      m_badSectors.insert(s);
    }
  }
}

}  // namespace norvale
