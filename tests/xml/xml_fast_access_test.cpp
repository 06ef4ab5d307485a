// The ASCII-name forms used by hot loops must behave exactly as the general UTF-16 forms:
// same numbers read, same texts written, same write-back of unreadable numbers, and keyed
// lookups that stay right when a key attribute is changed through them.
#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "util/number_text.h"

namespace zelka {
namespace {

std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

XmlNode rootOf(XmlDocument& doc, const std::string& text) {
  EXPECT_EQ(doc.openFromText(text), XmlOpenResult::Loaded);
  return doc.documentElement(u"");
}

TEST(XmlFastAccessTest, NumbersReadAndWrittenAsTheWideFormsDo) {
  struct Case {
    const char* attribute;  // the attribute as the file holds it; nullptr: missing
    double value;           // what both forms read
  };
  const Case cases[] = {
      {"3.010299956639812e-001", 0.3010299956639812},
      {"  -2.5e3xyz", -2500},
      {"abc", 0},
      {"inf", 0},  // not finite: read as 0 and written back
      {"nan", 0},
      {"1.#INF00000000000e+000", 1},
      {nullptr, 0},
  };
  for (const Case& c : cases) {
    std::string element = c.attribute ? std::string("<E d=\"") + c.attribute + "\"/>" : "<E/>";
    XmlDocument fast;
    XmlDocument general;
    XmlNode a = rootOf(fast, element);
    XmlNode b = rootOf(general, element);
    EXPECT_EQ(a.numberAttributeAscii("d"), c.value) << element;
    EXPECT_EQ(b.numberAttribute(u"d"), c.value) << element;
    EXPECT_EQ(fast.serialize(), general.serialize()) << element;
  }

  const double values[] = {0.0, -0.0, 0.5, 1.0e300, 123456.0, 1e-7, 7.0e-13, 2.5e17,
                           std::nan(""), HUGE_VAL};
  XmlDocument fast;
  XmlDocument general;
  XmlNode a = rootOf(fast, "<E/>");
  XmlNode b = rootOf(general, "<E/>");
  for (double v : values) {
    a.setAttributeNumberAscii("d", v);
    b.setAttributeNumber(u"d", v);
    EXPECT_EQ(a.attribute(u"d"), b.attribute(u"d")) << v;
  }
  EXPECT_EQ(fast.serialize(), general.serialize());
}

TEST(XmlFastAccessTest, TagAndAttributeTests) {
  XmlDocument doc;
  XmlNode root = rootOf(doc, "<Bind name=\"root\" empty=\"\"><Other/></Bind>");
  EXPECT_TRUE(root.hasTag("Bind"));
  EXPECT_FALSE(root.hasTag("Bin"));
  EXPECT_FALSE(root.hasTag("Binds"));
  EXPECT_TRUE(root.attributeEquals("name", "root"));
  EXPECT_FALSE(root.attributeEquals("name", "roo"));
  EXPECT_TRUE(root.attributeEquals("empty", ""));
  EXPECT_FALSE(root.attributeEquals("missing", ""));  // absent is not empty

  XmlNode none;
  EXPECT_FALSE(none.hasTag(""));
  EXPECT_FALSE(none.attributeEquals("name", ""));
  EXPECT_EQ(none.numberAttributeAscii("d"), 0.0);
  EXPECT_THROW(none.setAttributeNumberAscii("d", 1.0), XmlError);
  EXPECT_THROW(root.setAttributeNumberAscii("", 1.0), XmlError);
  EXPECT_THROW(root.updateChildNumbers("Other", "", XmlNode(), nullptr, nullptr), XmlError);
  none.updateChildNumbers("Other", "d", XmlNode(), nullptr, nullptr);  // nothing to do
}

double halve(double value, const void*) { return value / 2; }
double flip(double value, const void*) { return 100 - value; }

// A parent with `count` children: Bind elements with a "d" number (one without, one
// unreadable), one element of another tag, a comment and text between them.
std::string listText(int count) {
  std::string text = "<P>";
  for (int i = 0; i < count; ++i) {
    std::string name = std::to_string(100 + i);
    if (i == 2) {
      text += "<Other name=\"" + name + "\" d=\"4\"/><!-- note -->";
    } else if (i == 3) {
      text += "<Bind name=\"" + name + "\"/>text";
    } else if (i == 4) {
      text += "<Bind name=\"" + name + "\" d=\"x\"/>";
    } else {
      text += "<Bind name=\"" + name + "\" d=\"" + std::to_string(i) + ".5\"/>";
    }
  }
  return text + "</P>";
}

TEST(XmlFastAccessTest, UpdateChildNumbersMatchesAWalkOverTheChildren) {
  // Short lists are walked in the document, long ones through the index a keyed lookup built.
  for (int count : {6, 8, 9, 40, 300}) {
    XmlDocument fast;
    XmlDocument general;
    XmlNode a = rootOf(fast, listText(count));
    XmlNode b = rootOf(general, listText(count));
    for (XmlNode* parent : {&a, &b}) parent->findChildByKey(u"name", u"105");
    XmlNode skipA = a.findChildByKey(u"name", u"101").match;
    XmlNode skipB = b.findChildByKey(u"name", u"101").match;
    for (int pass = 0; pass < 3; ++pass) {
      a.updateChildNumbers("Bind", "d", skipA, halve, nullptr);
      for (XmlNode c = b.firstChild(); c; c = c.nextSibling()) {
        if (c == skipB || c.tagName() != u"Bind") continue;
        c.setAttributeNumber(u"d", halve(c.numberAttribute(u"d"), nullptr));
      }
    }
    EXPECT_EQ(fast.serialize(), general.serialize()) << count;
  }
}

TEST(XmlFastAccessTest, ChangingTheKeyAttributeKeepsKeyedLookupsRight) {
  // Children keyed by a number text; flipping every key (10 .. 39 become 90 .. 61) reverses
  // their order, which the next keyed lookup must notice and mend.
  std::string text = "<P>";
  for (int i = 0; i < 30; ++i) text += "<N k=\"" + std::to_string(10 + i) + "\"/>";
  text += "</P>";
  XmlDocument doc;
  XmlNode parent = rootOf(doc, text);
  ASSERT_TRUE(parent.findChildByKey(u"k", u"10").match);
  parent.updateChildNumbers("N", "k", XmlNode(), flip, nullptr);
  for (int i = 0; i < 30; ++i) {
    std::u16string key = wide(formatScientific(90.0 - i, 15));
    XmlNode found = parent.findChildByKey(u"k", key).match;
    ASSERT_TRUE(found) << i;
    EXPECT_EQ(found.attribute(u"k"), key);
  }
  // One child changed through setAttributeNumberAscii moves as well.
  XmlNode first = parent.findChildByKey(u"k", wide(formatScientific(90.0, 15))).match;
  first.setAttributeNumberAscii("k", -99.0);
  EXPECT_TRUE(parent.findChildByKey(u"k", wide(formatScientific(-99.0, 15))).match);
  EXPECT_FALSE(parent.findChildByKey(u"k", wide(formatScientific(90.0, 15))).match);
}

}  // namespace
}  // namespace zelka
