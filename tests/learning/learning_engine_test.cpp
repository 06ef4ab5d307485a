#include "learning/learning_engine.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <optional>
#include <string>

#include "learning/concept_learning.h"
#include "learning/knowledge_set.h"
#include "platform/text_codec.h"
#include "support/temp_dir.h"
#include "support/xmllint.h"

namespace zelka {
namespace {

using testing::TempDir;
using testing::writeBytes;
using testing::xpath;

const char kConfig[] =
    "<?xml version='1.0' encoding='Shift_JIS'?>\n"
    "<ZelkaConfiguration><GhostProfile birthday=\"2001/05/03\" think_wait=\"5\"/>"
    "<RunEnvironment runlevel=\"0\"><Directory type=\"vender\" name=\"vendor/\"/>"
    "<Directory type=\"learning\" name=\"learning/\"/></RunEnvironment></ZelkaConfiguration>\n";
const std::string kHeader = "[ZELKA DICTIONARY]\n";

std::string utf8(std::u16string_view text) { return utf16ToUtf8(text); }

class LearningEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeBytes(dir_ / "zelkaconf.xml", kConfig);
    std::filesystem::create_directories(dir_ / "vendor");
  }
  std::u16string module() const { return dir_.path().u16string() + u"/"; }
  std::filesystem::path vendor(const std::string& name) const {
    return dir_.path() / "vendor" / name;
  }
  std::filesystem::path store(const std::string& name) const {
    return dir_.path() / "learning" / name;
  }
  void dictionary(const std::string& name, const std::u16string& body) {
    writeBytes(vendor(name), kHeader + toNarrow(body));
  }
  // How many neurons carry the word among their expressions, as xmllint reads the file.
  std::string expressionCount(const std::string& word) {
    return xpath(store("neuron.xml"), "count(//Expression[@name=\"" + word + "\"])");
  }

  TempDir dir_{"engine"};
};

TEST_F(LearningEngineTest, WithoutAStartEveryForwardIsNeutral) {
  LearningEngine engine;
  EXPECT_FALSE(engine.start(u""));
  EXPECT_EQ(engine.knowledgeSet(), nullptr);
  std::deque<std::u16string> segments{u"kept"};
  EXPECT_EQ(engine.thinkPhase(), 1);
  EXPECT_EQ(engine.tickThinking(), 0);
  EXPECT_EQ(engine.acceptThinking(1), 1);
  EXPECT_EQ(engine.thinkResult(), 0);
  EXPECT_EQ(engine.thinkTicks(), 0);
  EXPECT_EQ(engine.thinkWait(), 0);
  EXPECT_FALSE(engine.takeSegments(segments));
  EXPECT_FALSE(engine.startThinking(u"s", u"local", u"text", 500));
  EXPECT_EQ(engine.thinkNow(u"s", u"local", u"text", segments), 2);
  EXPECT_EQ(segments, std::deque<std::u16string>{u"kept"});
  std::u16string word;
  EXPECT_FALSE(engine.associateCall(u"x", word));
  EXPECT_FALSE(engine.unifyCall(u"x,y", word, false));
  engine.shutdown();
  engine.shutdown();
}

TEST_F(LearningEngineTest, UnreadableConfigurationCreatesNoKnowledgeSet) {
  std::filesystem::remove(dir_ / "zelkaconf.xml");
  dictionary("a.mem", u"w\n");
  LearningEngine engine;
  EXPECT_FALSE(engine.start(module()));
  EXPECT_EQ(engine.knowledgeSet(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "learning"));
  EXPECT_TRUE(std::filesystem::exists(vendor("a.mem")));
}

TEST_F(LearningEngineTest, StartCreatesTheStoresAndImportsDictionaries) {
  dictionary("fruit.mem", u"[果物]\n林檎 りんご\n梨\n");
  dictionary("notes.txt", u"not a dictionary\n");
  {
    LearningEngine engine;
    ASSERT_TRUE(engine.start(module()));
    ASSERT_NE(engine.knowledgeSet(), nullptr);
    EXPECT_EQ(engine.thinkWait(), 5);
    EXPECT_TRUE(engine.unmovedDictionaries().empty());
    EXPECT_FALSE(std::filesystem::exists(vendor("fruit.mem")));
    EXPECT_TRUE(std::filesystem::exists(vendor("learned/fruit.mem")));
    EXPECT_TRUE(std::filesystem::exists(vendor("notes.txt")));

    for (int i = 0; i < 10; ++i) {
      std::u16string word;
      ASSERT_TRUE(engine.associateCall(u"果物", word));
      EXPECT_TRUE(word == u"林檎" || word == u"梨") << utf8(word);
    }
  }
  // Destroying the engine saved everything; xmllint reads the files.
  EXPECT_EQ(xpath(store("journal.xml"), "count(/SentenceJournal)"), "1");
  EXPECT_EQ(xpath(store("index.xml"), "count(/WordIndexes/Index)"), "5");
  EXPECT_EQ(expressionCount("林檎"), "1");
  EXPECT_EQ(expressionCount("りんご"), "1");   // only the group's neuron carries it
  EXPECT_EQ(xpath(store("bind.xml"), "count(/Bind/Bind[@name=\"梨\"])"), "1");
}

TEST_F(LearningEngineTest, EachFileIsImportedOnlyOnce) {
  dictionary("a.mem", u"[c]\nword\n");
  LearningEngine engine;
  ASSERT_TRUE(engine.start(module()));
  // A second start finds the file moved away: nothing is read twice.
  ASSERT_TRUE(engine.start(module()));
  engine.shutdown();
  EXPECT_EQ(xpath(store("bind.xml"), "string(/Bind/@total)"), "2.000000000000000e+000");
}

TEST_F(LearningEngineTest, RejectedDictionaryIsTriedAgainNextStart) {
  writeBytes(vendor("late.mem"), "[ZELKA DICTIONARY] \nword\n");
  {
    LearningEngine engine;
    ASSERT_TRUE(engine.start(module()));
    EXPECT_TRUE(engine.unmovedDictionaries().empty());   // rejected, not imported
  }
  EXPECT_TRUE(std::filesystem::exists(vendor("late.mem")));
  EXPECT_EQ(expressionCount("word"), "0");

  writeBytes(vendor("late.mem"), kHeader + "word\n");
  LearningEngine engine;
  ASSERT_TRUE(engine.start(module()));
  engine.shutdown();
  EXPECT_FALSE(std::filesystem::exists(vendor("late.mem")));
  EXPECT_EQ(expressionCount("word"), "1");
}

TEST_F(LearningEngineTest, UnmovableDictionaryIsReportedAndTriedAgainWithoutRecounting) {
  dictionary("stuck.mem", u"ab\n");
  std::filesystem::create_directories(vendor("learned/stuck.mem/inside"));
  {
    ProblemList problems;
    LearningEngine engine;
    engine.setProblems(&problems);
    ASSERT_TRUE(engine.start(module()));
    ASSERT_EQ(engine.unmovedDictionaries().size(), 1u);
    EXPECT_EQ(engine.unmovedDictionaries()[0], vendor("stuck.mem").string());
    std::optional<Problem> told = problems.take();
    ASSERT_TRUE(told);
    EXPECT_EQ(severityName(told->severity), std::string("warning"));
    EXPECT_EQ(told->where, "vendor/stuck.mem");
    EXPECT_EQ(told->message,
              "the dictionary was imported but could not be moved into vendor/learned/; it is "
              "imported again at the next start and its words are reinforced once more unless "
              "it is moved away");
    EXPECT_FALSE(problems.take());
  }
  EXPECT_EQ(xpath(store("bind.xml"), "string(/Bind/@total)"), "1.000000000000000e+000");
  // Later starts, also in the same process, try the file again; every store holds its words
  // already, so nothing is counted twice.
  LearningEngine engine;
  ASSERT_TRUE(engine.start(module()));
  EXPECT_EQ(engine.unmovedDictionaries().size(), 1u);
  engine.shutdown();
  EXPECT_EQ(xpath(store("bind.xml"), "string(/Bind/@total)"), "1.000000000000000e+000");
  EXPECT_TRUE(std::filesystem::exists(vendor("stuck.mem")));
  EXPECT_TRUE(std::filesystem::exists(store("pending_dictionaries.txt")));

  std::filesystem::remove_all(vendor("learned/stuck.mem"));
  ASSERT_TRUE(engine.start(module()));
  EXPECT_TRUE(engine.unmovedDictionaries().empty());
  engine.shutdown();
  EXPECT_EQ(xpath(store("bind.xml"), "string(/Bind/@total)"), "1.000000000000000e+000");
  EXPECT_TRUE(std::filesystem::exists(vendor("learned/stuck.mem")));
  EXPECT_FALSE(std::filesystem::exists(store("pending_dictionaries.txt")));
}

TEST_F(LearningEngineTest, ShutdownSavesWhatAssociationCreated) {
  LearningEngine engine;
  ASSERT_TRUE(engine.start(module()));
  std::u16string word;
  ASSERT_TRUE(engine.associateCall(u"(\"brand new\")", word));
  EXPECT_EQ(word, u"brand new");
  engine.shutdown();
  EXPECT_EQ(engine.knowledgeSet(), nullptr);
  EXPECT_EQ(xpath(store("index.xml"), "count(/WordIndexes/Index[@name=\"brand new\"])"), "1");
  engine.shutdown();
}

TEST_F(LearningEngineTest, CallArgumentsAreCheckedAndBounded) {
  dictionary("c.mem", u"[fruit]\napple\n[red]\napple\n[x]\ny\n[y]\nx\n");
  LearningEngine engine;
  ASSERT_TRUE(engine.start(module()));
  std::u16string word;
  EXPECT_FALSE(engine.associateCall(u"", word));
  EXPECT_FALSE(engine.associateCall(u"fruit)", word));
  EXPECT_FALSE(engine.associateCall(u"\"open", word));
  EXPECT_FALSE(engine.unifyCall(u"fruit", word, false));
  EXPECT_FALSE(engine.unifyCall(u"(fruit,apple", word, false));

  ASSERT_TRUE(engine.associateCall(u"fruit, 0", word));
  EXPECT_EQ(word, u"apple");
  ASSERT_TRUE(engine.associateCall(u"x, 4294967296", word));   // a cycle, capped depth
  EXPECT_TRUE(word == u"x" || word == u"y");
  ASSERT_TRUE(engine.unifyCall(u"fruit, red", word, false));
  EXPECT_EQ(word, u"apple");
  ASSERT_TRUE(engine.unifyCall(u"apple, fruit", word, true));
  EXPECT_EQ(word, u"apple");

  std::u16string nested(5000, u'(');
  nested += u"fruit" + std::u16string(5000, u')');
  ASSERT_TRUE(engine.associateCall(nested, word));
  EXPECT_EQ(word, u"apple");
  EXPECT_FALSE(engine.associateCall(nested + u")", word));
}

TEST_F(LearningEngineTest, QuotedWordsRoundTripThroughTheScriptEntryPoints) {
  dictionary("q.mem", u"[quotes]\nsay\"hi\"\n");
  LearningEngine engine;
  ASSERT_TRUE(engine.start(module()));
  std::u16string word;
  ASSERT_TRUE(engine.associateCall(u"quotes", word));
  EXPECT_EQ(word, u"say\"hi\"");
  // The script names the word with the escape.
  ASSERT_TRUE(engine.associateCall(u"say\\\"hi\\\"", word));
  EXPECT_EQ(word, u"say\"hi\"");
  ASSERT_TRUE(engine.unifyCall(u"quotes, say\\\"hi\\\"", word, false));
  EXPECT_EQ(word, u"say\"hi\"");
}

TEST_F(LearningEngineTest, ThinkForwards) {
  LearningEngine engine;
  ASSERT_TRUE(engine.start(module()));
  EXPECT_EQ(engine.thinkPhase(), 1);
  ASSERT_TRUE(engine.startThinking(u"other", u"local", u"ab", 5000));
  EXPECT_EQ(engine.acceptThinking(1), 1);
  EXPECT_EQ(engine.thinkResult(), 1);
  std::deque<std::u16string> segments{u"old"};
  ASSERT_TRUE(engine.takeSegments(segments));
  EXPECT_EQ(segments, (std::deque<std::u16string>{u"a", u"b"}));

  std::deque<std::u16string> now;
  EXPECT_EQ(engine.thinkNow(u"__zelka_kernel", u"local", u"ab", now), 1);
  EXPECT_EQ(now, std::deque<std::u16string>{u"ab"});
  EXPECT_EQ(engine.tickThinking(), 0);   // no thread held
}

}  // namespace
}  // namespace zelka
