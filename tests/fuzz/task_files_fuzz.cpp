// The task-file loader over task folders written from the input: the header, the file entries
// and the sorted segment records, raw or as enciphered records that decipher to the input.
#include <array>
#include <filesystem>
#include <fstream>

#include "base/byte_reader.h"
#include "format/records.h"
#include "fuzz/fuzz_targets.h"
#include "task/result_store.h"
#include "task/task_cipher.h"
#include "task/task_context.h"
#include "task/task_runner.h"

namespace norvale::fuzz {

namespace {
constexpr std::size_t kFiles = 4;
constexpr std::size_t kMaxFilesRead = 64;
constexpr std::uint64_t kMaxRecordsRead = 4096;
// Each task file's record size, and where its records begin (the raw file has the plain header).
constexpr std::array<std::size_t, kFiles> kRecordSize{kSegmentRecordSize, kIndexRecordSize, kSegmentRecordSize,
                                                      kFileEntrySize};
constexpr std::array<std::size_t, kFiles> kRecordsAt{kTaskHeaderSize, 0, 0, 0};

class QuietObserver final : public TaskObserver {
 public:
  void onTaskStatus(const TaskStatus&) override {}
};

void writeWhole(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) fail("cannot write " + path);
}
}  // namespace

void fuzzTaskFiles(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return;
  const bool encipher = (data[0] & 1) != 0;
  std::span<const std::uint8_t> rest(data + 1, size - 1);
  // Three little-endian u32 lengths, then the files' bytes in order; the last takes what is left.
  std::array<std::size_t, kFiles - 1> lengths{};
  for (std::size_t i = 0; i + 1 < kFiles && rest.size() >= 4; ++i) {
    lengths[i] = le32(rest.data());
    rest = rest.subspan(4);
  }
  const std::string folder = scratchFolder() + "/task_files";
  std::filesystem::create_directories(folder);
  static TaskCipher cipher;
  for (std::size_t i = 0; i < kFiles; ++i) {
    const std::size_t n = i + 1 < kFiles ? std::min(lengths[i], rest.size()) : rest.size();
    std::vector<std::uint8_t> bytes(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(n));
    rest = rest.subspan(n);
    if (encipher && bytes.size() > kRecordsAt[i])
      cipher.encipher(std::span(bytes).subspan(kRecordsAt[i]), kRecordSize[i]);
    writeWhole(taskFilePath(folder, static_cast<TaskFileId>(i)), bytes);
  }

  QuietObserver observer;
  TaskContext task;
  auto head = readTaskHeader(task, observer, folder);
  if (!head) return;
  head->taskFolder = folder;
  task.describe(*head);
  if (auto loaded = loadTask(task, observer); !loaded) return;
  std::size_t read = 0;
  for (const auto& [key, entry] : task.fileMap) {
    if (++read > kMaxFilesRead) break;
    const std::uint64_t count = std::min(entry.recordCount(), kMaxRecordsRead);
    auto records = task.store->readFileRecords(entry, 0, count);
    if (!records) fail("a loaded file's records do not read: " + records.error().message);
    if (records->size() != count) fail("a loaded file reads fewer records than it counts");
  }
  task.teardown();
}

}  // namespace norvale::fuzz
