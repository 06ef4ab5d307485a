#include "xml/xml_child_index.h"

#include <algorithm>
#include <utility>

namespace zelka {

namespace {

// Parents with at most this many element children and no index yet are searched linearly;
// building an index for every small parent would cost more than it saves.
constexpr std::size_t kLinearSearchLimit = 8;

// Byte rank that turns UTF-8 byte order into UTF-16 code-unit order: the two orders differ
// only where a character of U+E000..U+FFFF (lead byte EE or EF) meets one above U+FFFF (lead
// byte F0..F4), which UTF-16 writes as surrogates D800..DFFF and so sorts first. The first
// differing byte of two valid UTF-8 strings is either inside a character whose lead byte
// both share (the orders agree) or is the lead byte itself.
inline int utf16Rank(unsigned char b) { return (b == 0xEE || b == 0xEF) ? b + 0x100 : b; }

// Compares UTF-8 `a` with the NUL-terminated UTF-8 `b` in UTF-16 code-unit order.
int compareUtf8(std::string_view a, const char* b) {
  std::size_t i = 0;
  while (i < a.size() && b[i] != '\0' && a[i] == b[i]) ++i;
  if (i == a.size()) return b[i] == '\0' ? 0 : -1;
  if (b[i] == '\0') return 1;
  return utf16Rank(static_cast<unsigned char>(a[i])) <
                 utf16Rank(static_cast<unsigned char>(b[i]))
             ? -1
             : 1;
}

// Key order of two children; an element without the key attribute (nullptr) sorts after
// every keyed element.
int compareChildKeys(const char* a, const char* b) {
  if (a == nullptr) return b == nullptr ? 0 : 1;
  if (b == nullptr) return -1;
  return compareUtf8(a, b);
}

const char* keyOf(NodePtr node, const char* keyAttribute) {
  pugi::xml_attribute attribute = pugi::xml_node(node).attribute(keyAttribute);
  return attribute ? attribute.value() : nullptr;
}

// Wanted key against a child's key; a key-less child counts as larger than any key.
int compareWanted(std::string_view wanted, NodePtr child, const char* keyAttribute) {
  const char* key = keyOf(child, keyAttribute);
  if (key == nullptr) return -1;
  return compareUtf8(wanted, key);
}

// The first eight bytes of a UTF-8 key packed big-endian, so that comparing two prefixes as
// integers gives the key order wherever they differ: EE and EF (U+E000..U+FFFF) are raised
// above F0..F4 as utf16Rank does, and a key that ends early is padded with zero bytes (keys
// hold no NUL). A key-less element gets the largest value. The bisection over a large list
// then reads a dense array instead of visiting every element it passes in the document.
inline std::uint64_t packByte(std::uint64_t packed, unsigned char b) {
  return (packed << 8) | ((b == 0xEE || b == 0xEF) ? b + 0x10u : b);
}

// The first index whose value is not below `value` in an ascending array, without branches
// on the data.
std::size_t lowerBound(const std::uint64_t* values, std::size_t count, std::uint64_t value) {
  if (count == 0) return 0;
  const std::uint64_t* base = values;
  while (count > 1) {
    std::size_t half = count / 2;
    base += (base[half - 1] < value) ? half : 0;
    count -= half;
  }
  return static_cast<std::size_t>(base - values) + (*base < value ? 1 : 0);
}

// Lists from this size on are searched through a summary holding every kSummaryStep-th
// prefix: the summary stays in the nearest cache, and the last steps read one short block,
// where a plain bisection over a long array would wait for memory at nearly every step.
constexpr std::size_t kSummaryFrom = 512;
constexpr std::size_t kSummaryStep = 16;

// The first position of the index whose prefix is not below `value`.
std::size_t firstPrefixNotBelow(ChildIndex& index, std::uint64_t value) {
  const std::vector<std::uint64_t>& prefixes = index.prefixes;
  const std::size_t count = prefixes.size();
  if (count < kSummaryFrom) return lowerBound(prefixes.data(), count, value);
  if (index.summaryStale) {
    index.summary.clear();
    for (std::size_t i = 0; i < count; i += kSummaryStep) index.summary.push_back(prefixes[i]);
    index.summaryStale = false;
  }
  std::size_t block = lowerBound(index.summary.data(), index.summary.size(), value);
  if (block == 0) return 0;
  // prefixes[start - 1] is below the value; prefixes[end] (when inside) is not.
  std::size_t start = (block - 1) * kSummaryStep + 1;
  std::size_t end = std::min(block * kSummaryStep, count);
  return start + lowerBound(prefixes.data() + start, end - start, value);
}

// Whether `node` stands in key order between its element neighbours.
bool inOrder(pugi::xml_node node, const char* key) {
  const char* own = keyOf(node.internal_object(), key);
  pugi::xml_node before = previousElement(node);
  pugi::xml_node after = nextElement(node);
  return !(before && compareChildKeys(keyOf(before.internal_object(), key), own) > 0) &&
         !(after && compareChildKeys(own, keyOf(after.internal_object(), key)) > 0);
}

// Whether the checked order still holds: every unsettled element stands in order between
// its neighbours (all other neighbouring pairs are known to be in order). Otherwise the
// order is marked unchecked.
bool settle(ChildIndex& index) {
  for (NodePtr node : index.unsettled) {
    if (!inOrder(pugi::xml_node(node), index.sortedBy.c_str())) {
      index.unverify();
      return false;
    }
  }
  index.unsettled.clear();
  return true;
}

}  // namespace

std::uint64_t keyPrefix(const char* key) {
  if (key == nullptr) return ~std::uint64_t{0};
  std::uint64_t packed = 0;
  int i = 0;
  for (; i < 8 && key[i] != '\0'; ++i) packed = packByte(packed, static_cast<unsigned char>(key[i]));
  if (i == 0) return 0;
  return i == 8 ? packed : packed << (8 * (8 - i));
}

std::uint64_t keyPrefix(std::string_view key) {
  std::uint64_t packed = 0;
  std::size_t n = std::min<std::size_t>(key.size(), 8);
  for (std::size_t i = 0; i < n; ++i) packed = packByte(packed, static_cast<unsigned char>(key[i]));
  if (n == 0) return 0;
  return n == 8 ? packed : packed << (8 * (8 - n));
}

void ChildIndexes::noteKeyAttribute(const std::string& name) {
  if (std::find(keyAttributes_.begin(), keyAttributes_.end(), name) == keyAttributes_.end()) {
    keyAttributes_.push_back(name);
  }
}

// Makes the parent's element children ascending by the key attribute. A hand-edited list
// that is out of order is stable-sorted in the document itself (so the first of equal keys
// stays first, and key-less elements move behind the keyed ones, keeping their order).
void ChildIndexes::ensureSorted(pugi::xml_node parent, ChildIndex& index,
                                const std::string& keyAttribute) {
  if (index.sortedBy == keyAttribute && settle(index)) return;
  const char* key = keyAttribute.c_str();
  auto& elements = index.elements;
  bool sorted = true;
  for (std::size_t i = 1; i < elements.size() && sorted; ++i) {
    if (compareChildKeys(keyOf(elements[i - 1], key), keyOf(elements[i], key)) > 0) sorted = false;
  }
  if (!sorted) {
    std::vector<NodePtr> order = elements;
    std::stable_sort(order.begin(), order.end(), [key](NodePtr a, NodePtr b) {
      return compareChildKeys(keyOf(a, key), keyOf(b, key)) < 0;
    });
    pugi::xml_node first(elements.front());
    for (std::size_t i = 0; i < order.size(); ++i) {
      pugi::xml_node node(order[i]);
      if (i == 0) {
        if (node != first) parent.insert_move_before(node, first);
      } else {
        pugi::xml_node previous(order[i - 1]);
        if (previous.next_sibling() != node) parent.insert_move_after(node, previous);
      }
    }
    elements = std::move(order);
  }
  index.prefixes.resize(elements.size());
  index.summaryStale = true;
  for (std::size_t i = 0; i < elements.size(); ++i) {
    index.prefixes[i] = keyPrefix(keyOf(elements[i], key));
  }
  index.sortedBy = keyAttribute;
  index.unsettled.clear();
  noteKeyAttribute(keyAttribute);
}

void ChildIndexes::keyChanged(pugi::xml_node node, const std::string& keyAttribute) {
  ChildIndex* index = existingIndex(node.parent());
  if (index == nullptr || index->sortedBy != keyAttribute) return;
  if (!inOrder(node, keyAttribute.c_str())) {
    index->unverify();
    return;
  }
  std::size_t position = index->positionOf(node.internal_object());
  if (position < index->prefixes.size()) {
    index->prefixes[position] = keyPrefix(keyOf(node.internal_object(), keyAttribute.c_str()));
    index->summaryStale = true;
  }
}

KeySearch ChildIndexes::search(pugi::xml_node parent, const std::string& keyAttribute,
                               std::string_view wanted) {
  KeySearch result;
  const char* key = keyAttribute.c_str();
  ChildIndex* index = existingIndex(parent);
  if (index == nullptr) {
    // Small sorted lists are searched by a linear walk without building an index: the
    // match is the first carrier of the key, the neighbour the first larger key.
    NodePtr seen[kLinearSearchLimit];
    std::size_t count = 0;
    bool small = true;
    bool sorted = true;
    const char* previous = nullptr;
    for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
      if (node.type() != pugi::node_element) continue;
      if (count == kLinearSearchLimit) {
        small = false;
        break;
      }
      const char* own = keyOf(node.internal_object(), key);
      if (count > 0 && compareChildKeys(previous, own) > 0) sorted = false;
      previous = own;
      seen[count++] = node.internal_object();
    }
    if (small && sorted) {
      for (std::size_t i = 0; i < count; ++i) {
        int order = compareWanted(wanted, seen[i], key);
        if (order == 0) {
          result.match = seen[i];
          return result;
        }
        if (order < 0) {
          result.neighbour = seen[i];
          return result;
        }
      }
      return result;
    }
    index = &indexOf(parent);
  }
  ensureSorted(parent, *index, keyAttribute);
  const auto& elements = index->elements;
  const auto& prefixes = index->prefixes;
  result.indexed = true;
  if (elements.empty()) return result;
  // Bisection for the first child whose key is not below the wanted one: that child is the
  // match when its key is equal (the first of equal keys), otherwise the neighbour the key
  // belongs before. The integer prefixes settle almost every step without touching the
  // document, and without branches; only keys that share their first eight bytes are
  // compared in full.
  const std::uint64_t wantedPrefix = keyPrefix(wanted);
  const std::size_t count = prefixes.size();
  std::size_t position = firstPrefixNotBelow(*index, wantedPrefix);
  if (position < count && prefixes[position] == wantedPrefix) {
    if ((wantedPrefix & 0xFF) == 0) {
      // Both keys end inside the prefix: they are equal.
      result.match = elements[position];
      result.position = position;
      return result;
    }
    std::size_t end = position + lowerBound(prefixes.data() + position, count - position,
                                            wantedPrefix + 1);
    std::size_t length = end - position;
    while (length > 0) {
      std::size_t half = length / 2;
      if (compareWanted(wanted, elements[position + half], key) > 0) {
        position += half + 1;
        length -= half + 1;
      } else {
        length = half;
      }
    }
    if (position < end && compareWanted(wanted, elements[position], key) == 0) {
      result.match = elements[position];
      result.position = position;
      return result;
    }
  }
  result.position = position;
  if (position < count) result.neighbour = elements[position];
  return result;
}

// Registers a new key-less element just inserted among the parent's element children. It
// sorts after every keyed element, so it breaks the order unless only key-less ones follow;
// the caller normally gives it its key next, and the next keyed lookup settles the order
// around it.
void ChildIndexes::inserted(pugi::xml_node parent, pugi::xml_node node) {
  ChildIndex* index = existingIndex(parent);
  if (index == nullptr) return;
  pugi::xml_node after = nextElement(node);
  std::size_t position =
      after ? index->positionOf(after.internal_object()) : index->elements.size();
  index->insertAt(position, node.internal_object(), keyPrefix(static_cast<const char*>(nullptr)));
  if (!index->sortedBy.empty() && !inOrder(node, index->sortedBy.c_str())) {
    index->unsettled.push_back(node.internal_object());
  }
}

// Frees the children of `top`, deepest first, and forgets their indexes (their memory may be
// reused by new nodes). The DOM frees a subtree recursively; taking it apart leaf by leaf
// keeps a hand-edited file that nests very deep from exhausting the stack.
void ChildIndexes::destroyChildren(pugi::xml_node top) {
  pugi::xml_node node = top;
  for (;;) {
    pugi::xml_node child = node.last_child();
    if (child) {
      node = child;
      continue;
    }
    if (node == top) break;
    pugi::xml_node parent = node.parent();
    if (!indexes_.empty()) indexes_.erase(node.internal_object());
    parent.remove_child(node);
    node = parent;
  }
  if (!indexes_.empty()) indexes_.erase(top.internal_object());
}

}  // namespace zelka
