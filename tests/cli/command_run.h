#pragma once
// Runs a command as main() does, with its standard output and error captured.
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace norvale::test {

struct CommandRun {
  int status = -1;
  std::string out, err;
};

// Runs a command as main() does, with its standard output and error captured; a lambda can pass
// the command a test's probe or faults.
inline CommandRun runWith(const std::function<int(int, char**)>& command, std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  auto* oldOut = std::cout.rdbuf(out.rdbuf());
  auto* oldErr = std::cerr.rdbuf(err.rdbuf());
  CommandRun r;
  r.status = command(static_cast<int>(argv.size()), argv.data());
  std::cout.rdbuf(oldOut);
  std::cerr.rdbuf(oldErr);
  r.out = out.str();
  r.err = err.str();
  return r;
}

inline CommandRun run(int (*command)(int, char**), std::vector<std::string> args) {
  return runWith(command, std::move(args));
}

}  // namespace norvale::test
