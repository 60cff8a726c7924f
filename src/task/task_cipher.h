#pragma once
// AES-128-ECB over whole task-file records: each record's leading 16-byte blocks are
// enciphered on their own, the remaining (size mod 16) bytes stay plain.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

namespace norvale {

class TaskCipher {
 public:
  TaskCipher();  // set up from the program's fixed task-file key
  ~TaskCipher();
  TaskCipher(const TaskCipher&) = delete;
  TaskCipher& operator=(const TaskCipher&) = delete;

  // buffer holds whole records of recordSize bytes; a trailing partial record is left alone.
  void encipher(std::span<std::uint8_t> buffer, std::size_t recordSize);
  void decipher(std::span<std::uint8_t> buffer, std::size_t recordSize);
  // Deciphers only the first 16-byte block of each record into blocks (16 bytes a record):
  // enough to read the fields there without touching the records.
  void decipherFirstBlocks(std::span<const std::uint8_t> buffer, std::size_t recordSize,
                           std::vector<std::uint8_t>& blocks);

 private:
  void apply(EVP_CIPHER_CTX* ctx, std::span<std::uint8_t> buffer, std::size_t recordSize);
  void run(EVP_CIPHER_CTX* ctx, std::uint8_t* bytes, std::size_t length);
  EVP_CIPHER_CTX* m_encrypt = nullptr;
  EVP_CIPHER_CTX* m_decrypt = nullptr;
  std::vector<std::uint8_t> m_blocks;  // gathered blocks, kept between calls
};

}  // namespace norvale
