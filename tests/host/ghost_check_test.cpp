// zelka-host check: what a load would read, reported without touching the ghost.
#include <gtest/gtest.h>

#include <algorithm>
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
                   "  <Protocol version=\"3.1\"/>\n"
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

TEST_F(GhostCheckTest, ReportsWhatALoadReadsThenTheFindingsAndChangesNothing) {
  const auto before = snapshot(ghost.dir());
  HostResult run = check();
  EXPECT_EQ(snapshot(ghost.dir()), before);
  EXPECT_EQ(run.status, 1);

  // What a load reads, then the findings in file order, then the count.
  const std::string expected[] = {
      "  ghost_name          エミリ      \n",
      "  ghost_id            zelka       (default)\n",
      "  think_wait          5           (default)\n",
      "  talk_interval       60          \n",
      "  runlevel            2           : zelka.log in the current directory\n",
      "  learning directory  _learning/  (default) -> " + ghost.dir() + "_learning/\n",
      "  category me         果物        \n",
      "  category mt         技          (default)\n",
      "  protocol            SHIORI/2.x  (default)\n",
      "  event rename: name=\"OnBoot\" rename=\"OnStart\"\n",
      "  reference separation: none\n",
      "  good.tlk: read, 2 blocks, 3 entries\n",
      "  broken.tlk: rejected\n",
      "  open.tlk: read, 1 block, 1 entry\n",
      "Entries per token (4 tokens, 5 entries)\n",
      "  OnBoot                          2\n",
      "  words.mem: 1 categories, 2 word groups, 3 words; imported and moved to learned/ at "
      "the next load\n",
      "  bind.xml: 3 Bind nodes\n",
      "  index.xml: 2 words (3 aliases)\n",
      "  neuron.xml: does not parse (the next load sets it aside and starts afresh)\n",
      "  reflex.txt: 2 variables\n",
      "\nFindings\n"
      "zelkaconf.xml:8: error: <Rename> lacks rename: a load skips it\n",
      "zelkaconf.xml:9: warning: <Protocol version=\"3.1\"> is not 3.0 or 2.x: hosts are told "
      "SHIORI/2.x\n",
      "vender/broken.tlk:1: error: the first line is \"[ZELKA KNOWLEDGE 1.0]\", not "
      "[ZELKA KNOWLEDGE 2.0]; the file is not read\n",
      "vender/bom.tlk: warning: the file is saved as UTF-8: a load reads it converted to "
      "Shift_JIS; save it as Shift_JIS\n",
      "vender/open.tlk:6: error: this block's \"{\" is never closed: the block and everything "
      "after it is lost; a \"}\" is missing at its end\n",
      "vender/bytes.tlk:4:11: error: byte 0x85 is not Shift_JIS: the line is lost from there on\n",
      "vender/named.tlc:1: error: the file is plain text but named .tlc",
      "vender/empty.tlk: error: the file is empty\n",
      // OnBoot is renamed to OnStart, so its talk never runs.
      "vender/good.tlk:2: warning: zelkaconf.xml renames OnBoot to OnStart",
      "vender/wrong.mem:1: error: the file is empty, unreadable or its first line is not exactly "
      "[ZELKA DICTIONARY]",
      "_learning/neuron.xml: error: the store cannot be read",
      "\n8 errors, 5 warnings.\n",
  };
  for (const std::string& line : expected) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n---\n" << run.out;
  }
}

// Input a linter must survive: each gives a clear finding, never a crash.
TEST(GhostCheckFailureTest, BadInputGivesAFindingAndNoCrash) {
  TempDir work;
  TempGhost noConfig("");
  HostResult missing = runHostProcess(work.path(), "check " + quoted(noConfig.dir()));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("zelkaconf.xml: error: the file is missing"), std::string::npos)
      << missing.out;
  EXPECT_NE(missing.out.find("A load would fail"), std::string::npos);

  TempGhost notXml(std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
  HostResult unreadable = runHostProcess(work.path(), "check --brief " + quoted(notXml.dir()));
  EXPECT_EQ(unreadable.status, 1);
  EXPECT_NE(unreadable.out.find("zelkaconf.xml"), std::string::npos) << unreadable.out;
  EXPECT_NE(unreadable.out.find(": error: "), std::string::npos) << unreadable.out;

  HostResult nowhere = runHostProcess(work.path(), "check " + quoted(work.file("nowhere")));
  EXPECT_EQ(nowhere.status, 1);
  EXPECT_EQ(nowhere.out, work.file("nowhere") + ": error: no such ghost directory\n"
                         "1 error, 0 warnings.\n");

  // The ghost folder given is a file.
  testing::HostGhost g;
  HostResult file = runHostProcess(work.path(), "check " + quoted(g.ghost.path("zelkaconf.xml")));
  EXPECT_EQ(file.status, 1);
  EXPECT_NE(file.out.find("zelkaconf.xml: error: a file, not a ghost directory"),
            std::string::npos) << file.out;

  // A knowledge file of binary garbage (after a valid header too), and a 10 MB one. The
  // garbage holds no byte 0x1A, which would end the file there.
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 131 + 7) % 256);
  std::replace(garbage.begin(), garbage.end(), '\x1a', '\x1b');
  g.ghost.write("vender/garbage.tlk", garbage);
  g.ghost.write("vender/garbage2.tlk", "[ZELKA KNOWLEDGE 2.0]\n" + garbage);
  std::string big = "[ZELKA KNOWLEDGE 2.0]\n";
  while (big.size() < 10u << 20) {
    big += "{\ntoken: OnBig\nscript: \\0[0]%rand[9]" + std::string(200, 'a') + "\n}\n";
  }
  g.ghost.write("vender/big.tlk", big);
  HostResult bad = runHostProcess(g.work.path(), "check --brief " + quoted(g.dir()));
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.out.find("vender/garbage.tlk:1: error: the first line is not Shift_JIS text"),
            std::string::npos) << bad.out.substr(0, 4000);
  EXPECT_NE(bad.out.find("vender/garbage2.tlk:"), std::string::npos);
  EXPECT_NE(bad.out.find("more lines hold bytes that are not Shift_JIS"), std::string::npos);
  EXPECT_NE(bad.out.find("vender/big.tlk:2: warning: no event or %token call is named OnBig"),
            std::string::npos);
}

TEST(GhostCheckFailureTest, ASoundGhostPassesAndWarningsAloneExitZeroUnlessStrict) {
  testing::HostGhost g;
  g.ghost.write("vender/talk.tlk", testing::hostGhostTalk() +
                                       sjis("{\ntoken: OnEchoo\nscript: a\n}\n"));
  HostResult run = runHostProcess(g.work.path(), "check " + quoted(g.dir()));
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("vender/talk.tlk:30: warning: no event or %token call is named OnEchoo"),
            std::string::npos) << run.out;
  EXPECT_NE(run.out.find("0 errors, 2 warnings.\n"), std::string::npos) << run.out;
  HostResult strict = runHostProcess(g.work.path(), "check --strict " + quoted(g.dir()));
  EXPECT_EQ(strict.status, 1);

  HostResult sample = runHostProcess(
      g.work.path(), "check --brief " + quoted(std::string(ZELKA_SOURCE_DIR) + "/ghost/sample"));
  EXPECT_EQ(sample.status, 0) << sample.out;
  EXPECT_EQ(sample.out, "No problems found.\n");
}

}  // namespace
}  // namespace zelka
