#include "stores/word_index.h"

#include <algorithm>

namespace zelka {
namespace {

constexpr std::u16string_view kWordIndexes = u"WordIndexes";
constexpr std::u16string_view kIndex = u"Index";
constexpr std::u16string_view kAlias = u"Alias";
constexpr std::u16string_view kName = u"name";

// Removes every Alias of the entry carrying the key (a file we wrote holds at most one; a
// hand-edited one may hold more, and a moved key must not leave a copy behind).
bool removeAliases(const XmlNode& entry, std::u16string_view key) {
  bool removed = false;
  for (XmlNode a = entry.findChildWithAttribute(kAlias, kName, key); !a.empty();
       a = entry.findChildWithAttribute(kAlias, kName, key)) {
    a.remove();
    removed = true;
  }
  return removed;
}

}  // namespace

bool IndexEntry::create(const XmlNode& root, std::u16string_view word,
                        const XmlNode& neighbour) {
  element_ = XmlNode();
  if (root.empty()) return false;
  XmlNode root_ = root;
  // The neighbour saves a second search, but only when it really belongs to this list and
  // sorts after the word; anything else falls back to the sorted insertion.
  bool useNeighbour = false;
  if (!neighbour.empty() && neighbour.parent() == root) {
    std::optional<std::u16string> next = neighbour.attribute(kName);
    useNeighbour = next && compareKeys(word, *next) < 0;
  }
  if (useNeighbour) {
    element_ = root_.insertChildBefore(kIndex, neighbour);
    element_.setAttribute(kName, word);
  } else {
    element_ = root_.insertSorted(kIndex, kName, word);
  }
  return !element_.empty();
}

int IndexEntry::addAliases(const std::vector<std::u16string>& keys) {
  if (element_.empty()) return 0;
  for (const std::u16string& key : keys) removeAliases(element_, key);
  int added = 0;
  for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
    // An empty key names no neuron; a key repeated in the list is written once, at the
    // place of its first occurrence.
    if (it->empty() || std::find(it + 1, keys.rend(), *it) != keys.rend()) continue;
    XmlNode alias = element_.prependChild(kAlias);
    alias.setAttribute(kName, *it);
    ++added;
  }
  return added;
}

int IndexEntry::addAlias(std::u16string_view key) {
  return addAliases({std::u16string(key)});
}

bool IndexEntry::removeAlias(std::u16string_view key) {
  if (element_.empty()) return false;
  return removeAliases(element_, key);
}

std::u16string IndexEntry::firstAlias() const {
  if (element_.empty()) return {};
  XmlNode first = element_.findChild(kAlias);
  if (first.empty()) return {};
  return first.attribute(kName).value_or(std::u16string());
}

std::vector<std::u16string> IndexEntry::aliases() const {
  std::vector<std::u16string> names;
  if (element_.empty()) return names;
  for (XmlNode a = element_.firstChild(); !a.empty(); a = a.nextSibling()) {
    if (a.tagName() != kAlias) continue;
    if (std::optional<std::u16string> n = a.attribute(kName)) names.push_back(std::move(*n));
  }
  return names;
}

WordIndexStore::~WordIndexStore() { saveOnDestruction(); }

bool WordIndexStore::load(const std::u16string& path, const std::u16string& encoding) {
  return openStore(path, encoding,
                   [](XmlDocument& d) { d.appendDocumentElement(kWordIndexes); });
}

XmlNode WordIndexStore::root() const {
  if (!hasDocument()) return XmlNode();
  return documentElement(kWordIndexes);
}

WordIndexStore::Lookup WordIndexStore::findWord(std::u16string_view word) const {
  XmlNode r = root();
  if (r.empty()) return {};
  XmlNode::KeyLookup found = r.findChildByKey(kName, word);
  return {IndexEntry(found.match), found.neighbour};
}

}  // namespace zelka
