// zelka-host check: what a load would read, reported without touching the ghost.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "host/host_ghost.h"
#include "host/host_process.h"

namespace zelka {
namespace {

using testing::HostResult;
using testing::quoted;
using testing::runHostProcess;
using testing::sjis;
using testing::TempDir;
using testing::TempGhost;

// Every file below the directory with its content and modification time.
std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> snapshot(
    const std::string& dir) {
  std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    files[entry.path().string()] = {
        entry.is_regular_file() ? testing::readWholeFile(entry.path().string()) : "<dir>",
        entry.last_write_time()};
  }
  return files;
}

class GhostCheckTest : public ::testing::Test {
 protected:
  GhostCheckTest()
      : ghost(sjis("<?xml version='1.0' encoding='Shift_JIS'?>\n"
                   "<ZelkaConfiguration>\n"
                   "  <GhostProfile ghost_name=\"エミリ\" talk_interval=\"60\" think_wait=\"\"/>\n"
                   "  <RunEnvironment runlevel=\"2\">\n"
                   "    <Directory type=\"vender\" name=\"vender/\"/>\n"
                   "  </RunEnvironment>\n"
                   "  <DefaultCategory><Define type=\"me\" category=\"果物\"/></DefaultCategory>\n"
                   "  <EventRename><Rename name=\"OnBoot\" rename=\"OnStart\"/>"
                   "<Rename name=\"OnX\"/></EventRename>\n"
                   "</ZelkaConfiguration>\n")) {
    const std::string header = "[ZELKA KNOWLEDGE 2.0]\n";
    ghost.write("vender/good.tlk", header + sjis("{\ntoken: OnBoot\nscript: やあ\nscript: ほい\n}\n"
                                                 "{\ntoken: OnClose\nscript: またね\n}\n"));
    ghost.write("vender/broken.tlk", "[ZELKA KNOWLEDGE 1.0]\n{\ntoken: OnBoot\n}\n");
    ghost.write("vender/bom.tlk", "\xEF\xBB\xBF" + header);
    ghost.write("vender/open.tlk", header + "{\ntoken: OnOpen\nscript: a\n}\n{\ntoken: OnLost\n");
    ghost.write("vender/bytes.tlk", header + "{\ntoken: OnBytes\nscript: ab\x85\x40z\n}\n");
    ghost.write("vender/named.tlc", header + "{\ntoken: OnNamed\n}\n");
    ghost.write("vender/empty.tlk", "");
    ghost.write("vender/words.mem", sjis("[ZELKA DICTIONARY]\n[果物]\nりんご みかん\nぶどう\n"));
    ghost.write("vender/wrong.mem", "[ZELKA DICTIONARY] \napple\n");
    ghost.write("_learning/bind.xml",
                "<?xml version='1.0' encoding='Shift_JIS'?>\n"
                "<Bind name=\"root\" total=\"2\"><Bind name=\"a\" distance=\"0\" total=\"1\">"
                "<Bind name=\"b\" distance=\"0\" total=\"0\"/></Bind>"
                "<Bind name=\"c\" distance=\"0\" total=\"0\"/></Bind>\n");
    ghost.write("_learning/index.xml",
                "<?xml version='1.0' encoding='Shift_JIS'?>\n<WordIndexes>"
                "<Index name=\"a\"><Alias name=\"NEUR1\"/><Alias name=\"NEUR2\"/></Index>"
                "<Index name=\"b\"><Alias name=\"NEUR1\"/></Index></WordIndexes>\n");
    ghost.write("_learning/neuron.xml", "<?xml version='1.0'?>\n<NeuronStructure><Neuron");
    ghost.write("_learning/reflex.txt", "a\x01\"1\"\nb\x01\"2\"\n");
  }

  HostResult check() { return runHostProcess(work.path(), "check " + quoted(ghost.dir())); }

  TempGhost ghost;
  TempDir work;
};

TEST_F(GhostCheckTest, ReportsEveryFileWithItsReasonAndChangesNothing) {
  const auto before = snapshot(ghost.dir());
  HostResult run = check();
  EXPECT_EQ(snapshot(ghost.dir()), before);
  EXPECT_EQ(run.status, 1);

  const std::string expected[] = {
      // The configuration, defaults marked.
      "  ghost_name          エミリ      \n",
      "  ghost_id            zelka       (default)\n",
      "  think_wait          5           (default)\n",
      "  talk_interval       60          \n",
      "  runlevel            2           : zelka.log in the current directory\n",
      "  learning directory  _learning/  (default) -> " + ghost.dir() + "_learning/\n",
      "  category me         果物        \n",
      "  category mt         技          (default)\n",
      "  event rename: name=\"OnBoot\" rename=\"OnStart\"\n",
      "  ! event rename <Rename> lacks rename: the load skips it\n",
      "  reference separation: none\n",
      // Knowledge files, read or rejected and why.
      "  good.tlk: read, 2 blocks, 3 entries\n",
      "  ! broken.tlk: header: the first line is \"[ZELKA KNOWLEDGE 1.0]\", not "
      "[ZELKA KNOWLEDGE 2.0]\n",
      "  ! bom.tlk: header: the file begins with a UTF-8 byte order mark",
      "  open.tlk: read, 1 block, 1 entry\n"
      "  ! open.tlk: 1 brace left open at the end of the file: the unclosed block is lost\n",
      "  ! bytes.tlk: line 4: byte 0x85 at column 11 is not Shift_JIS; the line is lost from "
      "there on\n",
      "  ! named.tlc: header: the file is plain text but named .tlc",
      "  ! empty.tlk: the file is empty\n",
      // Entries per token, across all files.
      "Entries per token (4 tokens, 5 entries)\n",
      "  OnBoot                          2\n",
      "  OnOpen                          1\n",
      // Dictionaries.
      "  words.mem: 1 categories, 2 word groups, 3 words; imported and moved to learned/ at "
      "the next load\n",
      "  ! wrong.mem: the file is empty, unreadable or its first line is not [ZELKA DICTIONARY]",
      // Learned stores, counted read-only.
      "  bind.xml: 3 Bind nodes\n",
      "  index.xml: 2 words (3 aliases)\n",
      "  journal.xml: missing (the next load creates it)\n",
      "  neuron.xml: does not parse (the next load sets it aside and starts afresh)\n",
      "  reflex.txt: 2 variables\n",
      "9 problems found (marked !).\n",
  };
  for (const std::string& line : expected) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n---\n" << run.out;
  }
}

TEST(GhostCheckFailureTest, MissingOrBrokenConfigurationMeansTheLoadWouldFail) {
  TempDir work;
  TempGhost noConfig("");
  HostResult missing = runHostProcess(work.path(), "check " + quoted(noConfig.dir()));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("  ! the file is missing\n"), std::string::npos) << missing.out;
  EXPECT_NE(missing.out.find("A load would fail"), std::string::npos);

  TempGhost broken("<ZelkaConfiguration><GhostProfile");
  HostResult unreadable = runHostProcess(work.path(), "check " + quoted(broken.dir()));
  EXPECT_EQ(unreadable.status, 1);
  EXPECT_NE(unreadable.out.find("  ! the file cannot be read as XML"), std::string::npos);

  HostResult nowhere = runHostProcess(work.path(), "check " + quoted(work.file("nowhere")));
  EXPECT_EQ(nowhere.status, 1);
  EXPECT_EQ(nowhere.out, "zelka-host: no ghost directory at " + work.file("nowhere") + "\n");
}

TEST(GhostCheckFailureTest, AGhostWithoutProblemsPasses) {
  testing::HostGhost g;
  HostResult run = runHostProcess(g.work.path(), "check " + quoted(g.dir()));
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("No problems found.\n"), std::string::npos);
  EXPECT_NE(run.out.find("  bind.xml: missing (the next load creates it)\n"), std::string::npos);
}

}  // namespace
}  // namespace zelka
