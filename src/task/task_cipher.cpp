#include "task/task_cipher.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace norvale {
namespace {
// The task-file key. Changing it makes every saved task unreadable.
constexpr unsigned char kTaskFileKey[16] = {0x4E, 0x6F, 0x72, 0x76, 0x61, 0x6C, 0x65, 0x2D,
                                            0x54, 0x61, 0x73, 0x6B, 0x2D, 0x4B, 0x31, 0x36};
// Records gathered per cipher call: the scratch stays in the cache and is never grown past it.
constexpr std::size_t kGatherBytes = 1 << 20;

EVP_CIPHER_CTX* makeContext(bool encrypt) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  if (!ctx || EVP_CipherInit_ex(ctx, EVP_aes_128_ecb(), nullptr, kTaskFileKey, nullptr, encrypt ? 1 : 0) != 1)
    throw std::runtime_error("AES-128 is not available from libcrypto");
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  return ctx;
}
}  // namespace

TaskCipher::TaskCipher() : m_encrypt(makeContext(true)), m_decrypt(makeContext(false)) {}

TaskCipher::~TaskCipher() {
  EVP_CIPHER_CTX_free(m_encrypt);
  EVP_CIPHER_CTX_free(m_decrypt);
}

void TaskCipher::encipher(std::span<std::uint8_t> buffer, std::size_t recordSize) {
  apply(m_encrypt, buffer, recordSize);
}
void TaskCipher::decipher(std::span<std::uint8_t> buffer, std::size_t recordSize) {
  apply(m_decrypt, buffer, recordSize);
}

void TaskCipher::run(EVP_CIPHER_CTX* ctx, std::uint8_t* bytes, std::size_t length) {
  constexpr std::size_t kMaxCall = std::size_t{1} << 30;  // whole blocks, within an int
  for (std::size_t done = 0; done < length;) {
    const std::size_t n = std::min(kMaxCall, length - done);
    int outLength = 0;
    if (EVP_CipherUpdate(ctx, bytes + done, &outLength, bytes + done, static_cast<int>(n)) != 1 ||
        static_cast<std::size_t>(outLength) != n)
      throw std::runtime_error("AES-128 cipher failed");
    done += n;
  }
}

void TaskCipher::apply(EVP_CIPHER_CTX* ctx, std::span<std::uint8_t> buffer, std::size_t recordSize) {
  const std::size_t blockBytes = recordSize / 16 * 16;
  const std::size_t records = buffer.size() / recordSize;
  if (blockBytes == 0 || records == 0) return;
  if (blockBytes == recordSize) {  // records of whole blocks: the buffer is one run of blocks
    run(ctx, buffer.data(), records * recordSize);
    return;
  }
  // ECB blocks are independent, so the blocks of many records are gathered and run through the
  // cipher in one call (much faster than one call per record), then put back.
  const std::size_t perCall = std::max<std::size_t>(kGatherBytes / blockBytes, 1);
  m_blocks.resize(std::min(records, perCall) * blockBytes);
  for (std::size_t first = 0; first < records; first += perCall) {
    const std::size_t n = std::min(perCall, records - first);
    std::uint8_t* record = buffer.data() + first * recordSize;
    for (std::size_t r = 0; r < n; ++r) std::memcpy(&m_blocks[r * blockBytes], record + r * recordSize, blockBytes);
    run(ctx, m_blocks.data(), n * blockBytes);
    for (std::size_t r = 0; r < n; ++r) std::memcpy(record + r * recordSize, &m_blocks[r * blockBytes], blockBytes);
  }
}

void TaskCipher::decipherFirstBlocks(std::span<const std::uint8_t> buffer, std::size_t recordSize,
                                     std::vector<std::uint8_t>& blocks) {
  const std::size_t records = recordSize >= 16 ? buffer.size() / recordSize : 0;
  blocks.resize(records * 16);
  for (std::size_t r = 0; r < records; ++r) std::memcpy(&blocks[r * 16], &buffer[r * recordSize], 16);
  if (records > 0) run(m_decrypt, blocks.data(), blocks.size());
}

}  // namespace norvale
