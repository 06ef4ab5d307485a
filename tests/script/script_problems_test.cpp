// Script errors told to the author: where the failing element was written, what ran it, and
// no flood when the same error comes back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/script_engine.h"
#include "script/script_engine_fixture.h"

namespace zelka {
namespace {

using testing_support::finalReport;

class ScriptProblemsTest : public testing_support::ScriptEngineTest {
 protected:
  ScriptProblemsTest() {
    engine.problems().setList(&list);
    engine.problems().setSourceDirectory("vender/");
  }
  // An entry written in talk.tlk: its block opens on line 3, its script starts on line 10.
  void addWritten(const std::string& token, const std::string& script,
                  const std::string& conditional = "1") {
    KnowledgeEntry entry;
    entry.token = token;
    entry.script = script;
    entry.conditional = conditional;
    entry.source = "talk.tlk";
    entry.blockLine = 3;
    entry.scriptLine = 10;
    knowledge.emplace(token, entry);
  }
  std::vector<std::string> told() {
    std::vector<std::string> lines;
    while (std::optional<Problem> p = list.take()) {
      lines.push_back(std::string(severityName(p->severity)) + "|" + p->where + "|" +
                      p->message);
    }
    return lines;
  }

  ProblemList list;
};

const std::string kCannotSubstitute =
    "gives the error report \"cannot substitute; check how it is written\": a required body "
    "is missing or empty, a list has the wrong number of items, a query found nothing, or a "
    "backslash element is not defined";
const std::string kUnknownType =
    "gives the error report \"the data type cannot be determined\": a formula or variable "
    "value of no known kind";

TEST_F(ScriptProblemsTest, EachFailingElementIsToldWithItsLineAndWhatRanIt) {
  addWritten("OnA", "first\nthen %reflex[]\n\n%formula[ ] last");
  addWritten("OnB", "b", "%reflex[]");
  addWritten("OnB", "fallback");

  std::string talk;
  ASSERT_TRUE(engine.runTalk("OnA", talk, false));
  // The talk keeps its report exactly.
  EXPECT_EQ(talk, "firstthen " + finalReport("%reflex[]", 1) + finalReport("%formula[ ]", 2) +
                      " last");
  engine.runTalk("OnB", talk, false);
  std::string word;
  engine.runScript("%reflex[]", word, "the GET Word request");

  EXPECT_EQ(told(), (std::vector<std::string>{
                        "error|vender/talk.tlk:11|script error in OnA: \"%reflex[]\" " +
                            kCannotSubstitute,
                        "error|vender/talk.tlk:13|script error in OnA: \"%formula[ ]\" " +
                            kUnknownType,
                        "error|vender/talk.tlk:3|script error in the conditional of OnB: "
                        "\"%reflex[]\" " + kCannotSubstitute,
                        "error||script error in the GET Word request: \"%reflex[]\" " +
                            kCannotSubstitute,
                    }));
}

TEST_F(ScriptProblemsTest, RepeatsAreCountedAndSummedUpOnce) {
  addWritten("OnSecondChange", "%reflex[]");
  for (int second = 0; second < 5; ++second) {
    std::string talk;
    engine.runTalk("OnSecondChange", talk, false);
  }
  EXPECT_EQ(told().size(), 1u);
  engine.problems().reportRepeats();
  EXPECT_EQ(told(), std::vector<std::string>{
                        "warning|vender/talk.tlk:10|the script error \"%reflex[]\" in "
                        "OnSecondChange happened 4 more times in this session"});
  // Forgotten after the summary: a new session tells it again.
  std::string talk;
  engine.runTalk("OnSecondChange", talk, false);
  EXPECT_EQ(told().size(), 1u);
}

TEST_F(ScriptProblemsTest, FloodsAreCut) {
  // A runaway script: of the elements left without work, only the first is told.
  engine.setWorkBudget(4);
  std::string out;
  engine.runScript("%reflex[a]%reflex[b]%reflex[c]%reflex[d]%reflex[e]%reflex[f]", out);
  std::vector<std::string> lines = told();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("was not expanded: the script nests too deeply or does too much "
                          "work"),
            std::string::npos)
      << lines[0];

  // Past the bound of distinct errors, one problem says the rest go untold.
  engine.setWorkBudget(ScriptEngine::kDefaultWorkBudget);
  engine.problems().forget();
  for (std::size_t n = 1; n <= ScriptProblems::kMaxDistinct + 10; ++n) {
    engine.runScript("%formula[" + std::string(n, ' ') + "]", out);
  }
  lines = told();
  ASSERT_EQ(lines.size(), ScriptProblems::kMaxDistinct + 1);
  EXPECT_EQ(lines.back(),
            "error||more than 64 different script errors in this session; the rest are not "
            "reported");
}

TEST(ElementLineTest, LineFeedsBeforeTheElementCount) {
  struct Case {
    const char* script;
    const char16_t* element;
    std::size_t line;
  } const cases[] = {
      {"%a[x]", u"%a[x]", 7},
      {"x\ny\n%a[x]", u"%a[x]", 9},
      {"x %a[\n1,\n2]", u"%a[1,2]", 7},        // an element written over lines: its first
      {"x\n%if(0){a}\nelse{%b[]}", u"+else{%b[]}", 9},
      {"x\ny", u"%from[a rescan]", 7},         // not in the script: the script's first line
  };
  for (const Case& c : cases) {
    EXPECT_EQ(elementLine(c.script, 7, c.element), c.line) << c.script;
  }
  EXPECT_EQ(elementLine("%a[x]", 0, u"%a[x]"), 0u);  // line not known
}

}  // namespace
}  // namespace zelka
