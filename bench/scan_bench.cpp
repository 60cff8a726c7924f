// Deep-scan speed against a plain sequential read of the same image, and peak memory.
//   norvale-bench [--size-mib N] [--image PATH] [--brand N] [--zone ZONE] [--keep]
// Without --image it writes an image of N MiB (default 1024) filled with recordings of the
// built-in sample, so that the scan finds millions of packets and the store flushes and sorts.
// --brand scans with another brand's parser (default 18); to it the sample is mostly foreign
// bytes full of start codes, which measures how fast its packet test passes over them.
// --zone names the recorder's time zone (default none: the process's TZ through the C library).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sample/sample_image.h"
#include "storage/byte_source.h"
#include "task/task_context.h"
#include "task/task_runner.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

void writeImage(const std::string& path, std::uint64_t bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::uint64_t written = 0;
  norvale::sample::SampleLayout layout;
  layout.days = 30;
  layout.firstYear = 2010;
  layout.firstMonth = 1;
  for (int chunk = 0; written < bytes; ++chunk) {
    // Days run on from 2010 and wrap within the years the recorders' times may carry; the
    // calendar normalises days past a month's end.
    layout.firstDay = 1 + (chunk * layout.days) % 3600;
    layout.seed = static_cast<std::uint32_t>(chunk + 1);
    const auto image = norvale::sample::buildSampleImage(layout);
    const std::uint64_t n = std::min<std::uint64_t>(image.bytes.size(), bytes - written);
    out.write(reinterpret_cast<const char*>(image.bytes.data()), static_cast<std::streamsize>(n));
    written += n;
  }
}

double plainReadMBps(const std::string& path) {
  auto source = norvale::openFileSource(path);
  if (!source) return 0;
  std::vector<std::uint8_t> block(1 << 20);
  std::uint64_t total = 0;
  const auto t0 = Clock::now();
  for (std::uint64_t at = 0;; at += block.size()) {
    auto got = (*source)->readAt(at, block);
    if (!got || *got == 0) break;
    total += *got;
  }
  return static_cast<double>(total) / 1e6 / seconds(t0, Clock::now());
}

class ScanClock final : public norvale::TaskObserver {
 public:
  void onTaskStatus(const norvale::TaskStatus& s) override {
    if (s.code == norvale::StatusCode::ScanStart) start = Clock::now();
    if (s.code == norvale::StatusCode::ScanProgress) end = Clock::now();
    if (s.code == norvale::StatusCode::ScanProgress) found = s.foundCount;
  }
  Clock::time_point start{}, end{};
  std::uint64_t found = 0;
};

// Runs in a child process so that its peak memory is the scan's alone.
int runScan(const std::string& image, const std::string& folder, std::uint8_t brand, const std::string& zone,
            int reportFd) {
  fs::create_directories(folder);
  norvale::DeviceRecord device = norvale::makeImageRecord(image, 0);
  norvale::TaskContext task;
  ScanClock clock;
  norvale::TaskHead head;
  head.notify = &clock;
  head.brand = brand;
  head.parseMode = norvale::kParseDeep;
  head.length = (device.size + 511) / 512 * 512;
  head.taskFolder = folder;
  head.device = &device;
  head.recorderZone = zone;
  task.copyHead(head);
  const auto t0 = Clock::now();
  auto ran = norvale::runNewTask(task);
  const double whole = seconds(t0, Clock::now());
  char line[256];
  const int n = std::snprintf(line, sizeof line, "%.3f %.3f %llu %zu %d\n", seconds(clock.start, clock.end), whole,
                              static_cast<unsigned long long>(clock.found), task.fileMap.size(), ran ? 1 : 0);
  if (write(reportFd, line, static_cast<std::size_t>(n)) != n) return 1;
  return ran ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t sizeMib = 1024;
  std::string image;
  bool keep = false;
  int brand = 18;
  std::string zone;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--size-mib") && i + 1 < argc) sizeMib = std::stoull(argv[++i]);
    else if (!std::strcmp(argv[i], "--image") && i + 1 < argc) image = argv[++i];
    else if (!std::strcmp(argv[i], "--brand") && i + 1 < argc) brand = std::stoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--zone") && i + 1 < argc) zone = argv[++i];
    else if (!std::strcmp(argv[i], "--keep")) keep = true;
    else {
      std::fprintf(stderr, "usage: norvale-bench [--size-mib N] [--image PATH] [--brand N] [--zone ZONE] [--keep]\n");
      return 2;
    }
  }
  if (brand < 1 || brand > 48) {
    std::fprintf(stderr, "--brand takes a brand number from 1 to 48\n");
    return 2;
  }
  const fs::path work = fs::temp_directory_path() / ("norvale-bench-" + std::to_string(getpid()));
  fs::create_directories(work);
  const bool generated = image.empty();
  if (generated) {
    image = (work / "bench.img").string();
    std::printf("writing a %llu MiB image of sample recordings...\n", static_cast<unsigned long long>(sizeMib));
    writeImage(image, sizeMib << 20);
  }
  const double imageMB = static_cast<double>(fs::file_size(image)) / 1e6;
  plainReadMBps(image);  // warm the page cache
  const double readMBps = plainReadMBps(image);

  int pipeFds[2];
  if (pipe(pipeFds) != 0) return 1;
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    _exit(runScan(image, (work / "task").string(), static_cast<std::uint8_t>(brand), zone, pipeFds[1]));
  }
  close(pipeFds[1]);
  char buf[256] = {};
  const ssize_t got = read(pipeFds[0], buf, sizeof buf - 1);
  int status = 0;
  struct rusage usage {};
  wait4(child, &status, 0, &usage);
  double scanSeconds = 0, wholeSeconds = 0;
  unsigned long long packets = 0;
  std::size_t files = 0;
  int ok = 0;
  if (got <= 0 || std::sscanf(buf, "%lf %lf %llu %zu %d", &scanSeconds, &wholeSeconds, &packets, &files, &ok) != 5 || !ok) {
    std::fprintf(stderr, "the scan failed\n");
    return 1;
  }
  std::printf("image:               %.0f MB (%s)\n", imageMB, image.c_str());
  std::printf("plain read:          %.0f MB/s\n", readMBps);
  std::printf("deep scan:           %.0f MB/s (%.2f s, %llu packets)\n", imageMB / scanSeconds, scanSeconds, packets);
  std::printf("whole task:          %.0f MB/s (%.2f s with sort, grouping and load; %zu files)\n",
              imageMB / wholeSeconds, wholeSeconds, files);
  std::printf("peak memory (scan):  %.0f MiB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
  if (!keep) fs::remove_all(work);
  return 0;
}
