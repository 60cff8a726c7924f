#pragma once
// AES-128-ECB over whole task-file records: each record's leading 16-byte blocks are
// enciphered on their own, the remaining (size mod 16) bytes stay plain.
#include <cstddef>
#include <cstdint>
#include <span>

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

 private:
  void apply(EVP_CIPHER_CTX* ctx, std::span<std::uint8_t> buffer, std::size_t recordSize);
  EVP_CIPHER_CTX* m_encrypt = nullptr;
  EVP_CIPHER_CTX* m_decrypt = nullptr;
};

}  // namespace norvale
