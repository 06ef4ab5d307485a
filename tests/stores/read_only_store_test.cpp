// Stores opened for reading only (the host's views of what a ghost learned): whatever the file
// holds and whatever is done to the document, nothing on disk changes.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "platform/file_system.h"
#include "stores/neuron_network.h"
#include "support/temp_dir.h"
#include "support/xmllint.h"

namespace zelka {
namespace {

using testing::readBytes;
using testing::TempDir;
using testing::writeBytes;

constexpr const char* kNetwork =
    "<?xml version='1.0' encoding='Shift_JIS'?>\n<NeuronStructure>"
    "<Neuron name=\"NEUR1\" lifetime=\"0\"><Expressions><Expression name=\"a\"/>"
    "<Expression name=\"b\"/></Expressions><UpwardNetowrk/><DownwardNetowrk><Concept>"
    "<Synapse name=\"NEUR2\" distance=\"0.5\" lifetime=\"0\"/><Synapse distance=\"1\"/>"
    "<Synapse name=\"NEUR3\" lifetime=\"0\"/></Concept></DownwardNetowrk></Neuron>"
    "</NeuronStructure>\n";

// The names of the files in the directory, with their bytes.
std::map<std::string, std::string> filesIn(const TempDir& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    files[entry.path().filename().string()] = readBytes(entry.path());
  }
  return files;
}

TEST(ReadOnlyStoreTest, NothingOnDiskChangesWhateverTheFileHolds) {
  struct Case {
    const char* name;
    std::optional<std::string> content;  // nullopt: no file
    XmlOpenResult result;
  } cases[] = {
      {"a store", std::string(kNetwork), XmlOpenResult::Loaded},
      {"no file", std::nullopt, XmlOpenResult::Failed},
      {"a broken file", std::string("<NeuronStructure><Neuron"), XmlOpenResult::Failed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir("read-only");
    if (c.content) writeBytes(dir / "neuron.xml", *c.content);
    // A temporary file an interrupted save left: an ordinary open would remove it.
    writeBytes(dir / (std::string("neuron.xml") + kTemporarySuffix + "1"), "partial");
    const auto before = filesIn(dir);
    {
      NeuronNetwork network;
      EXPECT_EQ(network.openReadOnly(dir.wide("neuron.xml")), c.result);
      EXPECT_TRUE(network.readOnly());
      EXPECT_EQ(network.openProblem().empty(), c.result == XmlOpenResult::Loaded);
      Neuron made = network.createNeuron();
      EXPECT_EQ(made.empty(), c.result != XmlOpenResult::Loaded);
      made.addExpressions({u"new"});
      EXPECT_FALSE(network.save());
      EXPECT_FALSE(network.save(dir.wide("elsewhere.xml")));
    }  // destruction saves a store: refused too
    EXPECT_EQ(filesIn(dir), before);
  }
}

TEST(ReadOnlyStoreTest, AnOrdinaryOpenAfterwardsWritesAgain) {
  TempDir dir("read-only");
  writeBytes(dir / "neuron.xml", kNetwork);
  NeuronNetwork network;
  ASSERT_EQ(network.openReadOnly(dir.wide("neuron.xml")), XmlOpenResult::Loaded);
  ASSERT_TRUE(network.load(dir.wide("neuron.xml")));
  EXPECT_FALSE(network.readOnly());
  EXPECT_TRUE(network.save());
}

TEST(ReadOnlyStoreTest, LinksAndExpressionsAreReadWithoutCreatingAnything) {
  TempDir dir("read-only");
  writeBytes(dir / "neuron.xml", kNetwork);
  NeuronNetwork network;
  ASSERT_EQ(network.openReadOnly(dir.wide("neuron.xml")), XmlOpenResult::Loaded);
  Neuron neuron = network.findNeuron(u"NEUR1");
  EXPECT_EQ(neuron.expressions(), (std::vector<std::u16string>{u"a", u"b"}));
  // A synapse without a target is skipped; one without a distance reads as 0.
  std::vector<Neuron::Link> down = neuron.links(kDownward, kConceptLink);
  ASSERT_EQ(down.size(), 2u);
  EXPECT_EQ(down[0].target, u"NEUR2");
  EXPECT_EQ(down[0].distance, 0.5);
  EXPECT_EQ(down[1].target, u"NEUR3");
  EXPECT_EQ(down[1].distance, 0.0);
  EXPECT_TRUE(neuron.links(kUpward, kConceptLink).empty());
  EXPECT_TRUE(neuron.links(kDownward, kBindLink).empty());
  // No group was created for the lookups.
  EXPECT_TRUE(neuron.element().findChild(u"UpwardNetowrk").findChild(u"Concept").empty());
  EXPECT_TRUE(neuron.element().findChild(u"DownwardNetowrk").findChild(u"Bind").empty());
}

}  // namespace
}  // namespace zelka
