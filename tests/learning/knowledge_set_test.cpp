#include "learning/knowledge_set.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "config/zelka_config.h"
#include "support/temp_dir.h"
#include "support/xmllint.h"

namespace zelka {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::xpath;

// Writes zelkaconf.xml into the directory; an empty value leaves the attribute out.
void writeConfig(const fs::path& dir, const std::string& thinkWait,
                 const std::string& learning = "_learning/") {
  std::string profile = thinkWait.empty() ? "" : " think_wait=\"" + thinkWait + "\"";
  std::string directory =
      learning.empty() ? "" : "<Directory type=\"learning\" name=\"" + learning + "\"/>";
  testing::writeBytes(dir / "zelkaconf.xml",
                      "<?xml version='1.0' encoding='Shift_JIS'?>\n"
                      "<ZelkaConfiguration><GhostProfile ghost_name=\"t\"" + profile + "/>"
                      "<RunEnvironment runlevel=\"0\">" + directory + "</RunEnvironment>"
                      "</ZelkaConfiguration>\n");
}

std::u16string moduleDir(const TempDir& dir) { return dir.path().u16string() + u"/"; }

TEST(KnowledgeSetTest, EmptyLearningDirectoryGetsFourFreshFiles) {
  TempDir dir{"kset"};
  writeConfig(dir.path(), "7");
  ZelkaConfig config;
  ASSERT_TRUE(config.read(moduleDir(dir)));
  KnowledgeSet set;
  ASSERT_TRUE(set.load(moduleDir(dir), &config));
  EXPECT_EQ(set.learningDirectory(), moduleDir(dir) + u"_learning/");
  EXPECT_EQ(set.thinking().thinkWait(), 7);

  fs::path learning = dir / "_learning";
  struct File {
    const char* name;
    const char* root;
  };
  for (const File& f : {File{"bind.xml", "Bind"}, File{"index.xml", "WordIndexes"},
                        File{"journal.xml", "SentenceJournal"},
                        File{"neuron.xml", "NeuronStructure"}}) {
    EXPECT_EQ(xpath(learning / f.name, std::string("count(/") + f.root + ")"), "1") << f.name;
    EXPECT_EQ(xpath(learning / f.name, std::string("count(/") + f.root + "/node())"), "0")
        << f.name;
  }
  EXPECT_EQ(xpath(learning / "bind.xml", "string(/Bind/@name)"), "root");
  EXPECT_TRUE(set.bindNetwork().root());
  EXPECT_TRUE(set.wordIndex().root());
  EXPECT_TRUE(set.sentenceJournal().root());
  EXPECT_TRUE(set.neuronNetwork().structureRoot());
}

TEST(KnowledgeSetTest, ThinkWaitIsReadLikeAtoi) {
  struct Case {
    const char* value;
    int wait;
  };
  const Case cases[] = {
      {"5", 5}, {"abc", 0}, {"12abc", 12}, {" 3", 3}, {"-2", -2}, {"", 5},
      {"99999999999999999999", 2147483647},
  };
  for (const Case& c : cases) {
    TempDir dir{"kset-wait"};
    writeConfig(dir.path(), c.value);
    ZelkaConfig config;
    ASSERT_TRUE(config.read(moduleDir(dir)));
    KnowledgeSet set;
    ASSERT_TRUE(set.load(moduleDir(dir), &config));
    EXPECT_EQ(set.thinking().thinkWait(), c.wait) << "think_wait=\"" << c.value << "\"";
  }
}

TEST(KnowledgeSetTest, AFailingStoreLeavesTheOthersLoadedAndTheDefaultWait) {
  TempDir dir{"kset-fail"};
  writeConfig(dir.path(), "9");
  fs::create_directories(dir / "_learning" / "index.xml");  // a directory cannot be read
  ZelkaConfig config;
  ASSERT_TRUE(config.read(moduleDir(dir)));
  KnowledgeSet set;
  EXPECT_FALSE(set.load(moduleDir(dir), &config));
  EXPECT_EQ(set.thinking().thinkWait(), 5);
  EXPECT_TRUE(set.bindNetwork().root());
  EXPECT_FALSE(set.wordIndex().root());
  EXPECT_TRUE(set.sentenceJournal().root());
  EXPECT_TRUE(set.neuronNetwork().structureRoot());
  EXPECT_TRUE(fs::is_regular_file(dir / "_learning" / "neuron.xml"));
  EXPECT_FALSE(set.save());  // the index has nowhere to go
}

TEST(KnowledgeSetTest, ModuleDirectoryAndLearningValueAreGluedTogether) {
  TempDir dir{"kset-glue"};
  writeConfig(dir.path(), "5", "learn/");
  ZelkaConfig config;
  ASSERT_TRUE(config.read(moduleDir(dir)));
  // No separator after the module directory's last component.
  std::u16string glued = dir.wide("mod");
  KnowledgeSet set;
  ASSERT_TRUE(set.load(glued, &config));
  EXPECT_TRUE(fs::is_regular_file(dir / "modlearn" / "bind.xml"));
  EXPECT_TRUE(fs::is_regular_file(dir / "modlearn" / "neuron.xml"));
}

TEST(KnowledgeSetTest, MissingConfigurationTouchesNothing) {
  TempDir dir{"kset-noconf"};
  KnowledgeSet set;
  EXPECT_FALSE(set.load(moduleDir(dir), nullptr));
  EXPECT_TRUE(fs::is_empty(dir.path()));
  EXPECT_EQ(set.thinking().thinkWait(), 5);
}

TEST(KnowledgeSetTest, UnrepresentablePathCreatesNoStrayDirectory) {
  TempDir dir{"kset-path"};
  writeConfig(dir.path(), "8");
  ZelkaConfig config;
  ASSERT_TRUE(config.read(moduleDir(dir)));
  KnowledgeSet set;
  EXPECT_FALSE(set.load(dir.wide("x") + u"\U0001F600/", &config));
  EXPECT_EQ(set.thinking().thinkWait(), 5);
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    EXPECT_EQ(entry.path().filename(), "zelkaconf.xml");
  }
}

TEST(KnowledgeSetTest, SaveAndDestructionWriteEveryStore) {
  TempDir dir{"kset-save"};
  writeConfig(dir.path(), "5");
  ZelkaConfig config;
  ASSERT_TRUE(config.read(moduleDir(dir)));
  fs::path learning = dir / "_learning";
  {
    KnowledgeSet set;
    ASSERT_TRUE(set.load(moduleDir(dir), &config));
    BindNode a;
    ASSERT_TRUE(a.addChild(set.bindNetwork().root(), u"a"));
    ASSERT_TRUE(set.save());
    EXPECT_EQ(xpath(learning / "bind.xml", "string(/Bind/Bind/@name)"), "a");

    Neuron n = set.neuronNetwork().createNeuron();
    n.addExpressions({u"word"});
    IndexEntry e;
    ASSERT_TRUE(e.create(set.wordIndex().root(), u"word"));
    e.addAlias(n.name());
    set.sentenceJournal().root().appendChild(u"Note");
    BindNode b;
    ASSERT_TRUE(b.addChild(set.bindNetwork().root(), u"b"));
    EXPECT_EQ(xpath(learning / "index.xml", "count(//Index)"), "0");
  }
  EXPECT_EQ(xpath(learning / "bind.xml", "count(/Bind/Bind)"), "2");
  EXPECT_EQ(xpath(learning / "index.xml", "string(//Index/@name)"), "word");
  EXPECT_EQ(xpath(learning / "journal.xml", "count(/SentenceJournal/Note)"), "1");
  EXPECT_EQ(xpath(learning / "neuron.xml", "string(//Expression/@name)"), "word");
  EXPECT_EQ(xpath(learning / "neuron.xml", "string(//Neuron/@name)"),
            xpath(learning / "index.xml", "string(//Alias/@name)"));

  KnowledgeSet again;
  ASSERT_TRUE(again.load(moduleDir(dir), &config));
  EXPECT_TRUE(again.bindNetwork().root().findChild(u"b", 0));
  EXPECT_EQ(again.wordIndex().findWord(u"word").entry.firstAlias().size(), 20u);
}

// The periodic save takes only the stores edited since their last save, never while a think
// pass runs, and an edit made after a snapshot keeps its store edited when the snapshot is
// marked saved.
TEST(KnowledgeSetTest, SnapshotsTakeOnlyEditedStoresAndNeverDuringAPass) {
  TempDir dir{"kset-changed"};
  writeConfig(dir.path(), "1000");
  ZelkaConfig config;
  ASSERT_TRUE(config.read(moduleDir(dir)));
  KnowledgeSet set;
  ASSERT_TRUE(set.load(moduleDir(dir), &config));
  std::vector<StoreSnapshot> taken;
  auto snapshot = [&] {
    taken.clear();
    const bool done = set.snapshotChanged(taken);
    std::set<std::string> names;
    for (const StoreSnapshot& s : taken) names.insert(fs::path(s.path).filename().string());
    return done ? names : std::set<std::string>{"<postponed>"};
  };
  using Names = std::set<std::string>;

  EXPECT_EQ(snapshot(), Names{});
  IndexEntry entry;
  ASSERT_TRUE(entry.create(set.wordIndex().root(), u"word"));
  EXPECT_EQ(snapshot(), Names{"index.xml"});
  EXPECT_EQ(taken[0].path, (dir / "_learning" / "index.xml").string());
  EXPECT_NE(taken[0].bytes.find("<Index name=\"word\""), std::string::npos);
  EXPECT_EQ(snapshot(), Names{"index.xml"}) << "not marked saved: taken again";
  const StoreSnapshot first = taken[0];
  IndexEntry later;
  ASSERT_TRUE(later.create(set.wordIndex().root(), u"later"));
  set.markSaved(first);
  EXPECT_EQ(snapshot(), Names{"index.xml"}) << "an edit after the snapshot was dropped";
  set.markSaved(taken[0]);
  EXPECT_EQ(snapshot(), Names{});

  // A long text keeps the pass busy (the think wait is far off); accepting stops it.
  std::u16string text;
  for (int i = 0; i < 200000; ++i) text.push_back(static_cast<char16_t>(0x4E00 + i % 3000));
  set.thinking().startThinking(u"Anna", u"", text, 0);
  EXPECT_EQ(snapshot(), Names{"<postponed>"});
  EXPECT_TRUE(taken.empty());
  set.thinking().acceptThinking(1);
  BindNode added;   // the pass may have been stopped before it learned anything
  ASSERT_TRUE(added.addChild(set.bindNetwork().root(), u"a"));
  EXPECT_EQ(snapshot(), Names{"bind.xml"});
}

TEST(KnowledgeSetTest, RandomUpToStaysInRange) {
  KnowledgeSet set;
  EXPECT_EQ(set.randomUpTo(0), 0);
  std::set<int> seen;
  for (int i = 0; i < 2000; ++i) {
    EXPECT_EQ(set.randomUpTo(1), 1);
    int r = set.randomUpTo(7);
    ASSERT_GE(r, 1);
    ASSERT_LE(r, 7);
    seen.insert(r);
  }
  EXPECT_EQ(seen.size(), 7u);
}

}  // namespace
}  // namespace zelka
