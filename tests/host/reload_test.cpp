// :reload and --watch: a knowledge file edited while the session runs is read again, and the
// session goes on with its sender. The session is driven line by line from a bash coprocess,
// which edits the file only after the host has answered the line before.
#include <gtest/gtest.h>

#include <cstdio>

#include "host/host_ghost.h"
#include "host/host_process.h"

namespace zelka {
namespace {

using testing::HostGhost;
using testing::quoted;

// Runs `steps` against the host: `say LINE N` sends a line and copies N lines of output,
// `edit TEXT` writes vender/probe.tlk with the token Probe answering TEXT. Answers all output.
std::string driveSession(const HostGhost& g, const std::string& options, const std::string& steps) {
  const std::string script =
      "set -e\n"
      "coproc H { " + quoted(testing::hostBinary()) + " --play - --no-boot --no-color " +
      options + " " + quoted(g.dir()) + " 2>&1; }\n"
      "say() { echo \"$1\" >&\"${H[1]}\"; for ((n = 0; n < $2; n++)); do "
      "IFS= read -r line <&\"${H[0]}\"; echo \"$line\"; done; }\n"
      "edit() { printf '[ZELKA KNOWLEDGE 2.0]\\n{\\ntoken: Probe\\nscript: %s\\n}\\n' \"$1\" > " +
      quoted(g.dir() + "vender/probe.tlk") + "; }\n" + steps +
      "exec {H[1]}>&-\n"
      "cat <&\"${H[0]}\"\n"
      "wait\n";
  g.work.write("drive.sh", script);
  const std::string command = "cd " + quoted(g.work.path()) + " && timeout 120 bash drive.sh 2>&1";
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

std::string reloadNote(const std::string& why) {
  return "(" + why + ": the knowledge files were read again; what the ghost learned, its "
         "variables, the sender and the clock are kept)\n";
}

TEST(ReloadTest, AnEditedKnowledgeFileIsReadAgainAndTheSessionGoesOn) {
  const std::string changed = reloadNote("a file in the vendor folder changed");
  const std::string start =
      "> :sender Alice\n(plain lines now come from Alice)\n> :tick 2\n"
      "(2 seconds passed without talk)\n";
  const std::string end = "> 元気？\nエミリ: 「元気？」とAliceさんが言った。\n";
  struct Row {
    const char* options;
    const char* steps;
    std::string expected;
  };
  const Row rows[] = {
      {"",
       "say ':word %token[Probe]' 2\nsay :reload 2\nsay ':word %token[Probe]' 2\n",
       "> :word %token[Probe]\n= \"\"\n> :reload\n" + reloadNote("reloaded") +
           "> :word %token[Probe]\n= one\n"},
      // Each edit is noticed before the next line runs (the sizes differ, so an edit within
      // the file system's time granularity is still seen).
      {"--watch",
       "say ':word %token[Probe]' 3\nedit second\nsay ':word %token[Probe]' 3\n",
       "> :word %token[Probe]\n" + changed + "= one\n> :word %token[Probe]\n" + changed +
           "= second\n"},
  };
  for (const Row& row : rows) {
    HostGhost g;
    const std::string out = driveSession(
        g, row.options,
        std::string("say ':sender Alice' 2\nsay ':tick 2' 2\nedit one\n") + row.steps +
            "say 元気？ 2\n");
    EXPECT_EQ(out, start + row.expected + end) << row.options;
  }
}

}  // namespace
}  // namespace zelka
