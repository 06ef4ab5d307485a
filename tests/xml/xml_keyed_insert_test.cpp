// Inserting an element before the neighbour a keyed lookup reported and then giving it its
// key keeps a long list searchable without checking the whole list again. The order must
// still be mended whenever the edits in between leave it broken: an element that never got
// its key, one keyed out of place, a neighbour re-keyed while the new element had no key yet,
// or the new element removed again.
#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace zelka {
namespace {

using Key = std::optional<std::u16string>;

std::vector<Key> keysInDocument(const XmlNode& parent) {
  std::vector<Key> keys;
  for (XmlNode c = parent.firstChild(); c; c = c.nextSibling()) keys.push_back(c.attribute(u"name"));
  return keys;
}

// The order a keyed lookup leaves: ascending keys, equal keys and key-less elements (last)
// in their document order.
std::vector<Key> sortedAsLookupLeavesThem(std::vector<Key> keys) {
  std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
    if (!a) return false;
    if (!b) return true;
    return compareKeys(*a, *b) < 0;
  });
  return keys;
}

std::u16string keyFor(std::uint32_t n) {
  return u"w" + std::u16string(1, static_cast<char16_t>(0x3041 + n % 80)) +
         std::u16string(1, static_cast<char16_t>(u'a' + n / 80 % 26));
}

TEST(XmlKeyedInsert, PlacedInsertionsKeepTheListRightThroughOddEdits) {
  std::mt19937 random(7);
  XmlDocument doc;
  ASSERT_EQ(doc.openFromText("<Root/>"), XmlOpenResult::Loaded);
  XmlNode root = doc.documentElement(u"Root");
  std::vector<XmlNode> keyless;  // inserted, key not given yet
  for (int step = 0; step < 6000; ++step) {
    const std::uint32_t kind = random() % 100;
    std::u16string key = keyFor(random() % 2000);
    if (kind < 70) {
      // The usual way: the neighbour from a lookup, insert before it, key at once (mostly).
      XmlNode::KeyLookup found = root.findChildByKey(u"name", key);
      if (found.match) continue;
      XmlNode e = root.insertChildBefore(u"E", found.neighbour);
      ASSERT_TRUE(e);
      if (random() % 10 != 0) {
        e.setAttribute(u"name", key);
      } else {
        keyless.push_back(e);
      }
    } else if (kind < 78 && !keyless.empty()) {
      // A key-less element gets a key late, perhaps one that belongs elsewhere.
      std::size_t i = random() % keyless.size();
      keyless[i].setAttribute(u"name", key);
      keyless.erase(keyless.begin() + static_cast<std::ptrdiff_t>(i));
    } else if (kind < 84 && !keyless.empty()) {
      // A key-less element's neighbour is re-keyed, then the key-less element goes away.
      std::size_t i = random() % keyless.size();
      XmlNode gone = keyless[i];
      keyless.erase(keyless.begin() + static_cast<std::ptrdiff_t>(i));
      XmlNode before;
      for (XmlNode c = root.firstChild(); c && !(c == gone); c = c.nextSibling()) before = c;
      if (before && before.attribute(u"name")) before.setAttribute(u"name", key);
      ASSERT_TRUE(gone.remove());
    } else if (kind < 90 && root.childCount() > 0) {
      XmlNode victim = root.child(random() % root.childCount());
      auto listed = std::find(keyless.begin(), keyless.end(), victim);
      if (listed != keyless.end()) keyless.erase(listed);
      ASSERT_TRUE(victim.remove());
    } else {
      // A lookup: afterwards the list stands in key order, and a present key is found.
      std::vector<Key> expected = sortedAsLookupLeavesThem(keysInDocument(root));
      bool present = std::find(expected.begin(), expected.end(), Key(key)) != expected.end();
      XmlNode::KeyLookup found = root.findChildByKey(u"name", key);
      ASSERT_EQ(static_cast<bool>(found.match), present) << "step " << step;
      if (present) {
        EXPECT_EQ(found.match.attribute(u"name"), key);
      }
      ASSERT_EQ(keysInDocument(root), expected) << "step " << step;
      // The neighbour is the first larger key (a key-less element counts as larger).
      if (!present) {
        auto larger = std::find_if(expected.begin(), expected.end(),
                                   [&](const Key& k) { return !k || compareKeys(key, *k) < 0; });
        if (larger == expected.end()) {
          EXPECT_FALSE(found.neighbour) << "step " << step;
        } else {
          ASSERT_TRUE(found.neighbour) << "step " << step;
          EXPECT_EQ(found.neighbour.attribute(u"name"), *larger);
        }
      }
    }
  }
  EXPECT_GT(root.childCount(), 500u);  // long enough to be searched through its index
  // Every key present is found at the end.
  for (const Key& key : keysInDocument(root)) {
    if (key) {
      EXPECT_TRUE(root.findChildByKey(u"name", *key).match);
    }
  }
}

}  // namespace
}  // namespace zelka
