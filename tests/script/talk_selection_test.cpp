#include <gtest/gtest.h>

#include <string>

#include "script/script_engine.h"
#include "script/script_engine_fixture.h"

namespace zelka {
namespace {

using TalkSelectionTest = testing_support::ScriptEngineTest;

std::vector<std::string> scriptsOf(const CandidateList& list) {
  std::vector<std::string> scripts;
  for (TalkCandidate candidate : list) scripts.push_back(candidate->second.script);
  return scripts;
}

TEST_F(TalkSelectionTest, EntriesWhoseConditionHoldsAreChosenEvenly) {
  addEntry("Talk", "a");
  addEntry("Talk", "b");
  addEntry("Talk", "never", "0");
  int a = 0;
  for (int i = 0; i < 1000; ++i) {
    std::string out;
    const std::optional<std::string> result = engine.runTalk("Talk", out, false);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(out, *result);
    ASSERT_TRUE(out == "a" || out == "b") << out;
    if (out == "a") ++a;
  }
  EXPECT_GT(a, 400);
  EXPECT_LT(a, 600);
}

TEST_F(TalkSelectionTest, ChooseIndexDrawsFromTheEnginesGenerator) {
  Mt19937 mirror = random;
  EXPECT_EQ(engine.chooseIndex(0), 0u);
  for (std::uint32_t n : {1u, 2u, 7u, 1000u, 4294967295u}) {
    EXPECT_EQ(engine.chooseIndex(n), mirror.next() % n + 1) << n;
  }
}

TEST_F(TalkSelectionTest, FailedConditionDefersToItsElseToken) {
  addEntry("X", "x-first", "0", "Y");
  addEntry("X", "x-second");
  addEntry("Y", "y-first");
  addEntry("Y", "y-second");
  CandidateList list;
  EXPECT_EQ(engine.collectCandidates("X", list), 3u);
  EXPECT_EQ(scriptsOf(list), (std::vector<std::string>{"y-first", "y-second", "x-second"}));
  for (TalkCandidate candidate : list) EXPECT_EQ(candidate->first, candidate->second.token);
}

TEST_F(TalkSelectionTest, ConditionsAreExpandedBeforeEvaluation) {
  addEntry("T", "when set", "%[flag]", "Other");
  addEntry("Other", "otherwise");
  vars().setVariable("flag", "0");
  CandidateList list;
  EXPECT_EQ(engine.collectCandidates("T", list), 1u);
  EXPECT_EQ(scriptsOf(list), std::vector<std::string>{"otherwise"});

  vars().setVariable("flag", "1");
  list.clear();
  EXPECT_EQ(engine.collectCandidates("T", list), 1u);
  EXPECT_EQ(scriptsOf(list), std::vector<std::string>{"when set"});

  // An assignment in a condition counts; the count is then true.
  addEntry("Count", "counted", "n = n + 1");
  vars().setVariable("n", "0");
  list.clear();
  EXPECT_EQ(engine.collectCandidates("Count", list), 1u);
  EXPECT_EQ(variable("n"), "1.000000e+000");
}

TEST_F(TalkSelectionTest, ConditionExpandingToNothingSkipsItsElse) {
  addEntry("T", "never", "%if(0){1}", "Other");
  addEntry("Other", "otherwise");
  CandidateList list;
  EXPECT_EQ(engine.collectCandidates("T", list), 0u);
  std::string out = "unchanged";
  EXPECT_FALSE(engine.runTalk("T", out, false).has_value());
  EXPECT_EQ(out, "unchanged");
}

TEST_F(TalkSelectionTest, QuotesAreStrippedUnlessRaw) {
  addEntry("Q", "\"quoted\" talk");
  std::string out;
  EXPECT_EQ(engine.runTalk("Q", out, false), "quoted talk");
  EXPECT_EQ(engine.runTalk("Q", out, true), "\"quoted\" talk");
  EXPECT_EQ(out, "\"quoted\" talk");
}

TEST_F(TalkSelectionTest, NothingToSay) {
  std::string out = "unchanged";
  EXPECT_FALSE(engine.runTalk("Missing", out, false).has_value());
  addEntry("Silent", "%if(0){x}");
  addEntry("Silent", "\"\"");
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(engine.runTalk("Silent", out, false).has_value());
  EXPECT_EQ(out, "unchanged");
}

TEST_F(TalkSelectionTest, ElseChainsNamingThemselvesEnd) {
  addEntry("Self", "never", "0", "Self");
  addEntry("Ping", "never", "0", "Pong");
  addEntry("Pong", "never", "0", "Ping");
  CandidateList list;
  EXPECT_EQ(engine.collectCandidates("Self", list), 0u);
  EXPECT_EQ(engine.collectCandidates("Ping", list), 0u);

  // Ten entries each deferring to their own token would branch without end.
  engine.setWorkBudget(20000);
  for (int i = 0; i < 10; ++i) addEntry("Wide", "never", "0", "Wide");
  addEntry("Wide", "found");
  const std::size_t found = engine.collectCandidates("Wide", list);
  EXPECT_GE(found, 1u);
  EXPECT_EQ(found, list.size());
}

TEST_F(TalkSelectionTest, SelectionIsLoggedAtRunLevelsTwoAndFour) {
  openLog(4);
  addEntry("Hi", "hi");
  std::string out;
  ASSERT_TRUE(engine.runTalk("Hi", out, false).has_value());
  EXPECT_EQ(logText(),
            "\nselected layer2 script: hi"
            "lexical analysis result: hi\n"
            "\nselected layer2 script result: hi"
            "\nselected layer2 script last result: hi");
}

TEST_F(TalkSelectionTest, ConditionsAreLoggedAtRunLevelsTwoAndFour) {
  openLog(2);
  vars().setVariable("flag", "1");
  addEntry("Quiet", "%if(0){x}", "flag == 1");
  std::string out;
  EXPECT_FALSE(engine.runTalk("Quiet", out, false).has_value());
  EXPECT_EQ(logText(),
            "lexical analysis result: flag == 1\n"
            "\nconditional formula : flag == 1\n"
            "conditional result 1: flag == 1\n"
            "conditional result 2: 1.000000e+000\n"
            "\nselected layer2 script: %if(0){x}"
            "\nlexical analysis: %if(0){x}\nps_enable_sub: 1\n"
            "lexical analysis result: (0)\n"
            "lexical analysis result: \n"
            "\nselected layer2 script result: ");
}

}  // namespace
}  // namespace zelka
