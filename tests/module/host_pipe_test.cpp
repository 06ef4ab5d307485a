// zelka-host in pipe mode, run as a separate process on a temporary ghost.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "support/ghost_fixture.h"

namespace zelka {
namespace {

using testing::TempGhost;
using testing::makeConfig;

struct HostRun {
  int status = -1;
  std::string out;
};

// Runs zelka-host with the arguments, feeding `input` on stdin; stderr is discarded.
HostRun runHost(const TempGhost& scratch, const std::string& arguments, const std::string& input) {
  std::string inputPath = scratch.path("host-input");
  {
    std::ofstream in(inputPath, std::ios::binary);
    in << input;
  }
  std::string command = "cd '" + scratch.dir() + "' && '" + std::string(ZELKA_BINARY_DIR) +
                        "/zelka-host' " + arguments + " < '" + inputPath + "' 2>/dev/null";
  HostRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(HostPipeTest, RequestsSeparatedByEmptyLinesGetRawResponses) {
  TempGhost ghost(makeConfig());
  // LF and CR LF line ends mixed; blank lines between requests and at the end are skipped;
  // the last request needs no empty line after it.
  std::string input =
      "GET Version SHIORI/2.0\nSender: t\n\n\n"
      "GET Status SHIORI/2.0\r\n\r\n"
      "NOTIFY SHIORI/2.0\nGhost: Someone";
  HostRun run = runHost(ghost, "--pipe '" + ghost.dir() + "'", input);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "SHIORI/2.6 200 OK\r\nLocale: Japanese\r\nLanguage: Japanese\r\nCharset: Shift_JIS\r\n\r\n"
            "SHIORI/2.6 200 OK\r\nStatus: 0,0,0,0,0,0\r\nCharset: Shift_JIS\r\n\r\n"
            "SHIORI/2.6 200 OK\r\nCharset: Shift_JIS\r\n\r\n");
  // The session was unloaded: the variables were saved.
  EXPECT_TRUE(ghost.exists("_learning/reflex.txt"));
}

TEST(HostPipeTest, PipeModeIsTheDefaultForRedirectedInputAndTheSlashIsAdded) {
  TempGhost ghost(makeConfig());
  std::string dir = ghost.dir().substr(0, ghost.dir().size() - 1);
  HostRun run = runHost(ghost, "'" + dir + "'", "GET Status SHIORI/2.0\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "SHIORI/2.6 200 OK\r\nStatus: 0,0,0,0,0,0\r\nCharset: Shift_JIS\r\n\r\n");
}

TEST(HostPipeTest, FailedLoadOrMissingModuleExitsNonZero) {
  TempGhost ghost("");   // no configuration
  HostRun failed = runHost(ghost, "--pipe '" + ghost.dir() + "'", "GET Status SHIORI/2.0\n");
  EXPECT_NE(failed.status, 0);
  EXPECT_EQ(failed.out, "");
  HostRun missing =
      runHost(ghost, "--pipe --module '" + ghost.dir() + "none.so' '" + ghost.dir() + "'", "");
  EXPECT_NE(missing.status, 0);
  HostRun usage = runHost(ghost, "--pipe", "");
  EXPECT_NE(usage.status, 0);
}

}  // namespace
}  // namespace zelka
