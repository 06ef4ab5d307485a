// How zelka-host meets bad input outside a session: ghost directories it cannot load and
// bad arguments. (Bad lines inside a session are covered with the play tests.)
#include <gtest/gtest.h>

#include "host/host_ghost.h"
#include "host/host_process.h"

namespace zelka {
namespace {

using testing::HostResult;
using testing::quoted;
using testing::runHostProcess;
using testing::TempDir;
using testing::TempGhost;

TEST(BadInputTest, GhostDirectoryThatDoesNotExistOrHasNoConfiguration) {
  TempDir work;
  work.write("session.play", ":tick\n");
  TempGhost noConfig("");
  TempGhost brokenConfig("<ZelkaConfiguration>");
  const std::string nowhere = work.file("no-such-ghost");
  struct Case {
    std::string mode;
    std::string ghost;
    std::string error;
  } cases[] = {
      {"--play session.play", nowhere, "zelka-host: no ghost directory at " + nowhere + "\n"},
      {"--pipe", nowhere, "zelka-host: no ghost directory at " + nowhere + "\n"},
      {"--interactive", nowhere, "zelka-host: no ghost directory at " + nowhere + "\n"},
      {"--play session.play", noConfig.dir(),
       "zelka-host: " + noConfig.dir() +
           " has no zelkaconf.xml (the ghost's configuration); is it a ghost directory?\n"},
      {"--pipe", noConfig.dir(),
       "zelka-host: " + noConfig.dir() +
           " has no zelkaconf.xml (the ghost's configuration); is it a ghost directory?\n"},
      {"--play session.play", brokenConfig.dir(),
       "zelka-host: " + brokenConfig.dir() + "zelkaconf.xml cannot be read as XML; zelka-host "
       "check " + brokenConfig.dir() + " tells more\n"},
  };
  for (const Case& c : cases) {
    HostResult run = runHostProcess(work.path(), c.mode + " " + quoted(c.ghost), "GET Status SHIORI/2.0\n");
    EXPECT_EQ(run.status, 1) << c.mode << " " << c.ghost;
    EXPECT_EQ(run.out, "") << c.mode << " " << c.ghost;
    EXPECT_EQ(run.err, c.error) << c.mode << " " << c.ghost;
  }
}

TEST(BadInputTest, ModuleThatDoesNotLoadTheGhost) {
  // The configuration is there and parses, but the vendor directory is a file: the load
  // still succeeds; an empty birthday cannot happen with defaults. A module that is not
  // there at all is the failure a host sees.
  testing::HostGhost g;
  HostResult run = runHostProcess(g.work.path(), "--play /dev/null --module " +
                                                     quoted(g.work.file("none.so")) + " " +
                                                     quoted(g.dir()));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("none.so"), std::string::npos) << run.err;
}

TEST(BadInputTest, ArgumentsThatAreRefused) {
  testing::HostGhost g;
  const std::string ghost = quoted(g.dir());
  const std::string cases[] = {
      "",                                      // no ghost
      "--bogus " + ghost,                      // unknown option
      "--play",                                // option without its value
      "--pipe --play x.play " + ghost,         // two modes
      ghost + " " + ghost,                     // two ghosts
      "--sender \"$(printf '\\377')\" " + ghost,  // a sender that is not UTF-8
  };
  for (const std::string& arguments : cases) {
    HostResult run = runHostProcess(g.work.path(), arguments);
    EXPECT_EQ(run.status, 2) << arguments;
    EXPECT_FALSE(run.err.empty()) << arguments;
  }
  HostResult missingPlay = runHostProcess(g.work.path(), "--play missing.play " + ghost);
  EXPECT_EQ(missingPlay.status, 1);
  EXPECT_EQ(missingPlay.err, "zelka-host: cannot read the play file missing.play\n");
}

}  // namespace
}  // namespace zelka
