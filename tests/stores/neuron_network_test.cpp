#include "stores/neuron_network.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "support/temp_dir.h"
#include "support/xmllint.h"

namespace zelka {
namespace {

using testing::TempDir;
using testing::xpath;
using Texts = std::vector<std::u16string>;
using Names = std::set<std::u16string>;

std::vector<std::u16string> expressionsOf(const Neuron& n) {
  std::vector<std::u16string> out;
  XmlNode list = n.element().findChild(u"Expressions");
  for (XmlNode e = list.firstChild(); e; e = e.nextSibling()) {
    out.push_back(e.attribute(u"name").value_or(u"?"));
  }
  return out;
}

std::string ascii(const std::u16string& s) { return std::string(s.begin(), s.end()); }

class NeuronNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(net_.load(dir_.wide("neuron.xml"))); }
  std::filesystem::path file() const { return dir_ / "neuron.xml"; }

  TempDir dir_{"neuron"};
  NeuronNetwork net_;
};

TEST_F(NeuronNetworkTest, FreshFileHoldsAnEmptyStructure) {
  EXPECT_EQ(xpath(file(), "count(/NeuronStructure)"), "1");
  EXPECT_EQ(xpath(file(), "count(/NeuronStructure/node())"), "0");
  EXPECT_TRUE(net_.structureRoot());
}

TEST_F(NeuronNetworkTest, CreatedNeuronHasItsIdLifetimeAndSkeleton) {
  std::int64_t before = secondsSinceEpoch();
  Neuron n = net_.createNeuron();
  std::int64_t after = secondsSinceEpoch();
  ASSERT_TRUE(n);
  std::string id = ascii(n.name());
  EXPECT_TRUE(std::regex_match(id, std::regex("NEUR[0-9A-F]{16}"))) << id;
  ASSERT_TRUE(net_.save());

  std::string at = "/NeuronStructure/Neuron[@name=\"" + id + "\"]";
  long long lifetime = std::stoll(xpath(file(), "string(" + at + "/@lifetime)"));
  EXPECT_GE(lifetime, before + 432000);
  EXPECT_LE(lifetime, after + 432000);
  EXPECT_EQ(xpath(file(), "count(" + at + "/*)"), "3");
  EXPECT_EQ(xpath(file(), "name(" + at + "/*[1])"), "Expressions");
  EXPECT_EQ(xpath(file(), "name(" + at + "/*[2])"), "UpwardNetowrk");
  EXPECT_EQ(xpath(file(), "name(" + at + "/*[3])"), "DownwardNetowrk");
  EXPECT_EQ(xpath(file(), "count(" + at + "//*/*)"), "0");
  // The attributes stand in the order name, lifetime.
  EXPECT_TRUE(std::regex_search(testing::readBytes(file()),
                                std::regex("<Neuron name=\"" + id + "\" lifetime=\"[0-9]+\"")));
}

TEST_F(NeuronNetworkTest, IdsAreUniqueAndNeuronsSorted) {
  std::set<std::u16string> ids;
  for (int i = 0; i < 50; ++i) ids.insert(net_.createNeuron().name());
  EXPECT_EQ(ids.size(), 50u);
  std::vector<std::u16string> inFile;
  for (XmlNode e = net_.structureRoot().firstChild(); e; e = e.nextSibling()) {
    inFile.push_back(*e.attribute(u"name"));
  }
  EXPECT_EQ(inFile, std::vector<std::u16string>(ids.begin(), ids.end()));
  for (const std::u16string& id : ids) {
    Neuron found = net_.findNeuron(id);
    ASSERT_TRUE(found);
    EXPECT_EQ(found.name(), id);
  }
  EXPECT_FALSE(net_.findNeuron(u"NEUR0000000000000000"));
  EXPECT_FALSE(net_.findNeuron(u""));
}

TEST_F(NeuronNetworkTest, ExpressionsAreNewestFirstWithoutDuplicates) {
  Neuron n = net_.createNeuron();
  EXPECT_EQ(n.firstExpression(), u"");
  EXPECT_EQ(n.addExpressions({u"B", u"C"}), 2);
  EXPECT_EQ(n.addExpressions({u"A", u"B"}), 2);
  EXPECT_EQ(expressionsOf(n), (Texts{u"A", u"B", u"C"}));
  EXPECT_EQ(n.firstExpression(), u"A");
  // Texts repeated in the list, and empty ones, are written once or not at all.
  EXPECT_EQ(n.addExpressions({u"C", u"", u"C"}), 1);
  EXPECT_EQ(expressionsOf(n), (Texts{u"C", u"A", u"B"}));
}

// The list is in recency order, not sorted: an older copy of a text must be found wherever it
// stands (a bisection over [z, y, x] misses x).
TEST_F(NeuronNetworkTest, AnOlderExpressionIsMovedNotDuplicated) {
  Neuron n = net_.createNeuron();
  for (std::u16string_view t : {u"x", u"y", u"z"}) n.addExpressions({std::u16string(t)});
  EXPECT_EQ(expressionsOf(n), (Texts{u"z", u"y", u"x"}));
  EXPECT_EQ(n.addExpressions({u"x"}), 1);
  EXPECT_EQ(expressionsOf(n), (Texts{u"x", u"z", u"y"}));
  EXPECT_EQ(n.addExpressions({u"y", u"w"}), 2);
  EXPECT_EQ(expressionsOf(n), (Texts{u"y", u"w", u"x", u"z"}));
}

TEST_F(NeuronNetworkTest, DirectionAndKindCodesSelectTheGroup) {
  struct Case {
    int direction;
    int kind;
    const char* path;
  };
  const Case cases[] = {
      {0, 0, "UpwardNetowrk/Concept"},   {0, 1, "UpwardNetowrk/Bind"},
      {1, 0, "DownwardNetowrk/Concept"}, {1, 1, "DownwardNetowrk/Bind"},
      {2, 2, "DownwardNetowrk/Concept"}, {-1, -1, "DownwardNetowrk/Concept"},
  };
  for (const Case& c : cases) {
    TempDir dir{"neuron-codes"};
    {
      NeuronNetwork net;
      ASSERT_TRUE(net.load(dir.wide("neuron.xml")));
      Neuron n = net.createNeuron();
      EXPECT_TRUE(n.connect(c.direction, c.kind, u"NEURTARGET"));
    }
    std::string synapses = "count(//Synapse)";
    EXPECT_EQ(xpath(dir / "neuron.xml", synapses), "1") << c.path;
    EXPECT_EQ(xpath(dir / "neuron.xml", std::string("count(/NeuronStructure/Neuron/") + c.path +
                                            "/Synapse[@name=\"NEURTARGET\"])"),
              "1")
        << c.direction << "," << c.kind;
  }
}

TEST_F(NeuronNetworkTest, ConnectKeepsOneSynapsePerTarget) {
  Neuron n = net_.createNeuron();
  ASSERT_TRUE(n.connect(kDownward, kConceptLink, u"NEURB"));
  XmlNode group = n.element().findChild(u"DownwardNetowrk").findChild(u"Concept");
  group.firstChild().setAttribute(u"lifetime", u"123");
  ASSERT_TRUE(n.connect(kDownward, kConceptLink, u"NEURB"));
  ASSERT_TRUE(n.connect(kDownward, kConceptLink, u"NEURA"));
  ASSERT_TRUE(n.connect(kDownward, kBindLink, u"NEURC"));
  EXPECT_FALSE(n.connect(kUpward, kConceptLink, u""));
  ASSERT_TRUE(net_.save());

  std::string down = "/NeuronStructure/Neuron/DownwardNetowrk";
  EXPECT_EQ(xpath(file(), "count(" + down + "/Concept/Synapse)"), "2");
  EXPECT_EQ(xpath(file(), "string(" + down + "/Concept/Synapse[1]/@name)"), "NEURA");
  EXPECT_EQ(xpath(file(), "string(" + down + "/Concept/Synapse[@name=\"NEURB\"]/@lifetime)"),
            "123");
  EXPECT_EQ(xpath(file(), "string(" + down + "/Concept/Synapse[1]/@distance)"),
            "1.000000000000000e+000");
  // Groups stand in order of first use; the refused empty target still made its group.
  EXPECT_EQ(xpath(file(), "name(" + down + "/*[2])"), "Bind");
  EXPECT_EQ(xpath(file(), "count(/NeuronStructure/Neuron/UpwardNetowrk/Concept/*)"), "0");
  EXPECT_TRUE(std::regex_search(
      testing::readBytes(file()),
      std::regex("<Synapse name=\"NEURA\" distance=\"1\\.000000000000000e\\+000\" "
                 "lifetime=\"[0-9]+\"")));
}

TEST_F(NeuronNetworkTest, CollectLinksGathersTargetsAndCreatesAMissingGroup) {
  Neuron n = net_.createNeuron();
  Names out;
  EXPECT_EQ(n.collectLinks(kUpward, kConceptLink, out), 0);
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(n.element().findChild(u"UpwardNetowrk").findChild(u"Concept"));

  for (std::u16string_view t : {u"NEUR2", u"NEUR1", u"NEUR3"}) {
    n.connect(kUpward, kConceptLink, t);
  }
  out.insert(u"already");
  EXPECT_EQ(n.collectLinks(kUpward, kConceptLink, out), 3);
  EXPECT_EQ(out, (Names{u"NEUR1", u"NEUR2", u"NEUR3", u"already"}));
  Names none;
  EXPECT_EQ(n.collectLinks(kUpward, kBindLink, none), 0);
}

TEST_F(NeuronNetworkTest, TargetsWithQuotesAreComparedNotInterpreted) {
  Neuron n = net_.createNeuron();
  const std::u16string tricky = u"x\"] | //Synapse[@name=\"y";
  ASSERT_TRUE(n.connect(kDownward, kConceptLink, tricky));
  ASSERT_TRUE(n.connect(kDownward, kConceptLink, tricky));
  Names out;
  EXPECT_EQ(n.collectLinks(kDownward, kConceptLink, out), 1);
  EXPECT_EQ(out, (Names{tricky}));
}

TEST_F(NeuronNetworkTest, EmptyHandleDoesNothing) {
  Neuron none;
  Names out;
  EXPECT_EQ(none.name(), u"");
  EXPECT_EQ(none.firstExpression(), u"");
  EXPECT_EQ(none.addExpressions({u"a"}), 0);
  EXPECT_FALSE(none.connect(kUpward, kConceptLink, u"NEURX"));
  EXPECT_EQ(none.collectLinks(kUpward, kConceptLink, out), 0);
  NeuronNetwork unloaded;
  EXPECT_FALSE(unloaded.structureRoot());
  EXPECT_FALSE(unloaded.createNeuron());
  EXPECT_FALSE(unloaded.findNeuron(u"NEURX"));
}

TEST(NeuronNetworkHandEditedTest, OddNeuronsAreHandledWithoutSpreadingDamage) {
  TempDir dir{"neuron-edit"};
  testing::writeBytes(dir / "neuron.xml",
                      "<?xml version='1.0' encoding='Shift_JIS'?>\n"
                      "<NeuronStructure>\n"
                      "  <Neuron name=\"NEURB\" lifetime=\"1\"/>\n"
                      "  <!-- hand note -->\n"
                      "  <Neuron name=\"NEURA\" lifetime=\"1\">"
                      "<Expressions><Expression name=\"p\"/><Expression/><Expression name=\"p\"/>"
                      "</Expressions><UpwardNetowrk><Synapse name=\"NEURS\"/>"
                      "<Concept><Synapse name=\"NEURT\" distance=\"nan\"/><Synapse/>"
                      "<Other name=\"NEURO\"/></Concept></UpwardNetowrk>"
                      "<DownwardNetowrk/></Neuron>\n"
                      "  <Neuron lifetime=\"1\"/>\n"
                      "</NeuronStructure>\n");
  {
    NeuronNetwork net;
    ASSERT_TRUE(net.load(dir.wide("neuron.xml")));
    Neuron b = net.findNeuron(u"NEURB");
    ASSERT_TRUE(b);
    EXPECT_EQ(b.firstExpression(), u"");
    EXPECT_EQ(b.addExpressions({u"q"}), 1);
    EXPECT_EQ(b.firstExpression(), u"q");
    EXPECT_TRUE(b.connect(kDownward, kConceptLink, u"NEURA"));

    Neuron a = net.findNeuron(u"NEURA");
    ASSERT_TRUE(a);
    a.addExpressions({u"p"});
    EXPECT_EQ(expressionsOf(a), (Texts{u"p", u"?"}));
    Names up;
    EXPECT_EQ(a.collectLinks(kUpward, kConceptLink, up), 2);  // the nameless one is visited
    EXPECT_EQ(up, (Names{u"NEURT"}));
    // The stray synapse outside any group is replaced by the grouped one.
    EXPECT_TRUE(a.connect(kUpward, kConceptLink, u"NEURS"));
    EXPECT_TRUE(net.createNeuron());
  }
  auto file = dir / "neuron.xml";
  ASSERT_TRUE(testing::wellFormed(file));
  EXPECT_EQ(xpath(file, "count(/NeuronStructure/Neuron)"), "4");
  EXPECT_EQ(xpath(file, "count(//Neuron[@name=\"NEURA\"]/UpwardNetowrk/Synapse)"), "0");
  EXPECT_EQ(xpath(file, "count(//Neuron[@name=\"NEURA\"]/UpwardNetowrk/Concept/Synapse)"), "3");
  EXPECT_EQ(xpath(file, "string(//Neuron[@name=\"NEURA\"]//Other/@name)"), "NEURO");
  EXPECT_EQ(xpath(file, "name(//Neuron[@name=\"NEURB\"]/*[1])"), "Expressions");
  EXPECT_EQ(xpath(file, "count(//Neuron[not(@name)])"), "1");
  EXPECT_EQ(xpath(file, "count(//comment())"), "1");
}

}  // namespace
}  // namespace zelka
