#include "stores/sentence_journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"
#include "support/xmllint.h"

namespace zelka {
namespace {

using testing::TempDir;
using testing::xpath;

TEST(SentenceJournalTest, AbsentFileIsCreatedWithTheRootOnly) {
  TempDir dir{"journal"};
  {
    SentenceJournalStore store;
    EXPECT_TRUE(store.load(dir.wide("journal.xml")));
    EXPECT_TRUE(store.root());
  }
  auto file = dir / "journal.xml";
  EXPECT_EQ(testing::readBytes(file).rfind("<?xml version='1.0' encoding='Shift_JIS'?>", 0), 0u);
  EXPECT_EQ(xpath(file, "count(/SentenceJournal)"), "1");
  EXPECT_EQ(xpath(file, "count(/SentenceJournal/node())"), "0");
}

TEST(SentenceJournalTest, ForeignContentIsWrittenBackUnchanged) {
  TempDir dir{"journal-foreign"};
  testing::writeBytes(dir / "journal.xml",
                      "<?xml version='1.0' encoding='Shift_JIS'?>\n"
                      "<SentenceJournal><Entry who=\"x\" at=\"1\">\x94\x4c</Entry>"
                      "<!-- kept --></SentenceJournal>\n");
  {
    SentenceJournalStore store;
    ASSERT_TRUE(store.load(dir.wide("journal.xml")));
  }
  auto file = dir / "journal.xml";
  EXPECT_EQ(xpath(file, "string(/SentenceJournal/Entry/@who)"), "x");
  EXPECT_EQ(xpath(file, "string(/SentenceJournal/Entry)"), "\xE7\x8C\xAB");
  EXPECT_EQ(xpath(file, "count(/SentenceJournal/comment())"), "1");
}

TEST(SentenceJournalTest, BrokenFileIsKeptAsideAndReplaced) {
  TempDir dir{"journal-broken"};
  testing::writeBytes(dir / "journal.xml", "<SentenceJournal><unclosed>");
  SentenceJournalStore store;
  EXPECT_TRUE(store.load(dir.wide("journal.xml")));
  EXPECT_EQ(xpath(dir / "journal.xml", "count(/SentenceJournal/node())"), "0");
  int aside = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    if (entry.path().filename().string().rfind("journal.xml.broken-", 0) == 0) {
      ++aside;
      EXPECT_EQ(testing::readBytes(entry.path()), "<SentenceJournal><unclosed>");
    }
  }
  EXPECT_EQ(aside, 1);
}

TEST(SentenceJournalTest, UnwritableLocationFailsTheLoad) {
  TempDir dir{"journal-nowhere"};
  SentenceJournalStore store;
  EXPECT_FALSE(store.load(dir.wide("missing-dir/journal.xml")));
  EXPECT_FALSE(store.save());
}

}  // namespace
}  // namespace zelka
