#include "util/text.h"

#include <gtest/gtest.h>

namespace zelka {
namespace {

TEST(Text, TrimRemovesTheTokenFromEitherEnd) {
  struct Case {
    std::string in;
    char token;
    std::string left, right, both;
  };
  const Case cases[] = {
      {"  word   ", ' ', "word   ", "  word", "word"},
      {"", ' ', "", "", ""},
      {"   ", ' ', "", "", ""},
      {"\"\"quoted\"", '"', "quoted\"", "\"\"quoted", "quoted"},
      {"x", ' ', "x", "x", "x"},
  };
  for (const Case& c : cases) {
    std::string a = c.in, b = c.in, d = c.in;
    EXPECT_EQ(trimLeft(a, c.token), c.left);
    EXPECT_EQ(trimRight(b, c.token), c.right);
    EXPECT_EQ(trim(d, c.token), c.both);
  }
  std::string defaulted = "  word   ";
  EXPECT_EQ(trim(defaulted), "word");
}

TEST(Text, CollapseSpacesNarrow) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"   a   b", "a b"},
      {"a \"x  y\"   b", "a \"x  y\" b"},   // quoted run kept, outside reduced
      {"a   ", "a "},                      // a trailing run becomes one space
      {"\"a  b", "\"a  b"},                // unclosed quote keeps everything after it
      {"\"q\"  z", "\"q\" z"},             // closing quote is ordinary: next spaces collapse
      {"\xb1  x", "\xb1  x"},              // half-width kana swallows the next byte
      {"\x82\xa0  x", "\x82\xa0 x"},       // a real two-byte character
      {"\x82", "\x82"},                    // lead byte at the end
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string text = c.in;
    EXPECT_TRUE(collapseSpaces(text));
    EXPECT_EQ(text, c.out) << c.in;
  }
}

TEST(Text, CollapseSpacesWide) {
  struct Case {
    std::u16string in, out;
  };
  const Case cases[] = {
      {u"  a   b  ", u"a b "},
      {u"x \"  \"  y", u"x \"  \" y"},
      {u"\uff71  x", u"\uff71 x"},   // no lead-byte rule for wide text
  };
  for (const Case& c : cases) {
    std::u16string text = c.in;
    EXPECT_TRUE(collapseSpaces(text));
    EXPECT_EQ(text, c.out);
  }
  std::u16string tabs = u"\ta\t\tb";
  EXPECT_TRUE(tabsToSpaces(tabs));
  EXPECT_EQ(tabs, u" a  b");
  std::string narrowTabs = "a\tb";
  tabsToSpaces(narrowTabs);
  EXPECT_EQ(narrowTabs, "a b");
}

TEST(Text, SplitQuoted) {
  struct Case {
    std::string text, separator;
    std::vector<std::string> pieces;
  };
  const Case cases[] = {
      {"a  b", " ", {"a", "", "b"}},                 // empty piece between separators
      {"a b ", " ", {"a", "b"}},                      // no empty last piece
      {" a", " ", {"", "a"}},
      {"\"x y\" z", " ", {"\"x y\"", "z"}},           // quotes stay in the piece
      {"a,,b", ",,", {"a", "b"}},                     // longer separator
      {"\xb1 x", " ", {"\xb1", "x"}},                 // kana followed by a space splits
      {"\x95\x5c" "a\\b", "\\", {"\x95\x5c" "a", "b"}},  // trail byte 0x5C is not a separator
      {"", " ", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> narrow{"stale"};
    EXPECT_TRUE(splitQuotedNarrow(c.text, c.separator, narrow));
    EXPECT_EQ(narrow, c.pieces) << c.text;
    std::vector<std::u16string> wide{u"stale"};
    EXPECT_TRUE(splitQuoted(c.text, c.separator, wide));
    ASSERT_EQ(wide.size(), c.pieces.size()) << c.text;
    for (std::size_t i = 0; i < wide.size(); ++i) EXPECT_EQ(wide[i], toWide(c.pieces[i]));
  }
  std::vector<std::u16string> wide;
  EXPECT_TRUE(splitQuoted(std::u16string_view(u"A B 0 "), u" ", wide));
  EXPECT_EQ(wide, (std::vector<std::u16string>{u"A", u"B", u"0"}));
  EXPECT_FALSE(splitQuoted(std::u16string_view(u"a"), u"", wide));
  EXPECT_FALSE(splitQuoted(std::string_view("a"), "", wide));
}

TEST(Text, StripEnclosing) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"\"word\"", "word"},
      {"\"word\\\"", "\"word\\\""},   // escaped closing quote: unchanged
      {"\"\"", ""},
      {"\"", "\""},
      {"\"word", "\"word"},
      {"word\"", "word\""},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string text = c.in;
    EXPECT_TRUE(stripEnclosing(text, '"', '"'));
    EXPECT_EQ(text, c.out) << c.in;
  }
  std::string braces = "(x)";
  EXPECT_TRUE(stripEnclosing(braces, '(', ')'));
  EXPECT_EQ(braces, "x");
  EXPECT_FALSE(stripEnclosing(braces, '\0', '\0'));
}

TEST(Text, FileNameOf) {
  struct Case {
    std::string path, name;
  };
  const Case cases[] = {
      {"dir/sub/name.ext", "name.ext"},
      {"C:\\ghost\\master\\talk.tlk", "talk.tlk"},
      {"C:talk.tlk", "talk.tlk"},
      {"talk.tlk", "talk.tlk"},
      {"dir/", ""},
      {"d\\\x95\x5c.tlk", "\x95\x5c.tlk"},   // 0x5C inside a two-byte character
      {"/a\\b/c", "c"},
  };
  for (const Case& c : cases) EXPECT_EQ(fileNameOf(c.path), c.name) << c.path;
}

}  // namespace
}  // namespace zelka
