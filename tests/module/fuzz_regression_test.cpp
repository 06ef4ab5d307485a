// Replays the inputs that once broke a fuzz target (fuzz/regressions/<target>/) through the
// same entry points, in the ordinary test suite, and checks what the target checked, with an
// independent reader (xmllint) where files are involved.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config/zelka_config.h"
#include "learning/concept_learning.h"
#include "learning/knowledge_set.h"
#include "learning/learning_engine.h"
#include "platform/text_codec.h"
#include "script_fixture.h"
#include "support/ghost_fixture.h"
#include "support/xmllint.h"
#include "xml/xml_document.h"

namespace zelka {
namespace {

namespace fs = std::filesystem;
using testing::TempGhost;

const fs::path kRegressions = fs::path(ZELKA_SOURCE_DIR) / "fuzz" / "regressions";
constexpr const char* kStores[] = {"bind.xml", "index.xml", "journal.xml", "neuron.xml"};

struct Input {
  std::string name;
  std::string bytes;
};

std::vector<Input> inputsOf(const std::string& target) {
  std::vector<Input> inputs;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(kRegressions / target, ec)) {
    std::ifstream in(entry.path(), std::ios::binary);
    inputs.push_back({entry.path().filename().string(),
                      std::string(std::istreambuf_iterator<char>(in), {})});
  }
  std::sort(inputs.begin(), inputs.end(),
            [](const Input& a, const Input& b) { return a.name < b.name; });
  return inputs;
}

const std::string kStoreConfig =
    "<?xml version='1.0' encoding='Shift_JIS'?>\n"
    "<ZelkaConfiguration><GhostProfile birthday=\"2001/05/03\" think_wait=\"5\"/>"
    "<RunEnvironment><Directory type=\"vender\" name=\"vender/\"/>"
    "<Directory type=\"learning\" name=\"_learning/\"/></RunEnvironment>"
    "</ZelkaConfiguration>\n";

// The work the store targets do on a loaded set: walk, learn, associate.
void workOnStores(KnowledgeSet& set) {
  std::deque<std::u16string> segments;
  set.thinking().thinkNow(u"friend", u"local", u"abcab\u3042abc", segments);
  ConceptLearning learning(set);
  learning.learnWord(u"abc");
  (void)learning.neuronFor(u"a");
  learning.learnCategory(u"cat", {{u"a", u"b"}, {u"c"}});
  std::u16string word;
  std::uint64_t depth = 0;
  learning.associate(3, depth, u"(\"cat\")", word);
  depth = 0;
  learning.unify(3, depth, u"(\"cat\")-(\"c\")", u"a", word);
  for (XmlNode child = set.neuronNetwork().structureRoot().firstChild(); child;
       child = child.nextSibling()) {
    WordSet members;
    learning.members(Neuron(child).name(), {}, members);
  }
}

// A store file as the module met it: loaded (or kept aside when it does not parse), worked
// on and saved. Every store must then be a complete document for xmllint and for our reader.
TEST(FuzzRegressionTest, StoreFilesAreSavedAsDocumentsEveryReaderAccepts) {
  for (const char* target : {"bind_store", "index_store", "journal_store", "neuron_store"}) {
    const std::string storeFile = std::string(target).substr(0, std::strlen(target) - 6) + ".xml";
    for (const Input& input : inputsOf(target)) {
      SCOPED_TRACE(std::string(target) + "/" + input.name);
      TempGhost ghost(kStoreConfig);
      ghost.write("_learning/" + storeFile, input.bytes);
      ZelkaConfig config;
      ASSERT_TRUE(config.read(toWide(ghost.dir())));
      {
        KnowledgeSet set;
        set.load(toWide(ghost.dir()), &config);
        try {
          workOnStores(set);
        } catch (const XmlError&) {
        }
      }
      for (const char* store : kStores) {
        const std::string file = ghost.path(std::string("_learning/") + store);
        EXPECT_TRUE(testing::wellFormed(file)) << store;
        XmlDocument reread;
        EXPECT_EQ(reread.open(toWide(file), u"Shift_JIS", BrokenFilePolicy::Fail),
                  XmlOpenResult::Loaded)
            << store;
      }
    }
  }
}

// Association and unification arguments, as script text and as raw UTF-16 code units.
TEST(FuzzRegressionTest, AssociationArgumentsAreAnswered) {
  TempGhost ghost(kStoreConfig);
  ghost.write("vender/words.mem",
              "[ZELKA DICTIONARY]\napple pear\n[fruit]\napple ringo\n[food]\nfruit bread\n"
              "[bread]\nfood\n");
  LearningEngine engine;
  ASSERT_TRUE(engine.start(toWide(ghost.dir())));
  for (const Input& input : inputsOf("association")) {
    SCOPED_TRACE("association/" + input.name);
    std::u16string units(input.bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
      units[i] = static_cast<char16_t>(static_cast<unsigned char>(input.bytes[2 * i]) |
                                       (static_cast<unsigned char>(input.bytes[2 * i + 1]) << 8));
    }
    for (const std::u16string& argument : {toWide(input.bytes), units}) {
      std::u16string word;
      engine.associateCall(argument, word);
      engine.unifyCall(argument, word, false);
      engine.unifyCall(argument, word, true);
    }
  }
  engine.shutdown();
  for (const char* store : kStores) {
    EXPECT_TRUE(testing::wellFormed(ghost.path(std::string("_learning/") + store))) << store;
  }
}

// Scripts that once ran for seconds and wrote a hundred megabytes of diagnostic lines: on the
// script target's fixture, at the run level that logs the most and at 0, the talk comes and one
// run writes no more than a request's log allowance (and the line saying the rest was cut).
// How fast it comes is measured by bench/script_bench.
TEST(FuzzRegressionTest, RunawayScriptsAnswerWithinTheirLogAllowance) {
  const std::vector<Input> inputs = inputsOf("script");
  ASSERT_FALSE(inputs.empty());
  fuzz::ScriptFixture fixture;
  for (const Input& input : inputs) {
    for (int runLevel : {fuzz::ScriptFixture::kRunLevel, 0}) {
      SCOPED_TRACE("script/" + input.name + " at run level " + std::to_string(runLevel));
      fixture.log().open(fixture.logPath());
      const std::string talk = fixture.runScript(input.bytes, runLevel);
      EXPECT_FALSE(talk.empty());
      EXPECT_LE(fs::file_size(fixture.logPath()), DiagnosticLog::kDefaultRequestAllowance + 200);
    }
  }
}

// A declaration that is not well-formed sets the file aside untouched; one that is is written
// back as every reader accepts it.
TEST(FuzzRegressionTest, OddDeclarationsAreSetAsideOrWrittenBackWellFormed) {
  struct Case {
    const char* name;
    std::string declaration;
    std::string expected;  // the saved declaration; empty when the file is set aside
  };
  const Case cases[] = {
      {"undecodable byte in a name", "<?xml ve\x85sion='1.0' encoding='Shift_JIS'?>", ""},
      {"unknown pseudo-attribute", "<?xml version='1.0' encoding='Shift_JIS' extra='x'?>", ""},
      {"encoding before version", "<?xml encoding='Shift_JIS' version='1.0'?>", ""},
      {"no version", "<?xml encoding='Shift_JIS'?>", ""},
      {"standalone kept", "<?xml version='1.1' encoding='Shift_JIS' standalone='yes'?>",
       "<?xml version='1.1' encoding='Shift_JIS' standalone='yes'?>"},
      {"double quotes", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>",
       "<?xml version='1.0' encoding='Shift_JIS'?>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempGhost ghost(kStoreConfig);
    const std::string file = ghost.path("doc.xml");
    const std::string original = c.declaration + "<SentenceJournal><E a=\"1\"/></SentenceJournal>";
    ghost.write("doc.xml", original);
    XmlDocument document;
    if (c.expected.empty()) {
      ASSERT_EQ(document.open(toWide(file)), XmlOpenResult::Created);
      EXPECT_EQ(ghost.read(toNarrow(document.openProblem().keptAsidePath).substr(ghost.dir().size())),
                original);
      EXPECT_FALSE(ghost.exists("doc.xml"));
      continue;
    }
    ASSERT_EQ(document.open(toWide(file)), XmlOpenResult::Loaded);
    ASSERT_TRUE(document.save());
    const std::string saved = ghost.read("doc.xml");
    EXPECT_EQ(saved.substr(0, saved.find('\n')), c.expected);
    EXPECT_TRUE(testing::wellFormed(file));
  }
}

}  // namespace
}  // namespace zelka
