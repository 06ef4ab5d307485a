// zelka-host learned and graph on a ghost after known sessions: the report in words, the
// changes since a snapshot, the SVG picture, and :learned inside a session. None of them may
// change a file of the ghost.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>

#include "host/host_ghost.h"
#include "host/host_process.h"

namespace zelka {
namespace {

using testing::HostGhost;
using testing::hostGhostConfig;
using testing::HostResult;
using testing::quoted;
using testing::readWholeFile;
using testing::runHostProcess;
using testing::sjis;

// Every file below the directory with its content and modification time.
std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> filesOf(
    const std::string& dir) {
  std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    files[entry.path().string()] = {
        entry.is_regular_file() ? readWholeFile(entry.path().string()) : "<dir>",
        entry.last_write_time()};
  }
  return files;
}

// The text of one section of the report: from its heading line to the next blank line.
std::string section(const std::string& report, const std::string& heading) {
  const std::size_t start = report.find("\n" + heading);
  if (start == std::string::npos) return "<no section " + heading + ">";
  const std::size_t end = report.find("\n\n", start + 1);
  return report.substr(start + 1, end == std::string::npos ? std::string::npos : end - start);
}

class LearnedTest : public ::testing::Test {
 protected:
  LearnedTest() {
    g.ghost.write("vender/words.mem", sjis("[ZELKA DICTIONARY]\n"
                                           "[食べ物]\n果物\nパン ぱん\n"
                                           "[果物]\nりんご 林檎 リンゴ\nみかん\n"
                                           "[色]\n赤\n"));
  }

  HostResult play(const std::string& script) {
    g.work.write("session.play", script);
    return runHostProcess(g.work.path(), "--play session.play " + quoted(g.dir()));
  }
  HostResult host(const std::string& arguments) {
    return runHostProcess(g.work.path(), arguments);
  }

  HostGhost g;
};

TEST_F(LearnedTest, ReportsCategoriesConceptsExpressionsAndVariablesWithoutWriting) {
  ASSERT_EQ(play("りんごりんご\n:tick 2\n:quit\n").status, 0);
  const auto before = filesOf(g.dir());
  HostResult run = host("learned " + quoted(g.dir()));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(filesOf(g.dir()), before);

  EXPECT_NE(run.out.find("8 concepts (3 categories), 11 words"), std::string::npos) << run.out;
  // The tree: 果物 is a member of 食べ物 and a category of its own, listed once in full.
  EXPECT_EQ(section(run.out, "Categories"),
            "Categories, each with its members (a member's other words in brackets):\n"
            "  食べ物\n"
            "    果物\n"
            "      りんご (also 林檎, リンゴ)\n"
            "      みかん\n"
            "    パン (also ぱん)\n"
            "  色\n"
            "    赤\n");
  // りんご was learned from the dictionary and heard twice in one sentence: the most met
  // concept, linked to its category with strength 0.1 * (1 + log2(1 + 2)) (果物 met twice:
  // as a word and as a category).
  const std::string concepts = section(run.out, "Concepts");
  EXPECT_NE(concepts.find("  りんご (also 林檎, リンゴ), met 3 times\n      in 果物 (0.26)\n"),
            std::string::npos)
      << concepts;
  const std::string expressions = section(run.out, "Most reinforced");
  EXPECT_NE(expressions.find("\n  りんご  "), std::string::npos) << expressions;
  EXPECT_NE(section(run.out, "Variables").find("  __TalkInterval = 3\n"), std::string::npos)
      << run.out;
}

TEST_F(LearnedTest, SinceASnapshotShowsNewWordsConceptsLinksAndStrengthenedExpressions) {
  ASSERT_EQ(play(":quit\n").status, 0);
  const std::string snapshot = g.work.file("before.snapshot");
  HostResult saved = host("learned --save-snapshot " + quoted(snapshot) + " " + quoted(g.dir()));
  ASSERT_EQ(saved.status, 0) << saved.err;
  EXPECT_EQ(readWholeFile(snapshot).rfind("zelka learned snapshot 1\n", 0), 0u);

  // A second dictionary arrives and a sentence is heard.
  g.ghost.write("vender/more.mem", sjis("[ZELKA DICTIONARY]\n[果物]\nぶどう\n[色]\n青 あお\n"));
  ASSERT_EQ(play("みかんみかん\n:tick 2\n:quit\n").status, 0);
  const auto before = filesOf(g.dir());
  HostResult run = host("learned --limit 0 --since " + quoted(snapshot) + " " + quoted(g.dir()));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(filesOf(g.dir()), before);
  const std::string since = run.out.substr(run.out.find("\nSince the snapshot"));
  EXPECT_NE(since.find("  new words (3):\n    あお\n    ぶどう\n    青\n"), std::string::npos)
      << since;
  EXPECT_NE(since.find("  new concepts (2):\n"), std::string::npos) << since;
  EXPECT_NE(since.find("    青 (also あお)\n"), std::string::npos) << since;
  EXPECT_NE(since.find("  new links of the concept network (2):\n"), std::string::npos) << since;
  EXPECT_NE(since.find("    ぶどう in 果物\n"), std::string::npos) << since;
  // みかん: once from the dictionary, twice more heard.
  EXPECT_NE(since.find("    みかん  1 -> 3 walks\n"), std::string::npos) << since;

  ASSERT_EQ(host("learned --save-snapshot " + quoted(snapshot) + " " + quoted(g.dir())).status, 0);
  HostResult nothing = host("learned --since " + quoted(snapshot) + " " + quoted(g.dir()));
  EXPECT_NE(nothing.out.find("  nothing new\n"), std::string::npos) << nothing.out;

  g.work.write("not-a-snapshot", "word\tx\n");
  HostResult wrong = host("learned --since not-a-snapshot " + quoted(g.dir()));
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("is not a snapshot"), std::string::npos) << wrong.err;
}

TEST_F(LearnedTest, BrokenAndMissingStoresAreReportedAndLeftAsTheyAre) {
  ASSERT_EQ(play(":quit\n").status, 0);
  g.ghost.write("_learning/neuron.xml", "<?xml version='1.0'?>\n<NeuronStructure><Neuron");
  std::filesystem::remove(g.ghost.path("_learning/reflex.txt"));
  const auto before = filesOf(g.dir());
  HostResult run = host("learned " + quoted(g.dir()));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(filesOf(g.dir()), before);
  EXPECT_NE(run.out.find("  neuron.xml cannot be read: line 2, column "), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("  reflex.txt is missing"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("0 concepts (0 categories), 11 words"), std::string::npos) << run.out;
}

TEST_F(LearnedTest, FindsALearningDirectoryNamedInJapaneseBesideAUtf8GhostDirectory) {
  // The session hands the ghost directory over in UTF-8, so the configured name 学習/ lies on
  // disk in UTF-8 too; learned must look for it there, not under its Shift_JIS bytes.
  std::string config = hostGhostConfig();
  const std::string vender = "    <Directory type=\"vender\" name=\"vender/\"/>\r\n";
  config.insert(config.find(vender) + vender.size(),
                sjis("    <Directory type=\"learning\" name=\"学習/\"/>\r\n"));
  g.ghost.write("zelkaconf.xml", config);
  ASSERT_EQ(play("りんごりんご\n:tick 2\n:quit\n").status, 0);
  ASSERT_TRUE(g.ghost.exists("学習/neuron.xml"));
  HostResult run = host("learned " + quoted(g.dir()));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("8 concepts (3 categories), 11 words"), std::string::npos) << run.out;
}

TEST_F(LearnedTest, GraphIsAnSvgNamingTheChosenNodes) {
  ASSERT_EQ(play("りんご\n:tick 2\n:quit\n").status, 0);
  const auto before = filesOf(g.dir());
  const std::string svg = g.work.file("learned.svg");

  HostResult all = host("graph " + quoted(g.dir()) + " -o " + quoted(svg));
  ASSERT_EQ(all.status, 0) << all.err;
  // The default category of the dictionaries has no link: nothing leads to it.
  EXPECT_EQ(all.out, "zelka-host graph: 7 concepts and 3 words drawn to " + svg + "\n");
  EXPECT_EQ(std::system(("xmllint --noout " + quoted(svg)).c_str()), 0);
  const std::string picture = readWholeFile(svg);
  // Categories are boxes (paths with rounded corners), concepts ellipses, words plain text.
  for (const char* label : {">食べ物</text>", ">果物</text>", ">りんご</text>", ">林檎</text>",
                            ">リンゴ</text>", ">みかん</text>", ">パン</text>", ">ぱん</text>",
                            ">色</text>", ">赤</text>"}) {
    EXPECT_NE(picture.find(label), std::string::npos) << label;
  }
  EXPECT_NE(picture.find("font-family=\"IPAPGothic\""), std::string::npos);
  EXPECT_EQ(std::regex_search(picture, std::regex("<ellipse")), true);

  // Around a word, to one link: the word, its concept and that concept's category only.
  HostResult root = host("graph " + quoted(g.dir()) + " -o " + quoted(svg) +
                         " --root 林檎 --depth 1 --words 0");
  ASSERT_EQ(root.status, 0) << root.err;
  EXPECT_EQ(root.out, "zelka-host graph: 2 concepts and 0 words drawn to " + svg + "\n");
  const std::string around = readWholeFile(svg);
  for (const char* label : {">林檎</text>", ">りんご</text>", ">果物</text>"}) {
    EXPECT_NE(around.find(label), std::string::npos) << label;
  }
  EXPECT_EQ(around.find(">食べ物</text>"), std::string::npos);
  EXPECT_NE(around.find("What エミリ has learned around 林檎 (2 of 8 concepts)"),
            std::string::npos);

  HostResult limited = host("graph " + quoted(g.dir()) + " -o " + quoted(svg) + " --max-nodes 3");
  EXPECT_EQ(limited.out, "zelka-host graph: 3 concepts and 0 words drawn to " + svg + "\n");

  HostResult unknown = host("graph " + quoted(g.dir()) + " -o " + quoted(svg) + " --root ぶどう");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("ぶどう is not a word the ghost knows"), std::string::npos);
  EXPECT_EQ(filesOf(g.dir()), before);
}

TEST_F(LearnedTest, SessionCommandShowsWhatTheFilesHold) {
  HostResult run = play("りんご\n:learned\n:quit\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("> :learned\n(from the ghost's files, saved "), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("    果物\n      りんご (also 林檎, リンゴ)\n"), std::string::npos)
      << run.out;
}

}  // namespace
}  // namespace zelka
