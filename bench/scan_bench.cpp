// Deep-scan speed over a corpus of images against a plain sequential read of the same files,
// with the peak memory of each task.
//   norvale-bench [--corpus NAME[:MIB],...|all] [--image PATH --brand N] [--threads N]
//                 [--repeat N] [--json] [--corpus-dir DIR] [--size-mib N] [--list]
// Each corpus image is built once and kept in the corpus folder (default
// /tmp/norvale-bench-corpus), then reused. For every image the bench reads it whole a few times
// (4 MiB reads, as dd bs=4M does; the best is kept, with the image in the page cache), then runs
// the whole task (scan, rebuild, load) in a process of its own, so that the peak memory is the
// task's alone. Scan phase: from the scan's start to the rebuild; whole task: the process.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "corpus/recorder_stream.h"
#include "parsers/brand_table.h"
#include "sample/sample_image.h"
#include "task/program_version.h"
#include "task/task_context.h"
#include "task/task_runner.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kCorpusVersion = "v1";  // raise when a builder changes its bytes

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

enum class ImageKind { Recorder, Dense, Random, FileSystem, Sample, Given };

struct CorpusEntry {
  std::string name;
  ImageKind kind = ImageKind::Recorder;
  std::uint8_t brand = 18;   // the parser the task runs
  std::uint64_t mib = 1024;
  std::string path;          // for a given image
};

std::vector<CorpusEntry> defaultCorpus() {
  std::vector<CorpusEntry> corpus;
  for (std::uint8_t brand : norvale::corpus::distinctLayoutBrands())
    corpus.push_back({"brand" + std::to_string(brand), ImageKind::Recorder, brand, brand == 18 ? 2048u : 1024u, {}});
  corpus.push_back({"dense", ImageKind::Dense, 18, 1024, {}});
  corpus.push_back({"random", ImageKind::Random, 18, 1024, {}});
  corpus.push_back({"ext4", ImageKind::FileSystem, 18, 1024, {}});
  corpus.push_back({"sample", ImageKind::Sample, 18, 1024, {}});
  return corpus;
}

std::optional<CorpusEntry> corpusEntry(const std::string& request) {
  const auto colon = request.find(':');
  const std::string name = request.substr(0, colon);
  for (CorpusEntry e : defaultCorpus()) {
    if (e.name != name) continue;
    if (colon != std::string::npos) e.mib = std::stoull(request.substr(colon + 1));
    return e;
  }
  // Brands that share another's layout can be asked for by name too.
  if (name.rfind("brand", 0) == 0) {
    const int brand = std::atoi(name.c_str() + 5);
    if (brand >= norvale::firstBrand() && brand <= norvale::lastBrand() && norvale::corpus::hasRecorderLayout(static_cast<std::uint8_t>(brand))) {
      CorpusEntry e{name, ImageKind::Recorder, static_cast<std::uint8_t>(brand), 1024, {}};
      if (colon != std::string::npos) e.mib = std::stoull(request.substr(colon + 1));
      return e;
    }
  }
  return std::nullopt;
}

class FileWriter final : public norvale::corpus::ImageWriter {
 public:
  explicit FileWriter(const std::string& path) : m_out(path, std::ios::binary | std::ios::trunc) {}
  void write(std::span<const std::uint8_t> bytes) override {
    m_out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  bool ok() { m_out.flush(); return static_cast<bool>(m_out); }

 private:
  std::ofstream m_out;
};

// An ext4 file system holding ordinary files: logs, documents, photos, archives, empty files.
bool writeFileSystemImage(const std::string& path, std::uint64_t bytes, const fs::path& scratch) {
  const fs::path folder = scratch / "ext4-files";
  fs::remove_all(folder);
  norvale::corpus::Random random(99);
  std::uint64_t filled = 0;
  const std::uint64_t target = bytes / 100 * 80;
  std::vector<std::uint8_t> data;
  for (int n = 0; filled < target; ++n) {
    const fs::path dir = folder / ("d" + std::to_string(n % 37)) / ("s" + std::to_string(n % 5));
    fs::create_directories(dir);
    const int kind = n % 6;
    std::size_t size = 0;
    std::string name;
    data.clear();
    if (kind == 0) {  // text log
      size = random.between(2'000, 400'000);
      name = "log" + std::to_string(n) + ".txt";
      std::ostringstream text;
      while (text.tellp() < static_cast<std::streamoff>(size))
        text << "2016-05-17 08:" << random.between(10, 59) << ":" << random.between(10, 59) << " worker "
             << random.between(1, 64) << " handled request " << random.next() % 100000 << " in "
             << random.between(1, 900) << " ms\n";
      const std::string s = text.str();
      data.assign(s.begin(), s.end());
    } else if (kind == 1 || kind == 2) {  // photos and archives: compressed bytes
      size = random.between(50'000, 6'000'000);
      name = (kind == 1 ? "img" : "pack") + std::to_string(n) + (kind == 1 ? ".jpg" : ".zip");
      data.resize(size);
      random.fill(data.data(), size);
      if (kind == 1) data[0] = 0xFF, data[1] = 0xD8, data[2] = 0xFF, data[3] = 0xE0;
      else data[0] = 'P', data[1] = 'K', data[2] = 3, data[3] = 4;
    } else if (kind == 3) {  // database or disk files with long runs of zeros
      size = random.between(100'000, 3'000'000);
      name = "data" + std::to_string(n) + ".db";
      data.assign(size, 0);
      for (std::size_t at = 0; at < size; at += 4096) random.fill(&data[at], std::min<std::size_t>(300, size - at));
    } else if (kind == 4) {  // small configuration files
      size = random.between(10, 4000);
      name = "conf" + std::to_string(n) + ".ini";
      data.assign(size, 'a');
      for (auto& c : data) c = static_cast<std::uint8_t>('a' + random.next() % 26);
    } else {  // documents: text with binary structure
      size = random.between(20'000, 900'000);
      name = "doc" + std::to_string(n) + ".pdf";
      data.resize(size);
      random.fill(data.data(), size);
      for (std::size_t at = 0; at + 64 < size; at += 1024) std::memcpy(&data[at], "endstream endobj 0 obj << /Length 1024 >> stream\n", 50);
    }
    std::ofstream out(dir / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    filled += data.size();
  }
  const std::string command = "mkfs.ext4 -q -F -b 4096 -d '" + folder.string() + "' '" + path + "' " +
                              std::to_string(bytes / 1024) + "k >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  fs::remove_all(folder);
  return status == 0 && fs::exists(path) && fs::file_size(path) == bytes;
}

bool writeSampleRecordings(const std::string& path, std::uint64_t bytes) {
  FileWriter out(path);
  std::uint64_t written = 0;
  norvale::sample::SampleLayout layout;
  layout.days = 30;
  layout.firstYear = 2010;
  layout.firstMonth = 1;
  for (int chunk = 0; written < bytes; ++chunk) {
    // Days run on from 2010 and wrap within the years the recorders' times may carry.
    layout.firstDay = 1 + (chunk * layout.days) % 3600;
    layout.seed = static_cast<std::uint32_t>(chunk + 1);
    const auto image = norvale::sample::buildSampleImage(layout);
    const std::uint64_t n = std::min<std::uint64_t>(image.bytes.size(), bytes - written);
    out.write(std::span(image.bytes.data(), static_cast<std::size_t>(n)));
    written += n;
  }
  return out.ok();
}

// The image of an entry, built into the corpus folder unless it is there already.
std::optional<std::string> corpusImage(const CorpusEntry& e, const fs::path& dir) {
  if (e.kind == ImageKind::Given) return e.path;
  fs::create_directories(dir);
  const std::uint64_t bytes = e.mib << 20;
  const fs::path path = dir / (e.name + "-" + std::to_string(e.mib) + "m-" + kCorpusVersion + ".img");
  std::error_code ec;
  if (fs::exists(path, ec) && fs::file_size(path, ec) == bytes) return path.string();
  const fs::path partial = path.string() + ".partial";
  std::fprintf(stderr, "building %s (%llu MiB)...\n", e.name.c_str(), static_cast<unsigned long long>(e.mib));
  bool ok = true;
  if (e.kind == ImageKind::FileSystem) {
    ok = writeFileSystemImage(partial.string(), bytes, dir);
  } else if (e.kind == ImageKind::Sample) {
    ok = writeSampleRecordings(partial.string(), bytes);
  } else {
    FileWriter out(partial.string());
    if (e.kind == ImageKind::Recorder) {
      norvale::corpus::StreamLayout layout;
      layout.channels = 4 + e.brand % 13;  // 4 to 16 cameras, by brand
      layout.seed = e.brand;
      ok = norvale::corpus::writeRecorderImage(e.brand, layout, bytes, out);
    } else if (e.kind == ImageKind::Dense) {
      norvale::corpus::writeDenseImage(bytes, 300, 5, out);
    } else {
      norvale::corpus::writeRandomImage(bytes, 7, out);
    }
    ok = out.ok() && ok;
  }
  if (!ok) {
    fs::remove(partial, ec);
    return std::nullopt;
  }
  fs::rename(partial, path);
  return path.string();
}

// MB/s of a whole sequential read in 4 MiB pieces.
double plainReadMBps(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::vector<std::uint8_t> block(4 << 20);
  std::uint64_t total = 0;
  const auto t0 = Clock::now();
  for (;;) {
    const ssize_t got = ::read(fd, block.data(), block.size());
    if (got <= 0) break;
    total += static_cast<std::uint64_t>(got);
  }
  const double s = seconds(t0, Clock::now());
  ::close(fd);
  return static_cast<double>(total) / 1e6 / s;
}

class ScanClock final : public norvale::TaskObserver {
 public:
  void onTaskStatus(const norvale::TaskStatus& s) override {
    const auto now = Clock::now();
    if (s.code == norvale::StatusCode::ScanStart) start = end = now;
    if (s.code == norvale::StatusCode::ScanProgress) end = now;
    // The rebuild's message ends the scan phase (the last flush belongs to it).
    if (s.code == norvale::StatusCode::Message && scanning(s)) end = now;
    if (s.code == norvale::StatusCode::ScanProgress || s.code == norvale::StatusCode::ScanStart) found = s.foundCount;
  }
  bool scanning(const norvale::TaskStatus& s) {
    if (s.message.find("构建重组") == std::string::npos || rebuildSeen) return false;
    rebuildSeen = true;
    return true;
  }
  Clock::time_point start{}, end{};
  std::uint64_t found = 0;
  bool rebuildSeen = false;
};

// The task process: scans, rebuilds and loads, then prints its own figures.
int runTask(const std::string& image, std::uint8_t brand, int threads, const std::string& folder) {
  fs::create_directories(folder);
  norvale::DeviceRecord device = norvale::makeImageRecord(image, 0);
  norvale::TaskContext task;
  ScanClock clock;
  norvale::TaskHead head;
  head.description.brand = brand;
  head.description.parseMode = norvale::kParseDeep;
  head.description.length = (device.size + 511) / 512 * 512;
  head.taskFolder = folder;
  head.device = &device;
  head.scan.threads = threads;
  task.describe(head);
  const auto t0 = Clock::now();
  auto ran = norvale::runNewTask(task, clock);
  const double whole = seconds(t0, Clock::now());
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%.4f %.4f %llu %zu %ld %d\n", seconds(clock.start, clock.end), whole,
              static_cast<unsigned long long>(clock.found), task.fileMap.size(), usage.ru_maxrss,
              ran ? 1 : 0);
  return ran ? 0 : 1;
}

struct TaskFigures {
  double scanSeconds = 0, taskSeconds = 0, processSeconds = 0;
  unsigned long long records = 0;
  std::size_t files = 0;
  long peakKiB = 0;
  bool ok = false;
};

TaskFigures spawnTask(const std::string& self, const std::string& image, std::uint8_t brand, int threads,
                      const std::string& folder) {
  TaskFigures f;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return f;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  const std::string brandText = std::to_string(brand), threadText = std::to_string(threads);
  std::vector<char*> args = {const_cast<char*>(self.c_str()), const_cast<char*>("--run-task"),
                             const_cast<char*>(image.c_str()), const_cast<char*>(brandText.c_str()),
                             const_cast<char*>(threadText.c_str()), const_cast<char*>(folder.c_str()), nullptr};
  pid_t child = 0;
  const auto t0 = Clock::now();
  const int spawned = posix_spawn(&child, self.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (spawned != 0) {
    close(pipeFds[0]);
    return f;
  }
  std::string text;
  char buf[256];
  for (ssize_t got; (got = read(pipeFds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(got));
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  f.processSeconds = seconds(t0, Clock::now());
  int ok = 0;
  if (std::sscanf(text.c_str(), "%lf %lf %llu %zu %ld %d", &f.scanSeconds, &f.taskSeconds, &f.records, &f.files,
                  &f.peakKiB, &ok) == 6)
    f.ok = ok == 1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  fs::remove_all(folder);
  return f;
}

std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

struct Row {
  CorpusEntry entry;
  double imageMB = 0, readMBps = 0;
  TaskFigures task;
  std::string load;
};

}  // namespace

int main(int argc, char** argv) {
  // Recorder times are local wall times; the corpus and the scan must read them alike.
  if (!std::getenv("TZ")) setenv("TZ", "Asia/Shanghai", 1);
  if (argc == 2 && !std::strcmp(argv[1], "--version")) {
    std::printf("%s\n", norvale::versionLine("norvale-bench").c_str());
    return 0;
  }
  if (argc == 6 && !std::strcmp(argv[1], "--run-task"))
    return runTask(argv[2], static_cast<std::uint8_t>(std::atoi(argv[3])), std::atoi(argv[4]), argv[5]);

  std::vector<CorpusEntry> chosen;
  std::string image;
  int brand = 18;
  int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  int repeat = 3;
  bool json = false, list = false;
  std::optional<std::uint64_t> sizeMib;
  fs::path corpusDir = "/tmp/norvale-bench-corpus";
  auto usage = [] {
    std::fprintf(stderr,
                 "usage: norvale-bench [--corpus NAME[:MIB],...|all] [--image PATH --brand N] [--threads N]\n"
                 "                     [--repeat N] [--json] [--corpus-dir DIR] [--size-mib N] [--list]\n");
    return 2;
  };
  std::string corpusSpec;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (a == "--corpus" && more) corpusSpec = argv[++i];
    else if (a == "--image" && more) image = argv[++i];
    else if (a == "--brand" && more) brand = std::atoi(argv[++i]);
    else if (a == "--threads" && more) threads = std::atoi(argv[++i]);
    else if (a == "--repeat" && more) repeat = std::max(1, std::atoi(argv[++i]));
    else if (a == "--corpus-dir" && more) corpusDir = argv[++i];
    else if (a == "--size-mib" && more) sizeMib = std::stoull(argv[++i]);
    else if (a == "--json") json = true;
    else if (a == "--list") list = true;
    else return usage();
  }
  if (brand < 1 || brand > 48 || threads < 1) return usage();
  if (list) {
    for (const auto& e : defaultCorpus())
      std::printf("%-8s brand %2d  %5llu MiB\n", e.name.c_str(), e.brand, static_cast<unsigned long long>(e.mib));
    return 0;
  }
  if (!image.empty()) {
    chosen.push_back({fs::path(image).filename().string(), ImageKind::Given, static_cast<std::uint8_t>(brand), 0, image});
  } else if (corpusSpec.empty() || corpusSpec == "all") {
    chosen = defaultCorpus();
  } else {
    std::stringstream names(corpusSpec);
    for (std::string name; std::getline(names, name, ',');) {
      auto e = corpusEntry(name);
      if (!e) {
        std::fprintf(stderr, "no corpus image named %s (see --list)\n", name.c_str());
        return 2;
      }
      chosen.push_back(*e);
    }
  }
  if (sizeMib)
    for (auto& e : chosen) e.mib = *sizeMib;

  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const fs::path work = fs::temp_directory_path() / ("norvale-bench-" + std::to_string(getpid()));
  std::vector<Row> rows;
  for (const auto& e : chosen) {
    const auto path = corpusImage(e, corpusDir);
    if (!path) {
      std::fprintf(stderr, "cannot build the image %s\n", e.name.c_str());
      return 1;
    }
    Row row;
    row.entry = e;
    row.imageMB = static_cast<double>(fs::file_size(*path)) / 1e6;
    row.load = loadAverage();
    plainReadMBps(*path);  // into the page cache
    for (int r = 0; r < repeat; ++r) row.readMBps = std::max(row.readMBps, plainReadMBps(*path));
    for (int r = 0; r < repeat; ++r) {
      TaskFigures f = spawnTask(self, *path, e.brand, threads, (work / "task").string());
      if (!f.ok) {
        std::fprintf(stderr, "the task on %s failed\n", e.name.c_str());
        return 1;
      }
      if (r == 0 || f.processSeconds < row.task.processSeconds) {
        const double bestScan = r == 0 ? f.scanSeconds : std::min(row.task.scanSeconds, f.scanSeconds);
        const long peak = std::max(row.task.peakKiB, f.peakKiB);
        row.task = f;
        row.task.scanSeconds = bestScan;
        row.task.peakKiB = peak;
      } else {
        row.task.scanSeconds = std::min(row.task.scanSeconds, f.scanSeconds);
        row.task.peakKiB = std::max(row.task.peakKiB, f.peakKiB);
      }
    }
    rows.push_back(row);
    if (!json) {
      if (rows.size() == 1)
        std::printf("%-9s %6s %3s %9s %9s %9s %6s %6s %8s %9s %6s  %s\n", "image", "MB", "br", "read MB/s",
                    "scan MB/s", "task MB/s", "scan/r", "task/r", "peak MiB", "records", "files", "load");
      const auto& t = row.task;
      std::printf("%-9s %6.0f %3d %9.0f %9.0f %9.0f %6.2f %6.2f %8.0f %9llu %6zu  %s\n", e.name.c_str(), row.imageMB,
                  e.brand, row.readMBps, row.imageMB / t.scanSeconds, row.imageMB / t.processSeconds,
                  row.imageMB / t.scanSeconds / row.readMBps, row.imageMB / t.processSeconds / row.readMBps,
                  static_cast<double>(t.peakKiB) / 1024.0, t.records, t.files, row.load.c_str());
      std::fflush(stdout);
    }
  }
  if (json) {
    std::printf("{\"threads\": %d, \"repeat\": %d, \"cores\": %u, \"images\": [", threads, repeat,
                std::thread::hardware_concurrency());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const auto& r = rows[i];
      const auto& t = r.task;
      std::printf("%s\n {\"name\": \"%s\", \"brand\": %d, \"mb\": %.1f, \"read_mbps\": %.1f, \"scan_mbps\": %.1f, "
                  "\"task_mbps\": %.1f, \"scan_ratio\": %.3f, \"task_ratio\": %.3f, \"scan_seconds\": %.3f, "
                  "\"task_seconds\": %.3f, \"peak_rss_mib\": %.1f, \"records\": %llu, \"files\": %zu, "
                  "\"load\": \"%s\"}",
                  i ? "," : "", r.entry.name.c_str(), r.entry.brand, r.imageMB, r.readMBps, r.imageMB / t.scanSeconds,
                  r.imageMB / t.processSeconds, r.imageMB / t.scanSeconds / r.readMBps,
                  r.imageMB / t.processSeconds / r.readMBps, t.scanSeconds, t.processSeconds,
                  static_cast<double>(t.peakKiB) / 1024.0, t.records, t.files, r.load.c_str());
    }
    std::printf("\n]}\n");
  }
  fs::remove_all(work);
  return 0;
}
