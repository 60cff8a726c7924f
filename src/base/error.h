#pragma once
// Errors are values: every layer returns std::expected<T, Error>.
#include <cstdint>
#include <expected>
#include <string>

namespace norvale {

enum class ErrorCode {
  NotFound,        // a file or device does not exist
  AccessDenied,    // permission refused
  InUse,           // another process holds the task
  ReadFailed,      // the source or a task file could not be read
  WriteFailed,     // a task file, report or exported file could not be written
  Corrupt,         // a task file or structure is malformed
  InvalidArgument, // the caller asked for something impossible
  Stopped,         // the user stopped the work
};

struct Error {
  ErrorCode code;
  std::string message;
  std::uint64_t offset = 0;  // byte offset where it applies, 0 when none
};

template <typename T>
using Result = std::expected<T, Error>;

inline std::unexpected<Error> fail(ErrorCode code, std::string message, std::uint64_t offset = 0) {
  return std::unexpected(Error{code, std::move(message), offset});
}

}  // namespace norvale
