// zelka-host tells the author what the module reports went wrong: at load, below the talk
// that caused it, at unload; and it exits 3 when something learned could not be saved.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "host/host_ghost.h"
#include "host/host_process.h"

namespace zelka {
namespace {

using testing::HostGhost;
using testing::HostResult;
using testing::quoted;
using testing::runHostProcess;
using testing::sjis;

const std::string kReflexGloss =
    "\"%reflex[]\" gives the error report \"cannot substitute; check how it is written\": a "
    "required body is missing or empty, a list has the wrong number of items, a query found "
    "nothing, or a backslash element is not defined";

// The host ghost with a script error on line 4 of vender/bad.tlk and a refused file.
struct FaultyGhost : HostGhost {
  FaultyGhost() {
    ghost.write("vender/bad.tlk", sjis("[ZELKA KNOWLEDGE 2.0]\n{\ntoken: OnBad\n"
                                       "script: 前%reflex[]後\n}\n"));
    ghost.write("vender/wrong.tlk", "no header\n");
  }
};

TEST(ModuleProblemsTest, ASessionShowsEachProblemWhereItHappens) {
  FaultyGhost g;
  g.work.write("session.play", ":event OnBad\n:event OnBad\n");
  HostResult run =
      runHostProcess(g.work.path(), "--play session.play --no-boot " + quoted(g.dir()));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "! error: vender/wrong.tlk:1: the knowledge file was not read: its first line is not "
            "exactly \"[ZELKA KNOWLEDGE 2.0]\"; none of its talk is in use\n"
            "> :event OnBad\n"
            "エミリ: 前\n"
            "        <!-- Zelka Script Error\n"
            "        %reflex[]\n"
            "        置換できません。\n"
            "        記述方法を確認してください。\n"
            "        -->\n"
            "        後\n"
            "! error: vender/bad.tlk:4: script error in OnBad: " + kReflexGloss + "\n"
            "> :event OnBad\n"
            "エミリ: 前\n"
            "        <!-- Zelka Script Error\n"
            "        %reflex[]\n"
            "        置換できません。\n"
            "        記述方法を確認してください。\n"
            "        -->\n"
            "        後\n"
            "! warning: vender/bad.tlk:4: the script error \"%reflex[]\" in OnBad happened 1 "
            "more time in this session\n");
}

TEST(ModuleProblemsTest, PipeModeKeepsItsOutputToTheResponses) {
  FaultyGhost g;
  const std::string request =
      "GET Sentence SHIORI/2.2\r\nSender: t\r\nEvent: OnEcho\r\nReference0: a\r\n\r\n";
  HostResult run = runHostProcess(g.work.path(), "--pipe " + quoted(g.dir()), request);
  EXPECT_EQ(run.status, 0) << run.err;
  // Exactly one response, nothing else.
  EXPECT_EQ(run.out.rfind("SHIORI/2.6 200 OK\r\n", 0), 0u) << run.out;
  EXPECT_EQ(run.out.find("SHIORI/", 1), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\r\nSentence: echo=a/\r\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.substr(run.out.size() - 4), "\r\n\r\n");
  EXPECT_EQ(run.err,
            "zelka: error: vender/wrong.tlk:1: the knowledge file was not read: its first line "
            "is not exactly \"[ZELKA KNOWLEDGE 2.0]\"; none of its talk is in use\n");
}

TEST(ModuleProblemsTest, AReadOnlyLearningDirectoryFailsTheSession) {
  HostGhost g;
  // A first session creates the stores.
  g.work.write("session.play", "こんにちは\n");
  ASSERT_EQ(runHostProcess(g.work.path(), "--play session.play " + quoted(g.dir())).status, 0);

  namespace fs = std::filesystem;
  const fs::path learning = g.dir() + "_learning";
  std::string launcher;
  if (geteuid() == 0) {
    // Root writes anywhere: the host runs as nobody, who can read the ghost but not write it.
    for (const fs::path& p : {fs::path(g.dir()), fs::path(g.work.path())}) {
      fs::permissions(p, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    }
    launcher = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    const std::string probe = launcher + " test -x " + quoted(testing::hostBinary()) +
                              " -a -r " + quoted(g.dir() + "zelkaconf.xml") + " 2>/dev/null";
    if (std::system(probe.c_str()) != 0) GTEST_SKIP() << "cannot run the host as nobody";
  }
  fs::permissions(learning, fs::perms::owner_write | fs::perms::group_write |
                                fs::perms::others_write,
                  fs::perm_options::remove);
  HostResult run =
      runHostProcess(g.work.path(), "--play session.play --no-boot " + quoted(g.dir()), {},
                     launcher);
  fs::permissions(learning, fs::perms::owner_write, fs::perm_options::add);

  EXPECT_EQ(run.status, 3) << run.out << run.err;
  EXPECT_EQ(run.err, "zelka-host: something the ghost learned could not be saved (see above)\n");
  EXPECT_NE(run.out.find("! critical: _learning/bind.xml: cannot be written (is the learning "
                         "directory writable, the disk not full?); what the ghost learned in "
                         "it this session is lost, the file keeps what it held before\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("! critical: _learning/reflex.txt: cannot be written"),
            std::string::npos);
}

}  // namespace
}  // namespace zelka
