#pragma once
// Real-tool helpers for the storage tests: run mkfs.*, sfdisk, sgdisk, blkid on sparse image
// files. The tools come from tools/apt-packages.txt; a missing tool is a test failure, never a
// silent pass.
#include <cstdint>
#include <string>
#include <vector>

namespace norvale::test {

// Full path of an external program: PATH first, then /usr/sbin and /sbin (where mkfs and the
// partitioners live, often outside an ordinary user's PATH). Empty when it is not installed.
std::string findTool(const std::string& name);

struct ToolRun {
  int status = -1;     // exit status; 127 when the tool is missing
  std::string output;  // standard output and standard error together
  bool ok() const { return status == 0; }
};

// Runs argv (argv[0] looked up with findTool) with the given standard input; the output is
// captured. A missing tool gives status 127 and an output that says which package to install.
ToolRun runTool(const std::vector<std::string>& argv, const std::string& input = "");

// A sparse file of the given size (created or truncated).
void makeSparseFile(const std::string& path, std::uint64_t size);

// Copies the data of `from` into `to` at byte offset `at`, skipping holes and zero blocks so
// that sparse images stay sparse and the copy stays fast.
void copyInto(const std::string& from, const std::string& to, std::uint64_t at);

// Cuts a file to the given size.
void truncateFile(const std::string& path, std::uint64_t size);

// One partition as `sfdisk --json` reports it.
struct TablePartition {
  std::uint64_t start = 0;  // sectors
  std::uint64_t size = 0;   // sectors
  std::string type;
};
// The partitions of an image as sfdisk reads them (MBR or GPT), in table order.
std::vector<TablePartition> sfdiskPartitions(const std::string& image);

// blkid's TYPE for the file system at a byte offset of an image ("ext4", "vfat", ...), or "".
std::string blkidType(const std::string& image, std::uint64_t offset);

}  // namespace norvale::test
