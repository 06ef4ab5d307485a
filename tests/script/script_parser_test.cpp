#include "script/script_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text_codec.h"

namespace zelka {
namespace {

std::string describe(const std::vector<ScriptElement>& list);

// Plain text as 'text'; a meta element as <kind name A:arguments B:body B:body>.
std::string describe(const ScriptElement& element) {
  if (!element.isMeta()) return "'" + toNarrow(element.text) + "'";
  std::string out = "<" + toNarrow(element.kind) + toNarrow(element.name);
  if (!element.arguments.empty()) out += " A:" + describe(element.arguments);
  for (const auto& body : element.bodies) out += " B:" + describe(body);
  return out + ">";
}

std::string describe(const std::vector<ScriptElement>& list) {
  std::string out;
  for (const ScriptElement& element : list) out += describe(element);
  return out;
}

std::string parsed(std::u16string_view text) {
  std::vector<ScriptElement> list;
  parseScript(text, &list);
  return describe(list);
}

struct ParseCase {
  std::u16string_view script;
  std::string expected;
};

TEST(ScriptParserTest, ElementTrees) {
  const ParseCase cases[] = {
      {u"Hello %if(1){world}", "'Hello '<%if A:'(1)' B:'{world}'>"},
      // Text between a chain's closing brace and its else part is dropped, not text before if.
      {u"a %if(0){x} y else{z}", "'a '<%if A:'(0)' B:'{x}'><+else B:'{z}'>"},
      {u"%if(0){a}elseif(1){b}else{c}",
       "<%if A:'(0)' B:'{a}'><+elseif A:'(1)' B:'{b}'><+else B:'{c}'>"},
      // Without an else the text after the chain stays.
      {u"%if(0){a} x", "<%if A:'(0)' B:'{a}'>' x'"},
      // A percent sign ends chain mode: the else is plain text then.
      {u"%if(0){a}%x else{b}", "<%if A:'(0)' B:'{a}'><%x>'else{b}'"},
      {u"\\s[10]", "<\\s B:'[10]'>"},
      {u"%other[x]", "<%other B:'[x]'>"},
      // A percent sign before a group is the reflex element.
      {u"%[name]", "<%reflex B:'[name]'>"},
      {u"%(int)[name]", "<%reflex A:'(int)' B:'[name]'>"},
      // Blanks and line feeds between the name and its groups are skipped.
      {u"%token [x] y", "<%token B:'[x]'>' y'"},
      {u"%abc\n[x]", "<%abc B:'[x]'>"},
      {u"%rand [1, 2]", "<%rand B:'[1, 2]'>"},
      // One-character names.
      {u"100% sure", "'100'<% >'sure'"},
      {u"\\-x", "<\\->'x'"},
      // Nested elements inside a body.
      {u"%a[x%b[y]z]", "<%a B:'[x'<%b B:'[y]'>'z]'>"},
      {u"%a[1][2]{3}", "<%a B:'[1]' B:'[2]' B:'{3}'>"},
      {u"%a[[b]c]", "<%a B:'[[b]c]'>"},
      // Chain bodies always use braces.
      {u"%if(1){a[b]}", "<%if A:'(1)' B:'{a[b]}'>"},
      // Braces belong to the chain's own parts only: a chained "elsewhere" ends at its "]".
      {u"%if(0){a}elsewhere[x] tail", "<%if A:'(0)' B:'{a}'><+elsewhere B:'[x]'>' tail'"},
      {u"%if(0){a}elsex{b}[c]d", "<%if A:'(0)' B:'{a}'><+elsex B:'{b}' B:'[c]'>'d'"},
      // Quoted text is never parsed; line feeds are dropped even there.
      {u"\"%[x]\" y", "'\"%[x]\" y'"},
      {u"a\nb\"c\nd\"", "'ab\"cd\"'"},
      // Escapes keep both characters and lose their meaning.
      {u"a\\\"%[x]", "'a\\\"'<%reflex B:'[x]'>"},
      {u"\\\\%[x]", "'\\\\'<%reflex B:'[x]'>"},
      {u"%x[a\\]b]", "<%x B:'[a\\]b]'>"},
      // A percent sign that starts nothing stays, with the next character.
      {u"50%.", "'50%.'"},
      {u"50%", "'50%'"},
      {u"%\nab", "'%ab'"},
      {u"%f[50%] x]", "<%f B:'[50%] x]'>"},
      // An unclosed quote is closed at the end.
      {u"\"abc", "'\"abc\"'"},
      // An unclosed group drops the last element of its list.
      {u"%x[abc", "<%x B:>"},
      {u"%x[a%y[b]c", "<%x B:'[a'<%y B:'[b]'>>"},
      {u"%x(1", "<%x>"},
      {u"", ""},
  };
  for (const ParseCase& c : cases) {
    EXPECT_EQ(parsed(c.script), c.expected) << toNarrow(c.script);
  }
}

TEST(ScriptParserTest, MetaElementTextIsRebuiltFromItsParts) {
  std::vector<ScriptElement> list;
  parseScript(u"%rand \n [1, 2]", &list);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].text, u"%rand[1, 2]");

  list.clear();
  parseScript(u"%[x]", &list);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].text, u"%reflex[x]");

  list.clear();
  parseScript(u"%a(%b[c])[d]", &list);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].text, u"%a(%b[c])[d]");
}

TEST(ScriptParserTest, ConsumedCounts) {
  std::vector<ScriptElement> list;
  EXPECT_EQ(parseScript(u"[ab]cd", &list, BracketPair{u'[', u']'}), 4);
  EXPECT_EQ(parseScript(u"abc", nullptr), -1);

  ScriptElement element;
  bool chain = false;
  EXPECT_EQ(parseMetaElement(u"%x[1] rest", true, element, chain), 0u);
  EXPECT_EQ(parseMetaElement(u"%\nx", false, element, chain), 1u);
  EXPECT_EQ(parseMetaElement(u"%x[1] rest", false, element, chain), 5u);
  EXPECT_FALSE(chain);
  EXPECT_EQ(parseMetaElement(u"%if(1){a}", false, element, chain), 9u);
  EXPECT_TRUE(chain);
  EXPECT_EQ(parseMetaElement(u"else{b}", false, element, chain), 7u);
  EXPECT_EQ(element.kind, u"+");
  EXPECT_EQ(element.name, u"else");
}

int treeDepth(const std::vector<ScriptElement>& list) {
  int deepest = 0;
  for (const ScriptElement& element : list) {
    int inner = treeDepth(element.arguments);
    for (const auto& body : element.bodies) inner = std::max(inner, treeDepth(body));
    if (element.isMeta()) deepest = std::max(deepest, inner + 1);
  }
  return deepest;
}

TEST(ScriptParserTest, DeepNestingIsBounded) {
  const int levels = 100000;
  const std::u16string shapes[][2] = {{u"%a[", u"]"}, {u"%a(", u")"}, {u"%a{", u"}"},
                                      {u"%if(1){", u"}"}, {u"%[", u"]"}};
  for (const auto& shape : shapes) {
    std::u16string text;
    for (int i = 0; i < levels; ++i) text += shape[0];
    text += u"x";
    for (int i = 0; i < levels; ++i) text += shape[1];
    std::vector<ScriptElement> list;
    EXPECT_EQ(parseScript(text, &list), static_cast<long>(text.size()));
    EXPECT_LE(treeDepth(list), kMaxParseDepth + 1);
    EXPECT_GE(treeDepth(list), kMaxParseDepth);

    // The same without its closing half.
    text.resize(text.size() - static_cast<std::size_t>(levels));
    list.clear();
    EXPECT_EQ(parseScript(text, &list), static_cast<long>(text.size()));
    EXPECT_LE(treeDepth(list), kMaxParseDepth + 1);
  }
}

TEST(ScriptParserTest, UnbalancedInputParsesToTheEnd) {
  const std::u16string texts[] = {
      std::u16string(100000, u'['), std::u16string(100000, u']'),
      std::u16string(100000, u'('), std::u16string(100000, u'{'),
      std::u16string(100001, u'"'), std::u16string(100000, u'%'),
      std::u16string(100000, u'\\'),
  };
  for (const std::u16string& text : texts) {
    std::vector<ScriptElement> list;
    EXPECT_EQ(parseScript(text, &list), static_cast<long>(text.size()));
  }
}

}  // namespace
}  // namespace zelka
