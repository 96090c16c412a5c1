// Runs the real talven binary for tests that drive it from the outside:
// tools, headless games in folders the test writes.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace talven::test {

struct BinaryRun {
  int status = -1;  // exit status, -1 when it did not exit normally
  std::string out;  // standard output and standard error together
};

inline BinaryRun run_talven(const std::string& args) {
  BinaryRun r;
  std::string cmd = std::string(TALVEN_BINARY) + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int w = pclose(p);
  r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
  return r;
}

}  // namespace talven::test
