#include "support/disk_tools.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace norvale::test {
namespace {

std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string findTool(const std::string& name) {
  std::vector<std::string> dirs;
  if (const char* path = std::getenv("PATH")) {
    std::stringstream in(path);
    std::string dir;
    while (std::getline(in, dir, ':'))
      if (!dir.empty()) dirs.push_back(dir);
  }
  for (const char* extra : {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}) dirs.emplace_back(extra);
  for (const auto& dir : dirs) {
    const std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

ToolRun runTool(const std::vector<std::string>& argv, const std::string& input) {
  ToolRun run;
  if (argv.empty()) return run;
  const std::string tool = argv[0].find('/') == std::string::npos ? findTool(argv[0]) : argv[0];
  if (tool.empty()) {
    run.status = 127;
    run.output = argv[0] + " is not installed: install the packages of tools/apt-packages.txt (tools/install-deps.sh)";
    return run;
  }
  char inName[] = "/tmp/norvale-tool-in-XXXXXX";
  char outName[] = "/tmp/norvale-tool-out-XXXXXX";
  const int inFd = ::mkstemp(inName);
  const int outFd = ::mkstemp(outName);
  if (inFd < 0 || outFd < 0) throw std::runtime_error("cannot create temporary files");
  if (!input.empty() && ::write(inFd, input.data(), input.size()) != static_cast<ssize_t>(input.size()))
    throw std::runtime_error("cannot write tool input");
  ::close(inFd);
  ::close(outFd);
  std::string command = shellQuote(tool);
  for (std::size_t i = 1; i < argv.size(); ++i) command += " " + shellQuote(argv[i]);
  command += " <" + shellQuote(inName) + " >" + shellQuote(outName) + " 2>&1";
  const int raw = std::system(command.c_str());
  run.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.output = slurp(outName);
  ::unlink(inName);
  ::unlink(outName);
  return run;
}

void makeSparseFile(const std::string& path, std::uint64_t size) {
  { std::ofstream create(path, std::ios::binary | std::ios::app); }
  std::filesystem::resize_file(path, size);
}

void truncateFile(const std::string& path, std::uint64_t size) { std::filesystem::resize_file(path, size); }

void copyInto(const std::string& from, const std::string& to, std::uint64_t at) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = ::open(to.c_str(), O_WRONLY | O_CLOEXEC);
  if (in < 0 || out < 0) throw std::runtime_error("cannot open " + from + " or " + to);
  struct stat st {};
  ::fstat(in, &st);
  const off_t end = st.st_size;
  std::vector<char> block(1 << 16);
  off_t pos = 0;
  while (pos < end) {
    // Jump over holes where the file system can say where the data is.
    off_t data = ::lseek(in, pos, SEEK_DATA);
    if (data < 0) break;  // no more data (or no SEEK_DATA: then the plain loop below copies all)
    off_t hole = ::lseek(in, data, SEEK_HOLE);
    if (hole < 0) hole = end;
    for (off_t p = data; p < hole;) {
      const auto n = ::pread(in, block.data(), std::min<off_t>(static_cast<off_t>(block.size()), hole - p), p);
      if (n <= 0) throw std::runtime_error("cannot read " + from);
      if (std::any_of(block.begin(), block.begin() + n, [](char c) { return c != 0; }))
        if (::pwrite(out, block.data(), static_cast<std::size_t>(n), static_cast<off_t>(at) + p) != n)
          throw std::runtime_error("cannot write " + to);
      p += n;
    }
    pos = hole;
  }
  ::close(in);
  ::close(out);
}

std::vector<TablePartition> sfdiskPartitions(const std::string& image) {
  const ToolRun run = runTool({"sfdisk", "--json", image});
  if (!run.ok()) throw std::runtime_error("sfdisk --json failed: " + run.output);
  // Each partition is one object: {"node": "...", "start": N, "size": N, "type": "x", ...}
  std::vector<TablePartition> parts;
  static const std::regex object(R"(\{[^{}]*"start":\s*(\d+),\s*"size":\s*(\d+),\s*"type":\s*"([^"]*)\"[^{}]*\})");
  for (std::sregex_iterator it(run.output.begin(), run.output.end(), object), end; it != end; ++it)
    parts.push_back({std::stoull((*it)[1]), std::stoull((*it)[2]), (*it)[3]});
  return parts;
}

std::string blkidType(const std::string& image, std::uint64_t offset) {
  const ToolRun run = runTool({"blkid", "-p", "-O", std::to_string(offset), "-o", "value", "-s", "TYPE", image});
  std::string type = run.output;
  while (!type.empty() && (type.back() == '\n' || type.back() == ' ')) type.pop_back();
  return run.ok() ? type : std::string{};
}

}  // namespace norvale::test
