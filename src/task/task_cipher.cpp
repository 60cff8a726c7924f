#include "task/task_cipher.h"

#include <openssl/evp.h>

#include <cstring>
#include <stdexcept>
#include <vector>

namespace norvale {
namespace {
// The task-file key. Changing it makes every saved task unreadable.
constexpr unsigned char kTaskFileKey[16] = {0x4E, 0x6F, 0x72, 0x76, 0x61, 0x6C, 0x65, 0x2D,
                                            0x54, 0x61, 0x73, 0x6B, 0x2D, 0x4B, 0x31, 0x36};

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

void TaskCipher::apply(EVP_CIPHER_CTX* ctx, std::span<std::uint8_t> buffer, std::size_t recordSize) {
  const std::size_t blockBytes = recordSize / 16 * 16;
  const std::size_t records = buffer.size() / recordSize;
  if (blockBytes == 0 || records == 0) return;
  // ECB blocks are independent, so the blocks of all records are gathered and run through the
  // cipher in one call (much faster than one call per record), then put back.
  std::vector<std::uint8_t> blocks(records * blockBytes);
  for (std::size_t r = 0; r < records; ++r)
    std::memcpy(&blocks[r * blockBytes], &buffer[r * recordSize], blockBytes);
  int outLength = 0;
  if (EVP_CipherUpdate(ctx, blocks.data(), &outLength, blocks.data(), static_cast<int>(blocks.size())) != 1 ||
      static_cast<std::size_t>(outLength) != blocks.size())
    throw std::runtime_error("AES-128 cipher failed");
  for (std::size_t r = 0; r < records; ++r)
    std::memcpy(&buffer[r * recordSize], &blocks[r * blockBytes], blockBytes);
}

}  // namespace norvale
