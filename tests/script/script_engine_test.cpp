#include "script/script_engine.h"

#include <gtest/gtest.h>

#include <string>

#include "script/script_engine_fixture.h"
#include "util/mt19937.h"

namespace zelka {
namespace {

using testing_support::ScriptEngineTest;
using testing_support::finalReport;

struct TalkCase {
  const char* script;
  const char* expected;
};

TEST_F(ScriptEngineTest, InterpreterEdgeCases) {
  const TalkCase cases[] = {
      {"Hello %if(1){world}", "Hello world"},
      {"%if(0){a}else{b}", "b"},
      {"%if(0){a}elseif(1){b}else{c}", "b"},
      {"%if(1){a}elseif(1){b}", "a"},
      {"%if(0){a} x else{b}", "b"},
      {"%if(0){a} x", " x"},
      {"\\s[10]", "\\s[10]"},
      {"%other[x]", "%other[x]"},
  };
  for (const TalkCase& c : cases) EXPECT_EQ(talk(c.script), c.expected) << c.script;
}

TEST_F(ScriptEngineTest, ConditionalChains) {
  vars().setVariable("n", "2");
  const TalkCase cases[] = {
      {"%if(1){a}else{b}", "a"},
      {"%if(0){a}elseif(0){b}else{c}", "c"},
      {"%if(0){a}elseif(0){b}elseif(1){c}else{d}", "c"},
      {"%if(n == 2){two}else{other}", "two"},
      {"%if(n > 5){big}elseif(n > 1){mid}else{small}", "mid"},
      // Each if starts its own chain.
      {"%if(0){a}%if(1){b}else{c}", "b"},
      // A quoted answer is true when it is not empty.
      {"%if(\"x\"){yes}", "yes"},
      {"%if(\"\"){yes}else{no}", "no"},
      {"%if(){yes}else{no}", "no"},
      // Bodies are expanded and their results scanned again.
      {"%if(1){<%[n]>}", "<2>"},
      {"%if(1){%if(0){a}else{b}}", "b"},
  };
  for (const TalkCase& c : cases) EXPECT_EQ(talk(c.script), c.expected) << c.script;
}

TEST_F(ScriptEngineTest, QuotesProtectAndVanish) {
  vars().setVariable("x", "5");
  EXPECT_EQ(raw("a\"%[x]\"b"), "a\"%[x]\"b");
  EXPECT_EQ(talk("a\"%[x]\"b"), "a%[x]b");
  EXPECT_EQ(talk("say \\\"hi\\\""), "say \"hi\"");
  EXPECT_EQ(talk("a\\\\b"), "a\\\\b");
}

TEST_F(ScriptEngineTest, ResultsAreScannedAgain) {
  vars().setVariable("y", "7");
  // "% " yields a literal percent sign followed by its groups, which the rescan expands.
  EXPECT_EQ(talk("% [y]"), "7");
  loadRawVariables({{"greeting", "hello%[y]"}, {"outer", "%[greeting]!"}});
  EXPECT_EQ(talk("%[outer]"), "hello7!");
}

TEST_F(ScriptEngineTest, FailingElementLeavesReportAndTalkGoesOn) {
  EXPECT_EQ(talk("a%rand[]b"), "a" + finalReport("%rand[]", 1) + "b");
  EXPECT_EQ(talk("%formula[ ]"), finalReport("%formula[ ]", 2));
  EXPECT_EQ(talk("\\abcd"), finalReport("\\\\abcd", 1));

  // The element's own output is the report as written.
  std::vector<ScriptElement> list;
  parseScript(u"%rand[]", &list);
  std::string out;
  int enableSub = 1;
  std::uint32_t counter = 0;
  EXPECT_FALSE(engine.expandElement(list[0], out, enableSub, counter));
  EXPECT_EQ(out,
            "\\n<!-- Zelka Script Error\\n\"%rand[]\"\\n"
            "\x92\x75\x8a\xb7\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x81\x42\\n"
            "\x8b\x4c\x8f\x71\x95\xfb\x96\x40\x82\xf0\x8a\x6d\x94\x46\x82\xb5\x82\xc4\x82\xad"
            "\x82\xbe\x82\xb3\x82\xa2\x81\x42\\n-->\\n");
}

TEST_F(ScriptEngineTest, RunScriptAppendsAndReportsEmptiness) {
  std::string out = "keep:";
  EXPECT_TRUE(engine.runScript("abc", out));
  EXPECT_EQ(out, "keep:abc");
  EXPECT_FALSE(engine.runScript("", out));
  EXPECT_EQ(out, "keep:abc");

  std::vector<ScriptElement> empty;
  std::string cleared = "x";
  std::uint32_t counter = 0;
  EXPECT_EQ(engine.expandList(empty, cleared, counter), 0);
  EXPECT_EQ(cleared, "");
}

TEST_F(ScriptEngineTest, StripScriptQuotes) {
  const TalkCase cases[] = {
      {"a\"b\"c", "abc"},
      {"\\\"quoted\\\"", "\"quoted\""},
      {"\\\\s[0]", "\\\\s[0]"},
      // A doubled backslash passes whole: the quote after it is dropped, not shown.
      {"\"ab\\\\\"", "ab\\\\"},
      {"\\\\\\\"", "\\\\\""},
      {"\"\"", ""},
      // The trail byte 0x5C of a two-byte character is not a backslash.
      {"\"\x83\x5c\"", "\x83\x5c"},
      {"\x83\x5c\\\"", "\x83\x5c\""},
  };
  for (const TalkCase& c : cases) {
    EXPECT_EQ(ScriptEngine::stripScriptQuotes(c.script), c.expected) << c.script;
  }
}

TEST_F(ScriptEngineTest, SelfReferenceStopsAtTheNestingBound) {
  loadRawVariables({{"self", "%[self]"}, {"ping", "a%[pong]"}, {"pong", "b%[ping]"}});
  const std::string self = talk("x%[self]y");
  EXPECT_EQ(self, "x" + finalReport("%reflex[self]", 1) + "y");

  const std::string loop = talk("%[ping]");
  EXPECT_EQ(loop.rfind("abab", 0), 0u);
  EXPECT_NE(loop.find("Zelka Script Error"), std::string::npos);
  EXPECT_LT(loop.size(), 10000u);
  // The engine is usable again afterwards.
  EXPECT_EQ(talk("%if(1){fine}"), "fine");
}

TEST_F(ScriptEngineTest, TokenCallingItselfEnds) {
  addEntry("Loop", "a%token[Loop]");
  const std::string result = talk("%token[Loop]");
  EXPECT_EQ(result.rfind("aaaa", 0), 0u);
  EXPECT_NE(result.find("Zelka Script Error"), std::string::npos);
}

TEST_F(ScriptEngineTest, BranchingRecursionEndsWithinTheWorkBudget) {
  engine.setWorkBudget(20000);
  addEntry("Fork", "%token[Fork]%token[Fork]");
  addEntry("Fork", "%token[Fork]%token[Fork]%token[Fork]");
  std::string out;
  engine.runTalk("Fork", out, false);
  EXPECT_NE(out.find("Zelka Script Error"), std::string::npos);
  // The budget is refilled for the next call.
  EXPECT_EQ(talk("ok"), "ok");
}

TEST_F(ScriptEngineTest, HostileScriptsOfOneMebibyte) {
  const std::size_t size = 1 << 20;
  Mt19937 generator(7u);
  const std::string alphabet = "%\\[](){}\"' ab1,+-=ifelse\n";
  std::string noise;
  noise.reserve(size);
  for (std::size_t i = 0; i < size; ++i) noise += alphabet[generator.next() % alphabet.size()];

  auto repeat = [&](std::string_view piece) {
    std::string text;
    while (text.size() < size) text += piece;
    return text;
  };
  vars().setVariable("v", "1");
  const std::string scripts[] = {noise,
                                 repeat("%a["),
                                 repeat("%if(1){"),
                                 repeat("%[v]"),
                                 repeat("(((("),
                                 repeat("\""),
                                 repeat("%formula[1+"),
                                 repeat("%token[x]%rand[9]")};
  for (const std::string& script : scripts) {
    std::string out;
    engine.runScript(script, out);  // must return
    SUCCEED();
  }
  EXPECT_EQ(talk("%[v]"), "1");
}

TEST_F(ScriptEngineTest, ExpansionIsLoggedAtRunLevelsTwoAndFour) {
  openLog(2);
  vars().setVariable("y", "5");
  EXPECT_EQ(talk("x%[y]"), "x5");
  EXPECT_EQ(logText(),
            "lexical analysis result: x\n"
            "\nlexical analysis: %reflex[y]\nps_enable_sub: 1\n"
            "lexical analysis result: [y]\n"
            "lexical analysis result: 5\n"
            "lexical analysis result: 5\n");
}

TEST_F(ScriptEngineTest, FormulasAreLoggedAtRunLevelsThreeAndFour) {
  openLog(3);
  EXPECT_EQ(talk("%if(1){a}"), "a");
  EXPECT_EQ(logText(),
            "\nrpn m_formula: (1)\nrpn m_formula_rpn: 1\nrpn m_answer: 1\n");
}

TEST_F(ScriptEngineTest, NothingIsLoggedAtRunLevelZero) {
  openLog(0);
  EXPECT_EQ(talk("%if(1){a}%[y]"), "a");
  EXPECT_EQ(logText(), "");
}

}  // namespace
}  // namespace zelka
