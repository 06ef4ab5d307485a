// The index of a parent's element children that keyed lists are searched through. An index
// holds the parent's element children in document order, so that the i-th is reached in
// O(1); once a keyed lookup has checked (or made) the children ascending by a key attribute,
// it also holds the first eight bytes of every key packed into an integer, so that bisection
// reads a dense array instead of walking the document, and long lists get a summary of every
// sixteenth prefix on top. Indexes are built on first use, kept up to date by the edits that
// report to them (insert, remove, key change), and forgotten with the subtree they belong to.
// Keys compare in UTF-16 code-unit order although the DOM holds UTF-8 (the two differ above
// U+FFFF). Used by the xml layer only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <pugixml.hpp>

namespace zelka {

using NodePtr = pugi::xml_node_struct*;

// Walks over element children: comments, text and processing instructions are stepped over.
inline pugi::xml_node previousElement(pugi::xml_node node) {
  for (node = node.previous_sibling(); node; node = node.previous_sibling()) {
    if (node.type() == pugi::node_element) return node;
  }
  return {};
}

inline pugi::xml_node nextElement(pugi::xml_node node) {
  for (node = node.next_sibling(); node; node = node.next_sibling()) {
    if (node.type() == pugi::node_element) return node;
  }
  return {};
}

inline pugi::xml_node firstElement(pugi::xml_node parent) {
  for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
    if (node.type() == pugi::node_element) return node;
  }
  return {};
}

// The first eight bytes of a UTF-8 key packed big-endian, so that comparing two prefixes as
// integers gives the key order wherever they differ. A key-less element (nullptr) gets the
// largest value.
std::uint64_t keyPrefix(const char* key);
std::uint64_t keyPrefix(std::string_view key);

// The element children of one parent in document order. `sortedBy` names the key attribute
// the order has been checked (or made) ascending for, empty when unchecked; while it is set,
// `prefixes` holds the key prefix of every element.
struct ChildIndex {
  std::vector<NodePtr> elements;
  std::vector<std::uint64_t> prefixes;
  std::vector<std::uint64_t> summary;  // rebuilt when a search finds it stale
  bool summaryStale = true;
  std::string sortedBy;
  // Elements inserted key-less before a keyed one (insertChildBefore, then the key is set):
  // the order is settled around them at the next keyed lookup, by which time they normally
  // carry their key, instead of being checked again over the whole list. Every neighbouring
  // pair of elements that are not listed here stays in order.
  std::vector<NodePtr> unsettled;

  void unverify() {
    sortedBy.clear();
    prefixes.clear();
    unsettled.clear();
    summaryStale = true;
  }
  void insertAt(std::size_t position, NodePtr node, std::uint64_t prefix) {
    elements.insert(elements.begin() + static_cast<std::ptrdiff_t>(position), node);
    if (!sortedBy.empty()) {
      prefixes.insert(prefixes.begin() + static_cast<std::ptrdiff_t>(position), prefix);
    }
    summaryStale = true;
  }
  std::size_t positionOf(NodePtr node) const {
    return static_cast<std::size_t>(std::find(elements.begin(), elements.end(), node) -
                                    elements.begin());
  }
  void erase(NodePtr node) {
    std::size_t position = positionOf(node);
    if (position == elements.size()) return;
    elements.erase(elements.begin() + static_cast<std::ptrdiff_t>(position));
    if (!sortedBy.empty()) prefixes.erase(prefixes.begin() + static_cast<std::ptrdiff_t>(position));
    summaryStale = true;
    auto listed = std::find(unsettled.begin(), unsettled.end(), node);
    if (listed != unsettled.end()) {
      // Its neighbours meet now; the one after it is checked in its place.
      unsettled.erase(listed);
      if (position < elements.size()) unsettled.push_back(elements[position]);
    }
  }
};

// The answer of a keyed search: the first child carrying the key, or else the child before
// which the key belongs (none: the end of the list).
struct KeySearch {
  NodePtr match = nullptr;
  NodePtr neighbour = nullptr;
  std::size_t position = 0;   // index of the match, or where the key belongs
  bool indexed = false;       // position refers to the parent's index
};

// The child indexes of one document, by parent.
class ChildIndexes {
 public:
  void clear() {
    indexes_.clear();
    keyAttributes_.clear();
  }

  // The parent's index, built from the document when it has none yet.
  ChildIndex& indexOf(pugi::xml_node parent) {
    auto [it, inserted] = indexes_.try_emplace(parent.internal_object());
    if (inserted) {
      for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element) it->second.elements.push_back(node.internal_object());
      }
    }
    return it->second;
  }

  // The parent's index, or nullptr when it has none.
  ChildIndex* existingIndex(pugi::xml_node parent) {
    auto it = indexes_.find(parent.internal_object());
    return it == indexes_.end() ? nullptr : &it->second;
  }

  // The attributes some index is sorted by: setting one of them must be reported (keyChanged).
  const std::vector<std::string>& keyAttributes() const { return keyAttributes_; }

  // Finds the first child whose key attribute equals `wanted` (UTF-8), or the neighbour the
  // key belongs before. Lists a hand edit left in disorder are stable-sorted in the document
  // first; children without the key attribute sort after all keyed ones and never match.
  // Small lists without an index are walked instead of indexed.
  KeySearch search(pugi::xml_node parent, const std::string& keyAttribute, std::string_view wanted);

  // After the key attribute of `node` changed: when that breaks the checked order, the order
  // is checked (and mended) again at the next keyed lookup.
  void keyChanged(pugi::xml_node node, const std::string& keyAttribute);

  // Registers a new key-less element just inserted among the parent's element children.
  void inserted(pugi::xml_node parent, pugi::xml_node node);

  // Frees the children of `top`, deepest first, and forgets their indexes (their memory may be
  // reused by new nodes).
  void destroyChildren(pugi::xml_node top);

 private:
  void ensureSorted(pugi::xml_node parent, ChildIndex& index, const std::string& keyAttribute);
  void noteKeyAttribute(const std::string& name);

  std::unordered_map<NodePtr, ChildIndex> indexes_;
  std::vector<std::string> keyAttributes_;  // attributes some index is sorted by
};

}  // namespace zelka
