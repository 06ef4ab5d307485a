#include "learning/dictionary_import.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "config/zelka_config.h"
#include "learning/concept_learning.h"
#include "learning/knowledge_set.h"
#include "learning/pending_imports.h"
#include "platform/text_codec.h"
#include "support/temp_dir.h"
#include "support/xmllint.h"
#include "util/problem_list.h"

namespace zelka {
namespace {

using testing::readBytes;
using testing::TempDir;
using testing::writeBytes;
using testing::xpath;

const std::string kHeader = "[ZELKA DICTIONARY]\n";

std::string sjis(std::u16string_view text) { return toNarrow(text); }
std::string utf8(std::u16string_view text) { return utf16ToUtf8(text); }

// Records what a dictionary teaches, one line of text per call.
class Recorder : public DictionaryLearner {
 public:
  void neuronFor(std::u16string_view word) override { calls.push_back(u"neuron " + w(word)); }
  void learnCategory(std::u16string_view category,
                     const std::vector<std::u16string>& words) override {
    std::u16string line = u"category " + w(category) + u":";
    for (const std::u16string& word : words) line += u" " + w(word);
    calls.push_back(line);
  }
  void learnWord(std::u16string_view word) override { calls.push_back(u"word " + w(word)); }

  std::vector<std::u16string> calls;

 private:
  static std::u16string w(std::u16string_view word) { return u"<" + std::u16string(word) + u">"; }
};

class DictionaryReadTest : public ::testing::Test {
 protected:
  // Writes the bytes as a dictionary file and reads it into the recorder.
  bool read(const std::string& bytes) {
    writeBytes(dir_ / "d.mem", bytes);
    recorder_.calls.clear();
    return readDictionary((dir_ / "d.mem").string(), kDictionaryHeader, recorder_);
  }
  const std::vector<std::u16string>& calls() const { return recorder_.calls; }

  TempDir dir_{"dict"};
  Recorder recorder_;
};

TEST(DictionaryLine, CleanUp) {
  struct Case {
    std::u16string line, cleaned;
  } cases[] = {
      {u"a  b // comment\n", u"a b "},
      {u"\t a\tb\n", u"a b"},
      {u"\"x  y\"  z\n", u"\"x  y\" z"},
      {u"\"http://x\" y", u"\"http:"},    // a comment begins inside quotes too
      {u"a\nb", u"a"},
      {u"   ", u""},
      {u"word ", u"word "},
  };
  for (const Case& c : cases) EXPECT_EQ(cleanDictionaryLine(c.line), c.cleaned) << utf8(c.line);
}

TEST(DictionaryLine, CategoryNames) {
  struct Case {
    std::u16string line, category;
  } cases[] = {
      {u"[fruit]", u"fruit"},
      {u"[", kDefaultCategory.data()},
      {u"[ ]", kDefaultCategory.data()},
      {u"[   ]", kDefaultCategory.data()},
      {u"[]", u"]"},                // the bracket right after the opening one stays
      {u"[C] ", u"C "},             // a space after the bracket stays
      {u"[a]b]", u"a]b"},           // only the last bracket goes
      {u"[no close", u"no close"},
      {u"[ \"q  q\"]", u"\"q  q\""},
  };
  for (const Case& c : cases) EXPECT_EQ(dictionaryCategory(c.line), c.category) << utf8(c.line);
}

TEST_F(DictionaryReadTest, CategoryAndEntryLine) {
  ASSERT_TRUE(read(kHeader + "[C]\nx y\n"));
  const std::vector<std::u16string> expected = {
      u"neuron <C>", u"word <C>", u"category <C>: <x> <y>", u"word <x>", u"word <y>"};
  EXPECT_EQ(calls(), expected);
}

TEST_F(DictionaryReadTest, DefaultCategoryAndWordSplitting) {
  ASSERT_TRUE(read(kHeader + "a  b // note\r\nw \"two words\"\n\n   \n//only a comment\n"));
  const std::u16string chaos(kDefaultCategory);
  const std::vector<std::u16string> expected = {
      u"category <" + chaos + u">: <a> <b>", u"word <a>", u"word <b>",
      u"category <" + chaos + u">: <w> <\"two words\">", u"word <w>", u"word <\"two words\">"};
  EXPECT_EQ(calls(), expected);
}

TEST_F(DictionaryReadTest, LastLineReadOnceWithOrWithoutLineBreak) {
  ASSERT_TRUE(read(kHeader + "last"));
  EXPECT_EQ(calls().size(), 2u);
  ASSERT_TRUE(read(kHeader + "last\n"));
  EXPECT_EQ(calls().size(), 2u);
}

TEST_F(DictionaryReadTest, HeaderMustBeExact) {
  EXPECT_FALSE(read("[ZELKA DICTIONARY]  \nx\n"));
  EXPECT_FALSE(read("[ZELKA DICTIONARY]"));
  EXPECT_FALSE(read("[zelka dictionary]\nx\n"));
  EXPECT_FALSE(read(" [ZELKA DICTIONARY]\nx\n"));
  EXPECT_FALSE(read(""));
  EXPECT_TRUE(calls().empty());
  EXPECT_TRUE(read("[ZELKA DICTIONARY]\r\n"));   // CR LF reads as a line feed
  EXPECT_FALSE(readDictionary((dir_ / "missing.mem").string(), kDictionaryHeader, recorder_));
}

TEST_F(DictionaryReadTest, InvalidShiftJisEndsTheLineThere) {
  // 0x81 0x20 is no character: the line's text stops before it.
  ASSERT_TRUE(read(kHeader + "ok ab\x81\x20zz\n" + sjis(u"[果物]") + "\n" + sjis(u"林檎") + "\n"));
  ASSERT_EQ(calls().size(), 7u);
  EXPECT_EQ(calls()[0], u"category <" + std::u16string(kDefaultCategory) + u">: <ok> <ab>");
  EXPECT_EQ(calls()[3], u"neuron <果物>");
  EXPECT_EQ(calls()[5], u"category <果物>: <林檎>");
}

TEST_F(DictionaryReadTest, LongLineGoesOnInPiecesWithoutSplittingCharacters) {
  // 100 KiB of two-byte characters after a single-byte one: from the second piece on, a
  // plain 2047-byte cut would fall inside a character.
  std::string line = "a";
  const std::string ka = sjis(u"か");
  while (line.size() < 100 * 1024) line += ka;
  ASSERT_TRUE(read(kHeader + line + "\nend\n"));
  std::u16string joined;
  std::size_t entries = 0;
  for (const std::u16string& call : calls()) {
    if (call.rfind(u"word <", 0) != 0) continue;
    ++entries;
    joined += call.substr(6, call.size() - 7);
  }
  // Every character arrives whole: the pieces joined give the line back.
  EXPECT_EQ(joined, toWide(line) + u"end");
  EXPECT_GT(entries, 50u);
}

TEST_F(DictionaryReadTest, BracketsAndOpenQuotes) {
  ASSERT_TRUE(read(kHeader + "[\n[]\nx\n[[[\n\"never closed  a b\n"));
  const std::vector<std::u16string> expected = {
      u"neuron <" + std::u16string(kDefaultCategory) + u">",
      u"word <" + std::u16string(kDefaultCategory) + u">",
      u"neuron <]>", u"word <]>",
      u"category <]>: <x>", u"word <x>",
      u"neuron <[[>", u"word <[[>",
      u"category <[[>: <\"never closed  a b>", u"word <\"never closed  a b>",
  };
  EXPECT_EQ(calls(), expected);
}

TEST_F(DictionaryReadTest, ZeroByteEndsALine) {
  ASSERT_TRUE(read(kHeader + std::string("ab\0cd\n", 6)));
  const std::vector<std::u16string> expected = {
      u"category <" + std::u16string(kDefaultCategory) + u">: <ab>", u"word <ab>"};
  EXPECT_EQ(calls(), expected);
}

TEST_F(DictionaryReadTest, EndOfTextByteEndsTheFile) {
  // Old editors append the byte; it must not become a word.
  ASSERT_TRUE(read(kHeader + "a\n\x1a"));
  const std::u16string chaos(kDefaultCategory);
  EXPECT_EQ(calls(), (std::vector<std::u16string>{u"category <" + chaos + u">: <a>", u"word <a>"}));
  ASSERT_TRUE(read(kHeader + "a b\x1a" "c\nd\n"));
  EXPECT_EQ(calls(), (std::vector<std::u16string>{u"category <" + chaos + u">: <a> <b>",
                                                  u"word <a>", u"word <b>"}));
}

// ---- import into a knowledge set ----

const char kConfig[] =
    "<?xml version='1.0' encoding='Shift_JIS'?>\n"
    "<ZelkaConfiguration><GhostProfile birthday=\"2001/05/03\"/>"
    "<RunEnvironment runlevel=\"0\"><Directory type=\"vender\" name=\"vendor/\"/>"
    "<Directory type=\"learning\" name=\"learning/\"/></RunEnvironment></ZelkaConfiguration>\n";

class DictionaryImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeBytes(dir_ / "zelkaconf.xml", kConfig);
    std::filesystem::create_directories(dir_ / "vendor");
    std::u16string module = dir_.path().u16string() + u"/";
    ASSERT_TRUE(config_.read(module));
    ASSERT_TRUE(knowledge_.load(module, &config_));
  }
  std::string vendor(const std::string& name = "") const {
    return (dir_.path() / "vendor").string() + "/" + name;
  }
  std::string learned() const { return vendor("learned/"); }
  std::filesystem::path store(const std::string& name) const {
    return dir_.path() / "learning" / name;
  }

  TempDir dir_{"import"};
  ZelkaConfig config_;
  KnowledgeSet knowledge_;
};

TEST_F(DictionaryImportTest, MovesTheFileAndSavesTheStores) {
  writeBytes(vendor("fruit.mem"), kHeader + sjis(u"[果物]\n林檎 りんご\n"));
  std::filesystem::create_directories(learned());
  writeBytes(learned() + "fruit.mem", "an older copy");

  DictionaryImportReport report;
  ASSERT_TRUE(importDictionary(learned(), vendor("fruit.mem"), kDictionaryHeader, &knowledge_,
                               &report));
  EXPECT_TRUE(report.imported);
  EXPECT_TRUE(report.moved);
  EXPECT_FALSE(std::filesystem::exists(vendor("fruit.mem")));
  EXPECT_EQ(readBytes(learned() + "fruit.mem"), kHeader + sjis(u"[果物]\n林檎 りんご\n"));

  // The saved files, read by xmllint: index entries with aliases, neurons with expressions
  // and concept synapses both ways, the words in the bind tree.
  const std::string category =
      xpath(store("index.xml"), "string(/WordIndexes/Index[@name=\"果物\"]/Alias/@name)");
  const std::string group =
      xpath(store("index.xml"), "string(/WordIndexes/Index[@name=\"林檎\"]/Alias/@name)");
  ASSERT_EQ(category.size(), 20u);
  ASSERT_EQ(group.size(), 20u);
  EXPECT_EQ(xpath(store("index.xml"), "string(/WordIndexes/Index[@name=\"りんご\"]/Alias[1]/@name)"),
            group);
  EXPECT_EQ(xpath(store("index.xml"), "count(/WordIndexes/Index[@name=\"カオスデバイス\"])"), "1");
  const std::string c = "/NeuronStructure/Neuron[@name=\"" + category + "\"]";
  const std::string g = "/NeuronStructure/Neuron[@name=\"" + group + "\"]";
  EXPECT_EQ(xpath(store("neuron.xml"), "string(" + c + "/DownwardNetowrk/Concept/Synapse/@name)"),
            group);
  EXPECT_EQ(xpath(store("neuron.xml"), "string(" + g + "/UpwardNetowrk/Concept/Synapse/@name)"),
            category);
  EXPECT_EQ(xpath(store("neuron.xml"), "string(" + g + "/Expressions/Expression[1]/@name)"),
            "林檎");
  EXPECT_EQ(xpath(store("neuron.xml"), "string(" + g + "/Expressions/Expression[2]/@name)"),
            "りんご");
  EXPECT_EQ(xpath(store("bind.xml"),
                  "string(/Bind/Bind[@name=\"林\"]/Bind[@name=\"檎\"]/@distance)"),
            "0.000000000000000e+000");
  EXPECT_EQ(xpath(store("bind.xml"), "count(/Bind/Bind[@name=\"果\"]/Bind[@name=\"物\"])"), "1");
  EXPECT_EQ(xpath(store("bind.xml"), "string(/Bind/@total)"), "3.000000000000000e+000");
}

TEST_F(DictionaryImportTest, RejectedFileStaysUntouched) {
  writeBytes(vendor("bad.mem"), "[ZELKA DICTIONARY] \nword\n");
  DictionaryImportReport report;
  EXPECT_FALSE(importDictionary(learned(), vendor("bad.mem"), kDictionaryHeader, &knowledge_,
                                &report));
  EXPECT_FALSE(report.imported);
  EXPECT_TRUE(std::filesystem::exists(vendor("bad.mem")));
  EXPECT_FALSE(std::filesystem::exists(learned()));
  ASSERT_TRUE(knowledge_.save());
  EXPECT_EQ(xpath(store("index.xml"), "count(/WordIndexes/Index[@name=\"word\"])"), "0");
}

TEST_F(DictionaryImportTest, MissingArgumentsAreRefused) {
  writeBytes(vendor("x.mem"), kHeader + "w\n");
  EXPECT_FALSE(importDictionary("", vendor("x.mem"), kDictionaryHeader, &knowledge_));
  EXPECT_FALSE(importDictionary(learned(), "", kDictionaryHeader, &knowledge_));
  EXPECT_FALSE(importDictionary(learned(), vendor("x.mem"), u"", &knowledge_));
  EXPECT_FALSE(importDictionary(learned(), vendor("x.mem"), kDictionaryHeader, nullptr));
  EXPECT_FALSE(importDictionary(learned(), vendor(""), kDictionaryHeader, &knowledge_));
  EXPECT_TRUE(std::filesystem::exists(vendor("x.mem")));
}

TEST_F(DictionaryImportTest, FileThatCannotMoveIsReportedAndKept) {
  // A directory in the place of the learned directory's file: nothing can replace it.
  writeBytes(vendor("stuck.mem"), kHeader + "w\n");
  std::filesystem::create_directories(learned() + "stuck.mem/inside");
  DictionaryImportReport report;
  importDictionary(learned(), vendor("stuck.mem"), kDictionaryHeader, &knowledge_, &report);
  EXPECT_TRUE(report.imported);
  EXPECT_FALSE(report.moved);
  EXPECT_TRUE(std::filesystem::exists(vendor("stuck.mem")));
  EXPECT_TRUE(std::filesystem::is_directory(learned() + "stuck.mem/inside"));
}

TEST_F(DictionaryImportTest, FileWhoseWordsCannotBeSavedStaysToBeImportedAgain) {
  // A plain file in the place of the learning directory: no store can be written.
  writeBytes(vendor("unsaved.mem"), kHeader + "w\n");
  std::filesystem::remove_all(dir_.path() / "learning");
  writeBytes(dir_.path() / "learning", "not a directory");
  DictionaryImportReport report;
  EXPECT_FALSE(importDictionary(learned(), vendor("unsaved.mem"), kDictionaryHeader,
                                &knowledge_, &report));
  EXPECT_TRUE(report.imported);
  EXPECT_FALSE(report.moved);
  EXPECT_TRUE(std::filesystem::exists(vendor("unsaved.mem")));
  EXPECT_FALSE(std::filesystem::exists(learned() + "unsaved.mem"));
}

TEST_F(DictionaryImportTest, WordsWithMarkupCharactersAreStoredIntact) {
  writeBytes(vendor("odd.mem"),
             kHeader + "[<tag>]\nsay\"hi\" a&b back\\slash it's \"q  q\"\n");
  ASSERT_TRUE(importDictionary(learned(), vendor("odd.mem"), kDictionaryHeader, &knowledge_));
  EXPECT_TRUE(testing::wellFormed(store("index.xml")));
  EXPECT_TRUE(testing::wellFormed(store("neuron.xml")));
  EXPECT_TRUE(testing::wellFormed(store("bind.xml")));
  for (const std::u16string w : {u"<tag>", u"say\"hi\"", u"a&b", u"back\\slash", u"it's", u"\"q  q\""}) {
    EXPECT_TRUE(knowledge_.wordIndex().findWord(w).entry) << utf8(w);
  }
  EXPECT_EQ(xpath(store("index.xml"), "count(/WordIndexes/Index[@name=\"a&b\"])"), "1");
  EXPECT_EQ(xpath(store("index.xml"), "count(/WordIndexes/Index[@name=\"<tag>\"])"), "1");
}

// An editor set to UTF-8: the words arrive as the same file saved as Shift_JIS would give
// them, never garbled; a character Shift_JIS cannot write keeps the whole file out.
TEST_F(DictionaryImportTest, Utf8DictionaryIsImportedConvertedOrRefused) {
  ProblemList problems;
  const DictionaryImportContext context{nullptr, &problems};
  writeBytes(vendor("utf8.mem"), kHeader + utf8(u"[果物]\nハリ 林檎\n"));
  DictionaryImportReport report;
  ASSERT_TRUE(importDictionary(learned(), vendor("utf8.mem"), kDictionaryHeader, &knowledge_,
                               &report, context));
  EXPECT_TRUE(report.moved);
  EXPECT_EQ(xpath(store("index.xml"), "count(/WordIndexes/Index[@name=\"ハリ\"])"), "1");
  EXPECT_EQ(xpath(store("index.xml"), "count(/WordIndexes/Index[@name=\"繝上リ\"])"), "0");
  std::optional<Problem> told = problems.take();
  ASSERT_TRUE(told);
  EXPECT_EQ(told->severity, Problem::Severity::Warning);
  EXPECT_EQ(told->where, vendor("utf8.mem"));

  const std::string emoji = kHeader + "ok\n" + utf8(u"x \U0001F600\n");
  writeBytes(vendor("emoji.mem"), emoji);
  EXPECT_FALSE(importDictionary(learned(), vendor("emoji.mem"), kDictionaryHeader, &knowledge_,
                                &report, context));
  EXPECT_FALSE(report.imported);
  EXPECT_EQ(readBytes(vendor("emoji.mem")), emoji);
  EXPECT_FALSE(knowledge_.wordIndex().findWord(u"ok").entry);
  told = problems.take();
  ASSERT_TRUE(told);
  EXPECT_EQ(told->severity, Problem::Severity::Error);
  EXPECT_EQ(told->where, vendor("emoji.mem") + ":3");
  EXPECT_EQ(told->message,
            "saved as UTF-8, and the character U+1F600 (column 3) has no Shift_JIS form: the "
            "dictionary was not imported and stays in the vendor directory. Replace or remove "
            "what Shift_JIS cannot write, save the file as Shift_JIS, and it is imported at "
            "the next start.");
  EXPECT_TRUE(problems.empty());
}

// The neuron network could not save a dictionary that the other stores saved (its file was
// replaced by a directory after the load, as a full disk or a locked file would fail it). The
// next start, with the store writable again, teaches it only the concepts: the bind network is
// left as the first import left it, and the neurons are made afresh, with the index entries
// naming them rather than the neurons that were never written.
TEST_F(DictionaryImportTest, StoreThatCouldNotSaveGetsTheDictionaryAtTheNextStart) {
  const std::string words = kHeader + sjis(u"[果物]\n林檎 りんご\n");
  writeBytes(vendor("fruit.mem"), words);
  std::filesystem::remove(store("neuron.xml"));
  std::filesystem::create_directory(store("neuron.xml"));
  {
    PendingImports pending(store("").string());
    DictionaryImportReport report;
    EXPECT_FALSE(importDictionary(learned(), vendor("fruit.mem"), kDictionaryHeader,
                                  &knowledge_, &report, {&pending, nullptr}));
    EXPECT_TRUE(report.imported);
    EXPECT_FALSE(report.moved);
  }
  EXPECT_NE(readBytes(store("pending_dictionaries.txt")).find(" bind,index,journal fruit.mem\n"),
            std::string::npos);
  const std::string bind = readBytes(store("bind.xml"));
  std::filesystem::remove(store("neuron.xml"));

  KnowledgeSet next;
  ASSERT_TRUE(next.load(dir_.path().u16string() + u"/", &config_));
  PendingImports pending(store("").string());
  DictionaryImportReport report;
  ASSERT_TRUE(importDictionary(learned(), vendor("fruit.mem"), kDictionaryHeader, &next, &report,
                               {&pending, nullptr}));
  EXPECT_TRUE(report.moved);
  EXPECT_EQ(readBytes(store("bind.xml")), bind);
  EXPECT_FALSE(std::filesystem::exists(store("pending_dictionaries.txt")));

  const std::string category =
      xpath(store("index.xml"), "string(/WordIndexes/Index[@name=\"果物\"]/Alias/@name)");
  const std::string group =
      xpath(store("index.xml"), "string(/WordIndexes/Index[@name=\"林檎\"]/Alias/@name)");
  EXPECT_EQ(xpath(store("index.xml"), "count(/WordIndexes/Index/Alias)"), "4");
  EXPECT_EQ(xpath(store("index.xml"), "string(/WordIndexes/Index[@name=\"りんご\"]/Alias/@name)"),
            group);
  const std::string c = "/NeuronStructure/Neuron[@name=\"" + category + "\"]";
  const std::string g = "/NeuronStructure/Neuron[@name=\"" + group + "\"]";
  EXPECT_EQ(xpath(store("neuron.xml"), "count(/NeuronStructure/Neuron)"), "3");
  EXPECT_EQ(xpath(store("neuron.xml"), "string(" + c + "/DownwardNetowrk/Concept/Synapse/@name)"),
            group);
  EXPECT_EQ(xpath(store("neuron.xml"), "count(" + g + "/Expressions/Expression)"), "2");
}

}  // namespace
}  // namespace zelka
