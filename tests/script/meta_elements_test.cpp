#include "script/meta_elements.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "config/zelka_config.h"
#include "platform/clock.h"
#include "script/script_engine.h"
#include "script/script_engine_fixture.h"

namespace zelka {
namespace {

using testing_support::ScriptEngineTest;
using testing_support::finalReport;

struct TalkCase {
  std::string script;
  std::string expected;
};

bool isReport(const std::string& talk) {
  return talk.find("<!-- Zelka Script Error") != std::string::npos;
}

class MetaElementTest : public ScriptEngineTest {
 protected:
  static constexpr std::int64_t kNow = 1750000000;
  MetaElementTest() { engine.setClock([] { return kNow; }); }

  void expectTalks(const std::vector<TalkCase>& cases) {
    for (const TalkCase& c : cases) EXPECT_EQ(talk(c.script), c.expected) << c.script;
  }
};

TEST_F(MetaElementTest, VariableOutputAndCasts) {
  vars().setVariable("v", "2.6");
  vars().setVariable("n", "-2.4");
  vars().setVariable("q", "hello");
  vars().setVariable("0", "2.6");
  expectTalks({
      {"%[v]", "3"},
      {"%(int)[v]", "3"},
      {"%(abs)[n]", "2"},
      {"%(float)[v]", "2.600000"},
      {"%(double)[v]", "2.600000e+000"},
      {"%(\"%.2e\")[v]", "2.60e+000"},
      {"%(%.2f)[v]", "2.60"},
      {"%( int )[v]", "3"},
      {"%(int)[0]", "3"},
      {"%[q]", "hello"},
      {"%[missing]", ""},
      {"%[]", finalReport("%reflex[]", 1)},
  });
  EXPECT_EQ(raw("%[q]"), "\"hello\"");
  EXPECT_EQ(talk("%[week]"), std::to_string(localTime(kNow)->tm_wday));
}

TEST_F(MetaElementTest, DateElements) {
  const std::tm local = *localTime(kNow);
  auto two = [](int v) { return (v < 10 ? "0" : "") + std::to_string(v); };
  expectTalks({
      {"%year", std::to_string(local.tm_year + 1900)},
      {"%month", two(local.tm_mon + 1)},
      {"%day", two(local.tm_mday)},
      {"%hour", two(local.tm_hour)},
      {"%minute", two(local.tm_min)},
      {"%second", two(local.tm_sec)},
      {"%week", std::to_string(local.tm_wday)},
  });

  // With a body the item is unified with it; that needs the learned knowledge.
  EXPECT_TRUE(isReport(talk("%hour[lunch]")));
  engine.setKnowledgeQueries(&queries);
  queries.unifications[toWide(two(local.tm_hour) + ",lunch")] = u"noon";
  EXPECT_EQ(talk("%hour[lunch]"), "noon");
  ASSERT_EQ(queries.unifyArguments.size(), 1u);
  EXPECT_TRUE(queries.unifyArguments[0].second);
  EXPECT_TRUE(isReport(talk("%hour[dinner]")));
}

TEST_F(MetaElementTest, StoringElementsAreNumberedInExpansionOrder) {
  vars().setVariable("__Here", "xyz");
  EXPECT_EQ(talk("%strcmp[a,b]%rand[0]%here[z]|%[0]|%[1]|%[2]"), "-101|-1|0|1");
  // Elements inside a body are expanded, and numbered, before the element itself.
  EXPECT_EQ(talk("%strcmp[%rand[0],1]|%[0]|%[1]"), "-1|0|-1");
  // Elements that do not store leave the numbering alone.
  EXPECT_EQ(talk("%exh%match[x]%strcmp[b,a]|%[0]"), "001|1");
}

TEST_F(MetaElementTest, ByteElement) {
  expectTalks({
      {"%BYTE[65]", "A"},
      {"%BYTE[16706]", "BA"},
      {"%BYTE[41090]", "\x82\xa0"},
      {"%BYTE[0]", ""},
      {"%BYTE[]", finalReport("%BYTE[]", 1)},
  });
  EXPECT_EQ(raw("%BYTE[0]"), "\"\"");
}

TEST_F(MetaElementTest, ReferencePieces) {
  event.references = {{"a", "b"}, {"12"}, {}};
  expectTalks({
      {"%ref0", "a"},
      {"%ref", "a"},
      {"%ref0[1]", "b"},
      {"%ref0[9]", "b"},
      {"%ref0[-1]", "b"},
      {"%ref1", "12"},
      {"%ref2", ""},
      {"%ref3", ""},
      {"%ref[1]", "b"},
  });
  EXPECT_EQ(raw("%ref0"), "\"a\"");
  EXPECT_EQ(raw("%ref1"), "12");
  EXPECT_EQ(raw("%ref3"), "\"\"");
}

// Text heard from another character or sent as a reference is shown, never run: quotes inside
// it must not end the protection of the enclosing quotes.
TEST_F(MetaElementTest, OutsideTextWithQuotesIsShownNotRun) {
  vars().setVariable("__TalkInterval", "60");
  vars().setVariable("__Sentence", "x\"\\ti[1]\"y");
  vars().setVariable("heard", "a\"%rand[5]\"b\\");
  event.references = {{"a\"%BYTE[65]\"b"}, {"\"q\"%BYTE[66]\"q\""}};
  expectTalks({
      {"%reflex[__Sentence]", "x\"\\ti[1]\"y"},
      {"%reflex[heard]", "a\"%rand[5]\"b\\"},
      {"%ref0", "a\"%BYTE[65]\"b"},
      {"%ref1", "q\"%BYTE[66]\"q"},
  });
  std::string interval;
  vars().getVariable("__TalkInterval", interval);
  EXPECT_EQ(interval, "60");
}

TEST_F(MetaElementTest, RandomNumbersComeFromTheEnginesGenerator) {
  Mt19937 mirror = random;
  EXPECT_EQ(talk("%rand[5]"), std::to_string(mirror.next() % 6));
  // N + 1 wraps to 0 in 32 bits: the whole output is the draw, no remainder by zero.
  EXPECT_EQ(talk("%rand[4294967295]"), std::to_string(mirror.next()));
  EXPECT_EQ(talk("%rand[-1]"), std::to_string(mirror.next()));
  EXPECT_EQ(talk("%rand[99999999999999]"), std::to_string(mirror.next()));
  EXPECT_EQ(talk("%rand[ 3 ]"), std::to_string(mirror.next() % 4));

  for (int i = 0; i < 50; ++i) EXPECT_EQ(talk("%rand[0]"), "0");
  std::set<int> seen;
  for (int i = 0; i < 300; ++i) {
    const int value = std::stoi(talk("%rand[9,10]"));
    EXPECT_GE(value, 10);
    EXPECT_LE(value, 19);
    seen.insert(value);
  }
  EXPECT_EQ(seen.size(), 10u);
  EXPECT_EQ(talk("%rand[]"), finalReport("%rand[]", 1));
}

TEST_F(MetaElementTest, StringComparison) {
  expectTalks({
      {"%strcmp[a,b]", "-1"},
      {"%strcmp[a,a]", "0"},
      {"%strcmp[b,a]", "1"},
      {"%strcmp[10,9]", "-1"},
      // A bare word is compared in quotes, so it equals its quoted form.
      {"%strcmp[\"a\",a]", "0"},
      {"%strcmp[,x]", "-1"},
      {"%strcmp[a]", finalReport("%strcmp[a]", 1)},
      {"%strcmp[a,b,c]", finalReport("%strcmp[a,b,c]", 1)},
  });
}

TEST_F(MetaElementTest, Formulas) {
  expectTalks({
      {"%formula[1+2]", "3"},
      {"%formula(float)[1+2]", "3.000000"},
      {"%formula[1+2,double]", "3.000000e+000"},
      {"%formula[1+2, \"double\" ]", "3.000000e+000"},
      {"%formula(%.1f)[10 / 4]", "2.5"},
      {"%formula[\"ab\" + \"cd\"]", "abcd"},
      {"%formula[]", finalReport("%formula[]", 1)},
      {"%formula[ ]", finalReport("%formula[ ]", 2)},
  });
  // Written with a backslash the element only computes.
  EXPECT_EQ(raw("\\formula[x = 5]"), "\"\"");
  EXPECT_EQ(variable("x"), "5");
}

TEST_F(MetaElementTest, FormulaPassesTheThinkAcceptanceOn) {
  talk("%formula[1]");  // no knowledge attached: nothing to call
  engine.setKnowledgeQueries(&queries);
  vars().setVariableUnsigned("__Think_accept", 1);
  talk("%formula[1]");
  talk("\\formula[__Think_accept = 3]");
  EXPECT_EQ(queries.acceptLevels, (std::vector<int>{1, 3}));
}

TEST_F(MetaElementTest, HereAndMatch) {
  vars().setVariable("__Here", "Alice,Bob");
  vars().setVariable("__Sentence", "good morning");
  expectTalks({
      {"%here[Bob]", "1"},
      {"%here[Carol]", "0"},
      {"%here[]", finalReport("%here[]", 1)},
      {"%match[morning]", "1"},
      {"%match[night]", "0"},
      {"%match[]", finalReport("%match[]", 1)},
  });
}

TEST_F(MetaElementTest, TalkInterval) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"+", "240"}, {"-", "60"},  {"+30", "150"}, {"-200", "0"},
      {"45", "45"}, {"10 * 6", "60"}, {"-5 + 1", "116"}, {"0 - 5", "0"},
  };
  for (const auto& [body, expected] : cases) {
    engine.setTalkInterval(120);
    EXPECT_EQ(raw("\\ti[" + body + "]"), "\"\"") << body;
    EXPECT_EQ(variable("__TalkInterval"), expected) << body;
  }
  engine.setTalkInterval(1u << 30);
  talk("\\ti[+]");
  EXPECT_EQ(engine.talkInterval(), 0);
  engine.setTalkInterval(100);
  talk("\\ti[1e300]");
  EXPECT_EQ(variable("__TalkInterval"), "4294967295");
  EXPECT_EQ(talk("\\ti[]"), finalReport("\\\\ti[]", 1));
}

TEST_F(MetaElementTest, TalkIntervalAccessors) {
  EXPECT_EQ(engine.talkInterval(), 0);
  engine.setTalkInterval(90);
  EXPECT_EQ(engine.talkInterval(), 90);
  EXPECT_EQ(variable("__TalkInterval"), "90");
  engine.setTalkIntervalText("99999999999");
  EXPECT_EQ(engine.talkInterval(), 2147483647);
  engine.setTalkIntervalText("soon");
  EXPECT_EQ(variable("__TalkInterval"), "\"soon\"");
  EXPECT_EQ(engine.talkInterval(), 0);
}

TEST_F(MetaElementTest, TokenTalksRaw) {
  addEntry("Greet", "\"hi\" there");
  EXPECT_EQ(raw("%token[Greet]"), "\"hi\" there");
  EXPECT_EQ(talk("%token[Greet]"), "hi there");
  EXPECT_EQ(talk("%token[Nobody]"), "");
  EXPECT_EQ(talk("%token[]"), finalReport("%token[]", 1));
}

TEST_F(MetaElementTest, CommunicationResemblance) {
  EXPECT_EQ(talk("%commu[hello]"), finalReport("%commu[hello]", 1));
  engine.setKnowledgeQueries(&queries);
  EXPECT_EQ(talk("%commu[hello]"), "0");  // nothing stored yet
  EXPECT_TRUE(queries.thinkCalls.empty());

  event.segments = {u"a", u"bc", u"d"};
  vars().setVariable("__Security_level", "local");
  queries.result = 2;
  queries.segmentsToReturn = {u"bc", u"a"};
  EXPECT_EQ(talk("%commu[hello]"), "100");
  ASSERT_EQ(queries.thinkCalls.size(), 1u);
  EXPECT_EQ(queries.thinkCalls[0],
            (std::vector<std::u16string>{u"__zelka_kernel", u"local", u"hello"}));
  EXPECT_EQ(queries.acceptLevels, std::vector<int>{1});
  EXPECT_EQ(variable("__Think_accept"), "1");
  EXPECT_EQ(variable("__Think_state"), "2");

  queries.segmentsToReturn = {u"bc", u"x"};
  EXPECT_EQ(talk("%commu[hello]"), "50");
  queries.segmentsToReturn = {u"x", u"y", u"d"};
  EXPECT_EQ(talk("%commu[hello]"), "33");
  queries.segmentsToReturn.clear();
  EXPECT_EQ(talk("%commu[hello]"), "0");
  EXPECT_EQ(talk("%commu[]"), finalReport("%commu[]", 1));
}

TEST_F(MetaElementTest, CommunicationIsLoggedAtRunLevelsThreeAndFour) {
  openLog(3);
  engine.setKnowledgeQueries(&queries);
  event.segments = {u"a", u"b"};
  queries.segmentsToReturn = {u"a", u"c"};
  EXPECT_EQ(talk("%commu[ac]"), "50");
  EXPECT_EQ(logText(),
            "\nexpression automatic segmentation result: \na c \n\n"
            "__Think_accept: 1\n__Think_state: 0\n\n"
            "%commu checking: a b / a c = 50%\n\n");
}

TEST_F(MetaElementTest, CategoriesAndUnification) {
  EXPECT_EQ(talk("%me[food]"), finalReport("%me[food]", 1));
  EXPECT_EQ(talk("%unify[cat,animal]"), finalReport("%unify[cat,animal]", 1));
  engine.setKnowledgeQueries(&queries);
  queries.associations[u"food"] = u"apple";
  queries.unifications[u"cat,animal"] = u"yes";
  expectTalks({
      {"%me[food]", "apple"},
      {"\\me[food]", "apple"},
      {"%m?[food]|%[0]", "apple|apple"},
      {"%mz[stone]", finalReport("%mz[stone]", 1)},
      {"%unify[cat,animal]", "yes"},
      {"%unify[dog,animal]", finalReport("%unify[dog,animal]", 1)},
  });
  EXPECT_FALSE(queries.unifyArguments.front().second);

  // Without a body the configured category of the element's name is asked for.
  {
    std::ofstream file(directory_ / "zelkaconf.xml", std::ios::binary);
    file << "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<ZelkaConfiguration>"
            "<DefaultCategory><Define type=\"ms\" category=\"person\"/></DefaultCategory>"
            "</ZelkaConfiguration>\n";
  }
  ZelkaConfig config;
  ASSERT_TRUE(config.read(toWide(directory_.string() + "/")));
  engine.setConfig(&config);
  queries.associations[u"person"] = u"Alice";
  EXPECT_EQ(talk("%ms"), "Alice");
  EXPECT_EQ(queries.associateArguments.back(), u"person");
}

TEST_F(MetaElementTest, UserNameScopePercentAndPassThrough) {
  vars().setVariable("y", "3");
  expectTalks({
      {"%username", "%username"},
      {"\\0[10]\\0[11]\\1[5]\\1\\0", "\\0\\s[10]\\s[11]\\1\\s[5]\\1\\0"},
      {"100% sure", "100%sure"},
      {"%selfname", "%selfname"},
      {"%other(a)[b]", "%other(a)[b]"},
      {"\\j[x]", "\\j[x]"},
      {"\\selfname2", "\\selfname2"},
      {"\\screenwidth", "\\screenwidth"},
      {"\\s[%[y]]", "\\s[3]"},
      {"\\abcd", finalReport("\\\\abcd", 1)},
      {"\\reflex[y]", finalReport("\\\\reflex[y]", 1)},
  });
  EXPECT_EQ(event.rememberedScope, "0");
  vars().setVariable("__Username", "Taro");
  EXPECT_EQ(talk("%username"), "Taro");
  EXPECT_EQ(talk("%exh"), "0");
  event.exhValue = 4000000000u;
  EXPECT_EQ(talk("%exh"), "4000000000");
}

}  // namespace
}  // namespace zelka
