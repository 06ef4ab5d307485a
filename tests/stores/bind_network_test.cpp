#include "stores/bind_network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/xmllint.h"

namespace zelka {
namespace {

using testing::TempDir;
using testing::xpath;

double countOf(BindNode parent, BindNode child) {
  return parent.total() * std::pow(10.0, -child.distance());
}

// Sum of the derived counts of every Bind child of the node.
double childCountSum(BindNode node) {
  double sum = 0;
  for (XmlNode c = node.element().firstChild(); !c.empty(); c = c.nextSibling()) {
    sum += countOf(node, BindNode(c));
  }
  return sum;
}

class BindNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(store_.load(dir_.wide("bind.xml"))); }

  BindNode add(const BindNode& parent, std::u16string_view name) {
    BindNode node;
    EXPECT_TRUE(node.addChild(parent, name));
    return node;
  }

  TempDir dir_{"bind"};
  BindNetworkStore store_;
};

TEST_F(BindNetworkTest, FreshStoreHoldsOnlyTheRoot) {
  auto file = dir_ / "bind.xml";
  EXPECT_EQ(xpath(file, "count(/*)"), "1");
  EXPECT_EQ(xpath(file, "string(/Bind/@name)"), "root");
  EXPECT_EQ(xpath(file, "string(/Bind/@total)"), "0.000000000000000e+000");
  EXPECT_EQ(xpath(file, "count(/Bind/*)"), "0");
  BindNode root = store_.root();
  ASSERT_TRUE(root);
  EXPECT_EQ(root.name(), u"root");
  EXPECT_EQ(root.total(), 0.0);
}

TEST_F(BindNetworkTest, WorkedExampleWithTwoCharacters) {
  BindNode root = store_.root();
  BindNode a = add(root, u"A");
  EXPECT_DOUBLE_EQ(a.distance(), 0.0);
  EXPECT_DOUBLE_EQ(root.total(), 1.0);

  BindNode b = add(root, u"B");
  EXPECT_NEAR(b.distance(), 0.301030, 1e-6);
  EXPECT_NEAR(a.distance(), 0.301030, 1e-6);
  EXPECT_DOUBLE_EQ(root.total(), 2.0);

  ASSERT_TRUE(a.reinforce());
  EXPECT_NEAR(a.distance(), 0.176091, 1e-6);
  EXPECT_NEAR(b.distance(), 0.477121, 1e-6);
  EXPECT_DOUBLE_EQ(root.total(), 3.0);
  EXPECT_NEAR(childCountSum(root), 3.0, 1e-12);
}

TEST_F(BindNetworkTest, ValuesAreWrittenInScientificFormWithThreeDigitExponent) {
  BindNode root = store_.root();
  add(root, u"A");
  add(root, u"B");
  ASSERT_TRUE(store_.save());
  auto file = dir_ / "bind.xml";
  // |log10(1/2)| for both: the new child directly, the old one through the rescale.
  EXPECT_EQ(xpath(file, "string(/Bind/Bind[@name=\"A\"]/@distance)"), "3.010299956639812e-001");
  EXPECT_EQ(xpath(file, "string(/Bind/Bind[@name=\"B\"]/@distance)"), "3.010299956639812e-001");
  EXPECT_EQ(xpath(file, "string(/Bind/@total)"), "2.000000000000000e+000");
  EXPECT_EQ(xpath(file, "string(/Bind/Bind[1]/@total)"), "0.000000000000000e+000");
}

TEST_F(BindNetworkTest, CountsOfChildrenSumToTheParentTotal) {
  BindNode root = store_.root();
  std::vector<BindNode> nodes{root};
  std::uint32_t x = 2463;
  auto next = [&x](std::uint32_t n) {
    x = x * 1664525u + 1013904223u;
    return (x >> 8) % n;
  };
  for (int step = 0; step < 600; ++step) {
    BindNode parent = nodes[next(static_cast<std::uint32_t>(nodes.size()))];
    char16_t c = static_cast<char16_t>(u'a' + next(6));
    BindNode child = parent.findChild(std::u16string_view(&c, 1), 0);
    if (child) {
      ASSERT_TRUE(child.reinforce());
    } else {
      ASSERT_TRUE(child.addChild(parent, std::u16string_view(&c, 1)));
      nodes.push_back(child);
    }
    ASSERT_NEAR(childCountSum(parent), parent.total(), 1e-9 * parent.total());
  }
  // A node whose one child took every passage: that child's distance is 0.
  BindNode lone = add(root, u"z");
  BindNode only = add(lone, u"y");
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(only.reinforce());
  EXPECT_EQ(only.distance(), 0.0);
  EXPECT_DOUBLE_EQ(lone.total(), 6.0);
}

TEST_F(BindNetworkTest, AddingAnExistingNameChangesNothing) {
  BindNode root = store_.root();
  add(root, u"A");
  add(root, u"B");
  std::string before = store_.serialize();
  BindNode again;
  EXPECT_FALSE(again.addChild(root, u"A"));
  EXPECT_FALSE(again);
  EXPECT_EQ(store_.serialize(), before);
}

TEST_F(BindNetworkTest, FindChildHonoursTheModeLimit) {
  BindNode root = store_.root();
  BindNode a = add(root, u"a");
  struct Case {
    double distance;
    int mode;
    bool found;
  };
  const Case cases[] = {
      {0.5, 1, true},   {0.6, 1, false},   {0.6, 2, true},   {1.5, 2, true},
      {1.6, 2, false},  {1.6, 0, true},    {100.0, 0, true}, {100.5, 0, false},
      {100.5, 7, false}, {99.0, -1, true},
  };
  for (const Case& c : cases) {
    a.setDistance(c.distance);
    EXPECT_EQ(static_cast<bool>(root.findChild(u"a", c.mode)), c.found)
        << "distance " << c.distance << " mode " << c.mode;
  }
  EXPECT_FALSE(root.findChild(u"b", 0));
  EXPECT_FALSE(BindNode().findChild(u"a", 0));
}

TEST_F(BindNetworkTest, ReinforcePrunesRareChildrenButNeverOneNamedRoot) {
  BindNode root = store_.root();
  BindNode a = add(root, u"a");
  BindNode rare = add(a, u"r");
  BindNode edge = add(a, u"e");
  BindNode keep = add(a, u"root");
  rare.setDistance(1.6);
  edge.setDistance(1.5);
  keep.setDistance(9.0);
  double totalBefore = a.total();

  ASSERT_TRUE(a.reinforce());
  EXPECT_FALSE(a.findChild(u"r", 0));
  EXPECT_TRUE(a.findChild(u"e", 0));
  EXPECT_TRUE(a.findChild(u"root", 0));
  // The pruned child's passages stay in its parent's total.
  EXPECT_EQ(a.total(), totalBefore);
}

TEST(BindNetworkMissingNumbersTest, ReadAsZeroAndAreWrittenBack) {
  TempDir dir{"bind-missing"};
  testing::writeBytes(dir / "bind.xml",
                      "<?xml version='1.0' encoding='Shift_JIS'?>\n"
                      "<Bind name=\"root\"><Bind name=\"a\"/></Bind>\n");
  {
    BindNetworkStore store;
    ASSERT_TRUE(store.load(dir.wide("bind.xml")));
    BindNode root = store.root();
    BindNode a = root.findChild(u"a", 1);
    ASSERT_TRUE(a);
    EXPECT_FALSE(a.element().attribute(u"total"));
    EXPECT_EQ(a.distance(), 0.0);
    EXPECT_EQ(a.total(), 0.0);
    EXPECT_EQ(root.total(), 0.0);
    EXPECT_EQ(a.element().attribute(u"distance"), u"0.000000000000000e+000");
    EXPECT_EQ(a.element().attribute(u"total"), u"0.000000000000000e+000");
  }
  EXPECT_EQ(xpath(dir / "bind.xml", "string(/Bind/Bind/@distance)"), "0.000000000000000e+000");
  EXPECT_EQ(xpath(dir / "bind.xml", "string(/Bind/@total)"), "0.000000000000000e+000");
}

TEST_F(BindNetworkTest, RootAndEmptyHandlesRefuseTheArithmetic) {
  BindNode root = store_.root();
  std::string before = store_.serialize();
  EXPECT_FALSE(root.reinforce());
  EXPECT_EQ(store_.serialize(), before);

  BindNode none;
  EXPECT_FALSE(none.reinforce());
  EXPECT_FALSE(none.addChild(BindNode(), u"a"));
  EXPECT_FALSE(none.setDistance(1.0));
  EXPECT_FALSE(none.setTotal(1.0));
  EXPECT_EQ(none.distance(), 0.0);
  EXPECT_EQ(none.total(), 0.0);
  EXPECT_FALSE(none.name());
}

TEST_F(BindNetworkTest, DestructionSavesTheLearnedTree) {
  auto file = dir_ / "bind.xml";
  {
    BindNetworkStore other;
    ASSERT_TRUE(other.load(dir_.wide("other.xml")));
    BindNode x;
    ASSERT_TRUE(x.addChild(other.root(), u"\u732b"));  // a character outside ASCII
    BindNode y;
    ASSERT_TRUE(y.addChild(x, u"x"));
  }
  auto otherFile = dir_ / "other.xml";
  EXPECT_EQ(xpath(otherFile, "string(/Bind/Bind/@name)"), "\xE7\x8C\xAB");
  EXPECT_EQ(xpath(otherFile, "string(/Bind/Bind/Bind/@name)"), "x");
  EXPECT_EQ(xpath(otherFile, "string(/Bind/@total)"), "1.000000000000000e+000");
  EXPECT_EQ(xpath(otherFile, "string(/Bind/Bind/@total)"), "1.000000000000000e+000");

  BindNetworkStore reread;
  ASSERT_TRUE(reread.load(dir_.wide("other.xml")));
  BindNode cat = reread.root().findChild(u"\u732b", 1);
  ASSERT_TRUE(cat);
  EXPECT_TRUE(cat.findChild(u"x", 1));
}

// A file edited by hand: comments and text between the children, an element of another kind,
// a Bind without name, names out of order and twice, and distances that are not numbers.
TEST(BindNetworkHandEditedTest, OddEntriesNeitherStallNorSpreadDamage) {
  TempDir dir{"bind-edit"};
  testing::writeBytes(dir / "bind.xml",
                      "<?xml version='1.0' encoding='Shift_JIS'?>\n"
                      "<Bind name=\"root\" total=\"8\">\n"
                      "  <!-- kept by hand -->\n"
                      "  <Bind name=\"a\" distance=\"0.5\" total=\"0\"/>\n"
                      "  some text\n"
                      "  <Note name=\"b\" distance=\"0.1\"/>\n"
                      "  <Bind distance=\"0.2\" total=\"0\"/>\n"
                      "  <Bind name=\"k\" distance=\"abc\" total=\"0\"/>\n"
                      "  <Bind name=\"d\" distance=\"inf\" total=\"0\"/>\n"
                      "  <Bind name=\"c\" distance=\"nan\" total=\"0\"/>\n"
                      "  <Bind name=\"k\" distance=\"0.3\" total=\"0\"/>\n"
                      "  <Bind name=\"z\" distance=\"-inf\" total=\"x\"/>\n"
                      "</Bind>\n");
  {
    BindNetworkStore store;
    ASSERT_TRUE(store.load(dir.wide("bind.xml")));
    BindNode root = store.root();
    ASSERT_TRUE(root);
    BindNode a = root.findChild(u"a", 0);
    ASSERT_TRUE(a);
    ASSERT_TRUE(a.reinforce());
    BindNode fresh;
    ASSERT_TRUE(fresh.addChild(root, u"m"));
    ASSERT_TRUE(fresh.reinforce());
    for (char16_t c : std::u16string(u"abcdkmz")) {
      BindNode n = root.findChild(std::u16string_view(&c, 1), 0);
      if (n) {
        EXPECT_TRUE(std::isfinite(n.distance()));
        EXPECT_GE(n.distance(), 0.0);
      }
    }
    EXPECT_TRUE(std::isfinite(root.total()));
  }
  auto file = dir / "bind.xml";
  ASSERT_TRUE(testing::wellFormed(file));
  // The foreign element and the comment are left as they were.
  EXPECT_EQ(xpath(file, "string(/Bind/Note/@distance)"), "0.1");
  EXPECT_EQ(xpath(file, "count(/Bind/comment())"), "1");
  // Every distance written is a finite number an ordinary reader understands.
  EXPECT_EQ(xpath(file, "count(/Bind/Bind[contains(@distance, \"#\")])"), "0");
  EXPECT_EQ(xpath(file, "count(/Bind/Bind[contains(@distance, \"e\")])"), "8");
  EXPECT_EQ(xpath(file, "string(/Bind/@total)"), "1.100000000000000e+001");
}

// A parent whose total was cleared by hand leaves its children with no share; they must not
// come back as ordinary links after a save and reload.
TEST(BindNetworkHandEditedTest, ChildrenOfAZeroTotalStayUnreachable) {
  TempDir dir{"bind-zero"};
  testing::writeBytes(dir / "bind.xml",
                      "<?xml version='1.0' encoding='Shift_JIS'?>\n"
                      "<Bind name=\"root\" total=\"0\">"
                      "<Bind name=\"a\" distance=\"0.2\" total=\"0\"/>"
                      "<Bind name=\"b\" distance=\"0.3\" total=\"0\"/>"
                      "</Bind>\n");
  {
    BindNetworkStore store;
    ASSERT_TRUE(store.load(dir.wide("bind.xml")));
    BindNode c;
    ASSERT_TRUE(c.addChild(store.root(), u"c"));
    EXPECT_EQ(c.distance(), 0.0);
  }
  BindNetworkStore reread;
  ASSERT_TRUE(reread.load(dir.wide("bind.xml")));
  EXPECT_FALSE(reread.root().findChild(u"a", 0));
  EXPECT_FALSE(reread.root().findChild(u"b", 0));
  EXPECT_TRUE(reread.root().findChild(u"c", 1));
}

}  // namespace
}  // namespace zelka
