#include "stores/word_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/xmllint.h"

namespace zelka {
namespace {

using testing::TempDir;
using testing::xpath;
using Keys = std::vector<std::u16string>;

class WordIndexTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(store_.load(dir_.wide("index.xml"))); }

  // Creates the word's entry the way learning does: with the neighbour findWord reported.
  IndexEntry learn(std::u16string_view word) {
    WordIndexStore::Lookup found = store_.findWord(word);
    EXPECT_FALSE(found.entry);
    IndexEntry entry;
    EXPECT_TRUE(entry.create(store_.root(), word, found.neighbour));
    return entry;
  }

  std::vector<std::u16string> words() {
    std::vector<std::u16string> out;
    for (XmlNode e = store_.root().firstChild(); e; e = e.nextSibling()) {
      out.push_back(e.attribute(u"name").value_or(u"?"));
    }
    return out;
  }

  TempDir dir_{"index"};
  WordIndexStore store_;
};

TEST_F(WordIndexTest, FreshStoreHoldsAnEmptyIndex) {
  auto file = dir_ / "index.xml";
  EXPECT_EQ(xpath(file, "count(/WordIndexes)"), "1");
  EXPECT_EQ(xpath(file, "count(/WordIndexes/node())"), "0");
  WordIndexStore::Lookup found = store_.findWord(u"anything");
  EXPECT_FALSE(found.entry);
  EXPECT_FALSE(found.neighbour);
}

TEST_F(WordIndexTest, EntriesStaySortedByCodeUnits) {
  for (std::u16string_view w : {u"b", u"a", u"c", u"B", u"ab", u"\u732b", u"A"}) learn(w);
  EXPECT_EQ(words(), (Keys{u"A", u"B", u"a", u"ab", u"b", u"c", u"\u732b"}));
  WordIndexStore::Lookup found = store_.findWord(u"ab");
  ASSERT_TRUE(found.entry);
  EXPECT_EQ(found.entry.element().attribute(u"name"), u"ab");
  // Case matters: a different entry.
  EXPECT_FALSE(store_.findWord(u"AB").entry);

  ASSERT_TRUE(store_.save());
  auto file = dir_ / "index.xml";
  EXPECT_EQ(xpath(file, "string(/WordIndexes/Index[1]/@name)"), "A");
  EXPECT_EQ(xpath(file, "string(/WordIndexes/Index[3]/@name)"), "a");
  EXPECT_EQ(xpath(file, "string(/WordIndexes/Index[7]/@name)"), "\xE7\x8C\xAB");
}

TEST_F(WordIndexTest, CreateWithoutNeighbourRefusesADuplicate) {
  IndexEntry a;
  ASSERT_TRUE(a.create(store_.root(), u"a"));
  IndexEntry z;
  ASSERT_TRUE(z.create(store_.root(), u"z"));
  IndexEntry m;
  ASSERT_TRUE(m.create(store_.root(), u"m"));
  std::string before = store_.serialize();
  IndexEntry again;
  EXPECT_FALSE(again.create(store_.root(), u"m"));
  EXPECT_FALSE(again);
  EXPECT_EQ(store_.serialize(), before);
  EXPECT_EQ(words(), (Keys{u"a", u"m", u"z"}));
  EXPECT_FALSE(IndexEntry().create(XmlNode(), u"x"));
}

TEST_F(WordIndexTest, AStaleNeighbourCannotBreakTheOrder) {
  learn(u"m");
  XmlNode m = store_.findWord(u"m").entry.element();
  // A neighbour that sorts before the word, and one from another document.
  IndexEntry z;
  ASSERT_TRUE(z.create(store_.root(), u"z", m));
  WordIndexStore other;
  ASSERT_TRUE(other.load(dir_.wide("other.xml")));
  IndexEntry foreign;
  ASSERT_TRUE(foreign.create(other.root(), u"q"));
  IndexEntry a;
  ASSERT_TRUE(a.create(store_.root(), u"a", foreign.element()));
  EXPECT_EQ(words(), (Keys{u"a", u"m", u"z"}));
}

TEST_F(WordIndexTest, AliasesAreNewestFirstAndNeverDuplicated) {
  IndexEntry e = learn(u"w");
  EXPECT_EQ(e.firstAlias(), u"");
  EXPECT_EQ(e.addAlias(u"k1"), 1);
  EXPECT_EQ(e.addAlias(u"k2"), 1);
  EXPECT_EQ(e.addAlias(u"k1"), 1);
  EXPECT_EQ(e.aliases(), (Keys{u"k1", u"k2"}));
  EXPECT_EQ(e.firstAlias(), u"k1");

  IndexEntry f = learn(u"v");
  f.addAlias(u"k3");
  EXPECT_EQ(f.addAliases({u"k1", u"k2"}), 2);
  EXPECT_EQ(f.aliases(), (Keys{u"k1", u"k2", u"k3"}));
  EXPECT_EQ(f.addAliases({u"k3", u"k2", u"k3", u""}), 2);
  EXPECT_EQ(f.aliases(), (Keys{u"k3", u"k2", u"k1"}));

  std::string before = store_.serialize();
  EXPECT_FALSE(f.removeAlias(u"k9"));
  EXPECT_EQ(store_.serialize(), before);
  EXPECT_TRUE(f.removeAlias(u"k2"));
  EXPECT_EQ(f.aliases(), (Keys{u"k3", u"k1"}));

  ASSERT_TRUE(store_.save());
  auto file = dir_ / "index.xml";
  EXPECT_EQ(xpath(file, "count(//Index[@name=\"v\"]/Alias)"), "2");
  EXPECT_EQ(xpath(file, "string(//Index[@name=\"v\"]/Alias[1]/@name)"), "k3");
}

TEST_F(WordIndexTest, KeysWithQuotesAreComparedNotInterpreted) {
  IndexEntry e = learn(u"w");
  const std::u16string tricky = u"a\"] | //Alias[@name=\"b";
  e.addAliases({u"a", tricky, u"b"});
  EXPECT_TRUE(e.removeAlias(tricky));
  EXPECT_EQ(e.aliases(), (Keys{u"a", u"b"}));
  EXPECT_FALSE(e.removeAlias(u"a\""));
  e.addAlias(u"it's \"quoted\"");
  EXPECT_EQ(e.firstAlias(), u"it's \"quoted\"");
}

TEST_F(WordIndexTest, EmptyEntryDoesNothing) {
  IndexEntry none;
  EXPECT_EQ(none.addAlias(u"k"), 0);
  EXPECT_FALSE(none.removeAlias(u"k"));
  EXPECT_EQ(none.firstAlias(), u"");
  EXPECT_TRUE(none.aliases().empty());
}

TEST(WordIndexHandEditedTest, OddEntriesAreSteppedOver) {
  TempDir dir{"index-edit"};
  testing::writeBytes(dir / "index.xml",
                      "<?xml version='1.0' encoding='Shift_JIS'?>\n"
                      "<WordIndexes>\n"
                      "  <!-- note -->\n"
                      "  <Index name=\"d\"><Alias name=\"k1\"/></Index>\n"
                      "  <Index><Alias name=\"lost\"/></Index>\n"
                      "  text\n"
                      "  <Index name=\"b\"><Alias/><Alias name=\"k2\"/><Note name=\"n\"/></Index>\n"
                      "  <Index name=\"b\"><Alias name=\"second\"/></Index>\n"
                      "  <Index name=\"c\"><Alias name=\"k3\"/><Alias name=\"k4\"/>"
                      "<Alias name=\"k3\"/></Index>\n"
                      "</WordIndexes>\n");
  {
    WordIndexStore store;
    ASSERT_TRUE(store.load(dir.wide("index.xml")));
    IndexEntry b = store.findWord(u"b").entry;
    ASSERT_TRUE(b);
    EXPECT_EQ(b.firstAlias(), u"");             // its first alias has no name
    EXPECT_EQ(b.aliases(), (Keys{u"k2"}));       // nameless and foreign children skipped
    IndexEntry c = store.findWord(u"c").entry;
    ASSERT_TRUE(c);
    c.addAlias(u"k3");                           // both hand-made copies go
    EXPECT_EQ(c.aliases(), (Keys{u"k3", u"k4"}));
    EXPECT_TRUE(store.findWord(u"d").entry);
    IndexEntry a;
    ASSERT_TRUE(a.create(store.root(), u"a", store.findWord(u"a").neighbour));
    a.addAlias(u"k0");
  }
  auto file = dir / "index.xml";
  ASSERT_TRUE(testing::wellFormed(file));
  EXPECT_EQ(xpath(file, "count(/WordIndexes/Index)"), "6");
  EXPECT_EQ(xpath(file, "string(/WordIndexes/Index[1]/@name)"), "a");
  EXPECT_EQ(xpath(file, "string(//Index[not(@name)]/Alias/@name)"), "lost");
  EXPECT_EQ(xpath(file, "string(//Index[@name=\"b\"][2]/Alias/@name)"), "second");
  EXPECT_EQ(xpath(file, "count(//comment())"), "1");
}

TEST(WordIndexFileTest, CharactersWithoutShiftJisFormSurviveTheFile) {
  TempDir dir{"index-chars"};
  const std::u16string circled = u"\u2460";   // only a code page 932 extension form
  const std::u16string emoji = u"\U0001F600";  // no Shift_JIS form at all
  {
    WordIndexStore store;
    ASSERT_TRUE(store.load(dir.wide("index.xml")));
    for (const std::u16string& w : {circled, emoji, std::u16string(u"\u732b")}) {
      IndexEntry e;
      ASSERT_TRUE(e.create(store.root(), w, store.findWord(w).neighbour));
      e.addAlias(u"NEUR" + w);
    }
  }
  auto file = dir / "index.xml";
  EXPECT_EQ(xpath(file, "string(//Index[Alias/@name=\"NEUR\xE2\x91\xA0\"]/@name)"), "\xE2\x91\xA0");
  EXPECT_EQ(xpath(file, "string(//Index[Alias/@name=\"NEUR\xF0\x9F\x98\x80\"]/@name)"),
            "\xF0\x9F\x98\x80");
  WordIndexStore reread;
  ASSERT_TRUE(reread.load(dir.wide("index.xml")));
  for (const std::u16string& w : {circled, emoji, std::u16string(u"\u732b")}) {
    IndexEntry e = reread.findWord(w).entry;
    ASSERT_TRUE(e);
    EXPECT_EQ(e.firstAlias(), u"NEUR" + w);
  }
}

}  // namespace
}  // namespace zelka
