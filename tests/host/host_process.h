// Runs the built zelka-host as a separate process, with a given stdin, and collects its
// stdout, stderr and exit status. Every run is bounded by a time-out so that a host that
// hangs fails the test instead of stopping the suite.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace zelka::testing {

struct HostResult {
  int status = -1;  // exit status; -1 when the process did not exit normally
  std::string out;
  std::string err;
};

inline std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

inline std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string hostBinary() { return std::string(ZELKA_BINARY_DIR) + "/zelka-host"; }

// Runs zelka-host with the arguments (already quoted where needed) in `workDir`, feeding
// `input` on stdin. A launcher, when given, runs the host (for example as another user).
inline HostResult runHostProcess(const std::string& workDir, const std::string& arguments,
                                 const std::string& input = {},
                                 const std::string& launcher = {}) {
  const std::string inputPath = workDir + "/.host-stdin";
  const std::string errPath = workDir + "/.host-stderr";
  {
    std::ofstream in(inputPath, std::ios::binary);
    in << input;
  }
  const std::string command = "cd " + quoted(workDir) + " && timeout 120 " + launcher +
                              (launcher.empty() ? "" : " ") + quoted(hostBinary()) + " " +
                              arguments + " < " +
                              quoted(inputPath) + " 2> " + quoted(errPath);
  HostResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(errPath, std::ios::binary);
  result.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  std::error_code ignored;
  std::filesystem::remove(inputPath, ignored);
  std::filesystem::remove(errPath, ignored);
  return result;
}

}  // namespace zelka::testing
