// A clip of one hour of every channel against the conversion of the same whole files, on a
// recorder image of 16 cameras recording for two hours (the sample clip looped, brand 18
// packets). Each command runs as its own norvale-cli process; the bench prints its wall time
// (best of --repeat) and the bytes it read (the process's rchar).
//   norvale-clip-bench --cli PATH [--dir DIR] [--channels N] [--hours N] [--repeat N]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "sample/sample_image.h"

namespace fs = std::filesystem;
using namespace norvale;

namespace {

// The image: every channel records from 08:00:00 for `hours`, its packets interleaved with the
// other channels' second by second, the clip's frames looped (a key frame each second).
bool writeImage(const std::string& path, int channels, int hours) {
  const auto units = sample::splitNalUnits(sample::clip());
  std::vector<std::vector<std::vector<std::uint8_t>>> frames(1);  // frame -> its units with start codes
  for (const auto unit : units) {
    std::vector<std::uint8_t> payload{0, 0, 0, 1};
    payload.insert(payload.end(), unit.begin(), unit.end());
    frames.back().push_back(std::move(payload));
    const int type = unit.empty() ? 0 : unit[0] & 0x1F;
    if (type == 1 || type == 5) frames.emplace_back();
  }
  if (frames.back().empty()) frames.pop_back();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<std::uint8_t> buffer(4096, 0x5A);
  const std::uint32_t start = sample::localEpoch(2016, 5, 17, 8, 0, 0);
  for (int second = 0; second < hours * 3600; ++second) {
    for (int ch = 0; ch < channels; ++ch)
      for (int k = 0; k < 25; ++k) {
        // The parameter sets ride with each second's key frame.
        const auto& frame = frames[static_cast<std::size_t>(second * 25 + k) % frames.size()];
        for (const auto& unit : frame)
          sample::appendMultiBrandPacket(buffer, static_cast<std::uint8_t>(ch), start + static_cast<std::uint32_t>(second), unit);
      }
    if (buffer.size() > (8u << 20)) {
      out.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
      buffer.clear();
    }
  }
  sample::appendFollowerMarker(buffer);
  buffer.resize((buffer.size() + 511) / 512 * 512 + 4096, 0x5A);
  out.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
  return static_cast<bool>(out);
}

struct Run {
  double seconds = 0;
  std::uint64_t readBytes = 0;
  int status = -1;
};

// Runs the command; its rchar is read while it is a zombie, before it is reaped.
Run run(const std::vector<std::string>& args) {
  const auto started = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr)) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  Run r;
  siginfo_t info{};
  waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  for (std::string key; io >> key;) {
    std::uint64_t value = 0;
    io >> value;
    if (key == "rchar:") r.readBytes = value;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

Run best(const std::vector<std::string>& args, int repeat, const fs::path& clean) {
  Run b;
  b.seconds = 1e18;
  for (int i = 0; i < repeat; ++i) {
    fs::remove_all(clean);
    const Run r = run(args);
    if (r.status != 0) return r;
    if (r.seconds < b.seconds) b = r;
  }
  return b;
}

std::string value(int argc, char** argv, const char* name, const std::string& fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cli = value(argc, argv, "--cli", "");
  if (cli.empty()) {
    std::cerr << "usage: norvale-clip-bench --cli PATH [--dir DIR] [--channels N] [--hours N] [--repeat N]\n";
    return 2;
  }
  const fs::path dir = value(argc, argv, "--dir", "/tmp/norvale-clip-bench");
  const int channels = std::stoi(value(argc, argv, "--channels", "16"));
  const int hours = std::stoi(value(argc, argv, "--hours", "2"));
  const int repeat = std::stoi(value(argc, argv, "--repeat", "3"));
  setenv("TZ", "Asia/Shanghai", 1);
  fs::create_directories(dir);
  const std::string image = (dir / ("clip-" + std::to_string(channels) + "x" + std::to_string(hours) + "h.img")).string();
  if (!fs::exists(image) && !writeImage(image, channels, hours)) {
    std::cerr << "cannot write " << image << "\n";
    return 1;
  }
  const std::string task = (dir / "task").string();
  fs::remove_all(task);
  const Run scan = run({cli, "scan", "--source", image, "--brand", "18", "--mode", "deep", "--task", task, "--quiet",
                        "--zone", "Asia/Shanghai"});
  if (scan.status != 0) {
    std::cerr << "the scan failed\n";
    return 1;
  }
  // One hour from the middle of the recordings; the conversion takes the files that hour uses.
  const Run clip = best({cli, "clip", "--task", task, "--source", image, "--from", "2016-05-17 08:30:00", "--to",
                         "2016-05-17 09:30:00", "--out", (dir / "clips").string(), "--quiet"},
                        repeat, dir / "clips");
  const Run convert = best({cli, "convert", "--task", task, "--source", image, "--out", (dir / "mp4").string(), "--day",
                            "2016-05-17", "--quiet"},
                           repeat, dir / "mp4");
  if (clip.status != 0 || convert.status != 0) {
    std::cerr << "clip exit " << clip.status << ", convert exit " << convert.status << "\n";
    return 1;
  }
  std::printf("image %.0f MiB, %d channels x %d h\n", static_cast<double>(fs::file_size(image)) / (1 << 20), channels, hours);
  std::printf("clip of 1 h, every channel:  %.2f s, read %.0f MiB\n", clip.seconds, static_cast<double>(clip.readBytes) / (1 << 20));
  std::printf("convert of the whole files:  %.2f s, read %.0f MiB\n", convert.seconds,
              static_cast<double>(convert.readBytes) / (1 << 20));
  return 0;
}
