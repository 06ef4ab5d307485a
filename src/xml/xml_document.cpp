#include "xml/xml_document.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/text_codec.h"
#include "util/number_text.h"
#include "xml/xml_encoding.h"

namespace zelka {

namespace {

using NodePtr = pugi::xml_node_struct*;

// Parents with at most this many element children and no index yet are searched linearly;
// building an index for every small parent would cost more than it saves.
constexpr std::size_t kLinearSearchLimit = 8;

// Parse flags: keep the declaration (its encoding decides how the file is written back),
// comments and processing instructions (hand edits survive a save). Document type
// declarations are skipped, never interpreted: no entity is expanded or fetched.
constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_declaration |
                                 pugi::parse_comments | pugi::parse_pi;

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

pugi::xml_node previousElement(pugi::xml_node node) {
  for (node = node.previous_sibling(); node; node = node.previous_sibling()) {
    if (node.type() == pugi::node_element) return node;
  }
  return {};
}

pugi::xml_node nextElement(pugi::xml_node node) {
  for (node = node.next_sibling(); node; node = node.next_sibling()) {
    if (node.type() == pugi::node_element) return node;
  }
  return {};
}

pugi::xml_node firstElement(pugi::xml_node parent) {
  for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
    if (node.type() == pugi::node_element) return node;
  }
  return {};
}

class StringWriter : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string& out) : out_(out) {}
  void write(const void* data, std::size_t size) override {
    out_.append(static_cast<const char*>(data), size);
  }

 private:
  std::string& out_;
};

}  // namespace

int compareKeys(std::u16string_view a, std::u16string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// The first eight bytes of a UTF-8 key packed big-endian, so that comparing two prefixes as
// integers gives the key order wherever they differ: EE and EF (U+E000..U+FFFF) are raised
// above F0..F4 as utf16Rank does, and a key that ends early is padded with zero bytes (keys
// hold no NUL). A key-less element gets the largest value. The bisection over a large list
// then reads a dense array instead of visiting every element it passes in the document.
inline std::uint64_t packByte(std::uint64_t packed, unsigned char b) {
  return (packed << 8) | ((b == 0xEE || b == 0xEF) ? b + 0x10u : b);
}

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
  // The first position whose prefix is not below `value`.
  std::size_t firstPrefixNotBelow(std::uint64_t value) {
    const std::size_t count = prefixes.size();
    if (count < kSummaryFrom) return lowerBound(prefixes.data(), count, value);
    if (summaryStale) {
      summary.clear();
      for (std::size_t i = 0; i < count; i += kSummaryStep) summary.push_back(prefixes[i]);
      summaryStale = false;
    }
    std::size_t block = lowerBound(summary.data(), summary.size(), value);
    if (block == 0) return 0;
    // prefixes[start - 1] is below the value; prefixes[end] (when inside) is not.
    std::size_t start = (block - 1) * kSummaryStep + 1;
    std::size_t end = std::min(block * kSummaryStep, count);
    return start + lowerBound(prefixes.data() + start, end - start, value);
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

struct KeySearch {
  NodePtr match = nullptr;
  NodePtr neighbour = nullptr;
  std::size_t position = 0;   // index of the match, or where the key belongs
  bool indexed = false;       // position refers to the parent's index
};

struct XmlDocumentImpl {
  pugi::xml_document doc;
  std::string buffer;  // parsed in place: pugixml's strings point into it
  bool hasDocument = false;
  std::u16string boundPath;
  std::unordered_map<NodePtr, ChildIndex> indexes;
  std::vector<std::string> keyAttributes;  // attributes some index is sorted by

  static XmlNode wrap(XmlDocumentImpl* impl, pugi::xml_node node) {
    return node ? XmlNode(impl, node.internal_object()) : XmlNode();
  }

  void reset() {
    doc.reset();
    buffer.clear();
    buffer.shrink_to_fit();
    hasDocument = false;
    boundPath.clear();
    indexes.clear();
    keyAttributes.clear();
  }

  ChildIndex& indexOf(pugi::xml_node parent) {
    auto [it, inserted] = indexes.try_emplace(parent.internal_object());
    if (inserted) {
      for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element) it->second.elements.push_back(node.internal_object());
      }
    }
    return it->second;
  }

  ChildIndex* existingIndex(pugi::xml_node parent) {
    auto it = indexes.find(parent.internal_object());
    return it == indexes.end() ? nullptr : &it->second;
  }

  void noteKeyAttribute(const std::string& name) {
    if (std::find(keyAttributes.begin(), keyAttributes.end(), name) == keyAttributes.end()) {
      keyAttributes.push_back(name);
    }
  }

  // Makes the parent's element children ascending by the key attribute. A hand-edited list
  // that is out of order is stable-sorted in the document itself (so the first of equal keys
  // stays first, and key-less elements move behind the keyed ones, keeping their order).
  void ensureSorted(pugi::xml_node parent, ChildIndex& index, const std::string& keyAttribute) {
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

  // Whether the checked order still holds: every unsettled element stands in order between
  // its neighbours (all other neighbouring pairs are known to be in order). Otherwise the
  // order is marked unchecked.
  static bool settle(ChildIndex& index) {
    for (NodePtr node : index.unsettled) {
      if (!inOrder(pugi::xml_node(node), index.sortedBy.c_str())) {
        index.unverify();
        return false;
      }
    }
    index.unsettled.clear();
    return true;
  }

  // Whether `node` stands in key order between its element neighbours.
  static bool inOrder(pugi::xml_node node, const char* key) {
    const char* own = keyOf(node.internal_object(), key);
    pugi::xml_node before = previousElement(node);
    pugi::xml_node after = nextElement(node);
    return !(before && compareChildKeys(keyOf(before.internal_object(), key), own) > 0) &&
           !(after && compareChildKeys(own, keyOf(after.internal_object(), key)) > 0);
  }

  // After the key attribute of `node` changed: when that breaks the checked order, the order
  // is checked (and mended) again at the next keyed lookup.
  void keyChanged(pugi::xml_node node, const std::string& keyAttribute) {
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

  KeySearch search(pugi::xml_node parent, const std::string& keyAttribute,
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
    std::size_t position = index->firstPrefixNotBelow(wantedPrefix);
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
  void inserted(pugi::xml_node parent, pugi::xml_node node) {
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
  void destroyChildren(pugi::xml_node top) {
    pugi::xml_node node = top;
    for (;;) {
      pugi::xml_node child = node.last_child();
      if (child) {
        node = child;
        continue;
      }
      if (node == top) break;
      pugi::xml_node parent = node.parent();
      if (!indexes.empty()) indexes.erase(node.internal_object());
      parent.remove_child(node);
      node = parent;
    }
    if (!indexes.empty()) indexes.erase(top.internal_object());
  }
};

namespace {

pugi::xml_node nodeOf(void* node) {
  return pugi::xml_node(static_cast<pugi::xml_node_struct*>(node));
}

[[noreturn]] void fail(const char* what) { throw XmlError(what); }

}  // namespace

// ----- XmlNode -----

std::u16string XmlNode::tagName() const {
  if (empty()) return {};
  return utf8ToUtf16(nodeOf(node_).name());
}

std::optional<std::u16string> XmlNode::attribute(std::u16string_view name) const {
  if (empty()) return std::nullopt;
  pugi::xml_attribute attribute = nodeOf(node_).attribute(toXmlUtf8(name).c_str());
  if (!attribute) return std::nullopt;
  return utf8ToUtf16(attribute.value());
}

void XmlNode::setAttribute(std::u16string_view name, std::u16string_view value) {
  if (empty()) fail("setAttribute on an empty element");
  std::string key = toXmlUtf8(name);
  if (key.empty()) fail("setAttribute with an empty attribute name");
  pugi::xml_node node = nodeOf(node_);
  pugi::xml_attribute attribute = node.attribute(key.c_str());
  if (!attribute) attribute = node.append_attribute(key.c_str());
  if (!attribute || !attribute.set_value(toXmlUtf8(value).c_str())) fail("setAttribute failed");
  const auto& keys = doc_->keyAttributes;
  if (std::find(keys.begin(), keys.end(), key) != keys.end()) doc_->keyChanged(node, key);
}

void XmlNode::setAttributeNumber(std::u16string_view name, double value) {
  std::string text = formatScientific(value, 15);
  setAttribute(name, std::u16string(text.begin(), text.end()));
}

void XmlNode::setAttributeInteger(std::u16string_view name, long long value) {
  std::string text = std::to_string(value);
  setAttribute(name, std::u16string(text.begin(), text.end()));
}

double XmlNode::numberAttribute(std::u16string_view name) {
  if (empty()) return 0.0;
  pugi::xml_attribute attribute = nodeOf(node_).attribute(toXmlUtf8(name).c_str());
  if (attribute) {
    double value = parseDoublePrefix(std::string_view(attribute.value()));
    if (value - value == 0.0) return value;  // finite
  }
  setAttributeNumber(name, 0.0);
  return 0.0;
}

XmlNode XmlNode::parent() const {
  if (empty()) return {};
  pugi::xml_node parent = nodeOf(node_).parent();
  if (!parent || parent.type() != pugi::node_element) return {};
  return XmlDocumentImpl::wrap(doc_, parent);
}

std::size_t XmlNode::childCount() const {
  if (empty()) return 0;
  return doc_->indexOf(nodeOf(node_)).elements.size();
}

XmlNode XmlNode::child(std::size_t index) const {
  if (empty()) return {};
  const auto& elements = doc_->indexOf(nodeOf(node_)).elements;
  if (index >= elements.size()) return {};
  return XmlNode(doc_, elements[index]);
}

XmlNode XmlNode::firstChild() const {
  if (empty()) return {};
  return XmlDocumentImpl::wrap(doc_, firstElement(nodeOf(node_)));
}

XmlNode XmlNode::nextSibling() const {
  if (empty()) return {};
  return XmlDocumentImpl::wrap(doc_, nextElement(nodeOf(node_)));
}

XmlNode XmlNode::findChild(std::u16string_view tag) const {
  if (empty()) return {};
  std::string name = toXmlUtf8(tag);
  for (pugi::xml_node node = firstElement(nodeOf(node_)); node; node = nextElement(node)) {
    if (name.empty() || name == node.name()) return XmlDocumentImpl::wrap(doc_, node);
  }
  return {};
}

XmlNode XmlNode::findChildWithAttribute(std::u16string_view tag,
                                        std::u16string_view attribute,
                                        std::u16string_view value) const {
  if (empty()) return {};
  std::string name = toXmlUtf8(tag);
  std::string key = toXmlUtf8(attribute);
  std::string wanted = toXmlUtf8(value);
  for (pugi::xml_node node = firstElement(nodeOf(node_)); node; node = nextElement(node)) {
    if (!name.empty() && name != node.name()) continue;
    pugi::xml_attribute found = node.attribute(key.c_str());
    if (found && wanted == found.value()) return XmlDocumentImpl::wrap(doc_, node);
  }
  return {};
}

XmlNode::KeyLookup XmlNode::findChildByKey(std::u16string_view keyAttribute,
                                           std::u16string_view key) const {
  if (empty()) return {};
  KeySearch found = doc_->search(nodeOf(node_), toXmlUtf8(keyAttribute), toXmlUtf8(key));
  KeyLookup result;
  if (found.match != nullptr) result.match = XmlNode(doc_, found.match);
  if (found.neighbour != nullptr) result.neighbour = XmlNode(doc_, found.neighbour);
  return result;
}

XmlNode XmlNode::insertSorted(std::u16string_view tag, std::u16string_view keyAttribute,
                              std::u16string_view key) {
  if (empty()) fail("insertSorted on an empty element");
  std::string name = toXmlUtf8(tag);
  std::string attributeName = toXmlUtf8(keyAttribute);
  if (name.empty() || attributeName.empty()) fail("insertSorted without a tag or key name");
  std::string wanted = toXmlUtf8(key);
  pugi::xml_node parent = nodeOf(node_);
  KeySearch found = doc_->search(parent, attributeName, wanted);
  if (found.match != nullptr) return {};
  pugi::xml_node node = found.neighbour != nullptr
                            ? parent.insert_child_before(name.c_str(), pugi::xml_node(found.neighbour))
                            : parent.append_child(name.c_str());
  if (!node) fail("insertSorted could not create the element");
  pugi::xml_attribute attribute = node.append_attribute(attributeName.c_str());
  if (!attribute || !attribute.set_value(wanted.c_str())) {
    parent.remove_child(node);
    fail("insertSorted could not set the key");
  }
  if (found.indexed) {
    doc_->existingIndex(parent)->insertAt(found.position, node.internal_object(),
                                          keyPrefix(std::string_view(wanted)));
  }
  return XmlNode(doc_, node.internal_object());
}

std::u16string XmlNode::makeUniqueKey(std::u16string_view keyAttribute,
                                      std::u16string_view prefix) const {
  if (empty()) return {};
  auto hex8 = [](std::uint32_t value) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::u16string text(8, u'0');
    for (int i = 7; i >= 0; --i) {
      text[static_cast<std::size_t>(i)] = static_cast<char16_t>(kDigits[value & 0xF]);
      value >>= 4;
    }
    return text;
  };
  std::u16string stem = std::u16string(prefix) + hex8(tickCountMs());
  auto second = static_cast<std::uint32_t>(secondsSinceEpoch());
  // Every pass either answers or steps past a taken key; there are finitely many children.
  for (;;) {
    std::u16string candidate = stem + hex8(second);
    if (!findChildByKey(keyAttribute, candidate).match) return candidate;
    ++second;
  }
}

XmlNode XmlNode::appendChild(std::u16string_view tag) {
  if (empty()) fail("appendChild on an empty element");
  std::string name = toXmlUtf8(tag);
  if (name.empty()) fail("appendChild without a tag");
  pugi::xml_node parent = nodeOf(node_);
  pugi::xml_node node = parent.append_child(name.c_str());
  if (!node) fail("appendChild failed");
  doc_->inserted(parent, node);
  return XmlNode(doc_, node.internal_object());
}

XmlNode XmlNode::prependChild(std::u16string_view tag) {
  if (empty()) fail("prependChild on an empty element");
  std::string name = toXmlUtf8(tag);
  if (name.empty()) fail("prependChild without a tag");
  pugi::xml_node parent = nodeOf(node_);
  pugi::xml_node node = parent.prepend_child(name.c_str());
  if (!node) fail("prependChild failed");
  doc_->inserted(parent, node);
  return XmlNode(doc_, node.internal_object());
}

XmlNode XmlNode::insertChildBefore(std::u16string_view tag, const XmlNode& reference) {
  if (reference.empty()) return appendChild(tag);
  if (empty()) fail("insertChildBefore on an empty element");
  pugi::xml_node parent = nodeOf(node_);
  pugi::xml_node before = nodeOf(reference.node_);
  if (before.parent() != parent) fail("insertChildBefore: the reference is not a child");
  std::string name = toXmlUtf8(tag);
  if (name.empty()) fail("insertChildBefore without a tag");
  pugi::xml_node node = parent.insert_child_before(name.c_str(), before);
  if (!node) fail("insertChildBefore failed");
  doc_->inserted(parent, node);
  return XmlNode(doc_, node.internal_object());
}

bool XmlNode::remove() {
  if (empty()) return false;
  pugi::xml_node node = nodeOf(node_);
  pugi::xml_node parent = node.parent();
  if (!parent) return false;
  if (ChildIndex* index = doc_->existingIndex(parent)) index->erase(node.internal_object());
  doc_->destroyChildren(node);
  parent.remove_child(node);
  node_ = nullptr;
  doc_ = nullptr;
  return true;
}

// ----- XmlDocument -----

XmlDocument::XmlDocument() : impl_(std::make_unique<XmlDocumentImpl>()) {}

XmlDocument::~XmlDocument() = default;

namespace {

// Narrow form of a path; nullopt when it has a character the narrow form cannot hold (the
// narrow conversion would cut it and name another file).
std::optional<std::string> narrowPath(const std::u16string& path) {
  std::string narrow = toNarrow(path);
  if (toWide(narrow) != path) return std::nullopt;
  return narrow;
}

// Removes the temporary files a killed save of this path left beside it.
void removeLeftoverTemporaries(const std::u16string& path) {
  std::size_t slash = path.find_last_of(u"/\\");
  std::u16string directory = slash == std::u16string::npos ? u"." : path.substr(0, slash + 1);
  std::u16string base = slash == std::u16string::npos ? path : path.substr(slash + 1);
  auto narrowDirectory = narrowPath(directory);
  auto narrowBase = narrowPath(base);
  if (!narrowDirectory || !narrowBase || narrowBase->empty()) return;
  auto entries = listDirectory(*narrowDirectory, "*");
  if (!entries) return;
  std::string stem = *narrowBase + kTemporarySuffix;
  for (const auto& entry : *entries) {
    if (!entry.isDirectory && entry.name.compare(0, stem.size(), stem) == 0) {
      std::string full = slash == std::u16string::npos ? entry.name : *narrowDirectory + entry.name;
      deleteFile(full);
    }
  }
}

}  // namespace

XmlOpenResult XmlDocument::open(const std::u16string& path, const std::u16string& encoding,
                                BrokenFilePolicy policy) {
  impl_->reset();
  if (path.empty()) return XmlOpenResult::Failed;
  auto narrow = narrowPath(path);
  if (!narrow) return XmlOpenResult::Failed;
  if (policy == BrokenFilePolicy::KeepAside) removeLeftoverTemporaries(path);

  if (fileExists(*narrow)) {
    auto bytes = readFile(*narrow);
    if (!bytes) return XmlOpenResult::Failed;
    if (openFromText(*bytes) == XmlOpenResult::Loaded) {
      impl_->boundPath = path;
      return XmlOpenResult::Loaded;
    }
    // The file is there but is not a document we can read: never overwrite it.
    if (policy == BrokenFilePolicy::Fail || !moveAside(*narrow)) return XmlOpenResult::Failed;
  }

  impl_->reset();
  pugi::xml_node declaration = impl_->doc.append_child(pugi::node_declaration);
  std::string encodingName = encoding.empty() ? std::string("Shift_JIS") : toXmlUtf8(encoding);
  if (!declaration || !declaration.append_attribute("version").set_value("1.0") ||
      !declaration.append_attribute("encoding").set_value(encodingName.c_str())) {
    impl_->reset();
    return XmlOpenResult::Failed;
  }
  impl_->hasDocument = true;
  return XmlOpenResult::Created;
}

XmlOpenResult XmlDocument::openFromText(std::string_view bytes) {
  impl_->reset();
  auto text = decodeFileBytes(bytes);
  if (!text) return XmlOpenResult::Failed;
  impl_->buffer = std::move(*text);
  pugi::xml_parse_result parsed = impl_->doc.load_buffer_inplace(
      impl_->buffer.data(), impl_->buffer.size(), kParseFlags, pugi::encoding_utf8);
  if (!parsed || !impl_->doc.document_element()) {
    impl_->reset();
    return XmlOpenResult::Failed;
  }
  impl_->hasDocument = true;
  return XmlOpenResult::Loaded;
}

namespace {

// "1." followed by digits, the only version numbers XML knows.
bool isVersionNumber(const char* text) {
  if (text[0] != '1' || text[1] != '.' || text[2] == '\0') return false;
  for (const char* p = text + 2; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return true;
}

}  // namespace

std::string XmlDocument::serialize() const {
  if (!impl_->hasDocument) return {};
  std::string utf8;
  StringWriter writer(utf8);
  XmlFileEncoding encoding = XmlFileEncoding::Utf8;
  for (pugi::xml_node node = impl_->doc.first_child(); node; node = node.next_sibling()) {
    if (node.type() == pugi::node_declaration) {
      // The declaration is written as the system has always written it: single quotes. Only
      // what a declaration may hold is written back, in the order XML requires, so that a
      // lenient read of an odd declaration never turns into a file no reader accepts.
      utf8 += "<?xml version='";
      const char* version = node.attribute("version").value();
      utf8 += isVersionNumber(version) ? version : "1.0";
      utf8 += '\'';
      if (pugi::xml_attribute a = node.attribute("encoding")) {
        char q = std::strchr(a.value(), '\'') ? '"' : '\'';
        utf8 += " encoding=";
        utf8 += q;
        utf8 += a.value();
        utf8 += q;
        encoding = encodingFromName(a.value());
      }
      const char* standalone = node.attribute("standalone").value();
      if (std::strcmp(standalone, "yes") == 0 || std::strcmp(standalone, "no") == 0) {
        utf8 += " standalone='";
        utf8 += standalone;
        utf8 += '\'';
      }
      utf8 += "?>\n";
      continue;
    }
    node.print(writer, "\t", pugi::format_indent, pugi::encoding_utf8, 0);
  }
  switch (encoding) {
    case XmlFileEncoding::Utf8:
      return utf8;
    case XmlFileEncoding::ShiftJis:
      return encodeShiftJis(utf8);
    case XmlFileEncoding::Unknown:
      break;
  }
  return {};
}

bool XmlDocument::save(const std::optional<std::u16string>& path) {
  if (!impl_->hasDocument) return false;
  const std::u16string& target = path ? *path : impl_->boundPath;
  if (target.empty()) return false;
  auto narrow = narrowPath(target);
  if (!narrow) return false;
  std::string bytes = serialize();
  // An encoding we cannot write gives no bytes at all; never write a file that lies about it.
  if (bytes.empty()) return false;
  if (!replaceFileAtomically(*narrow, bytes)) return false;
  if (path) impl_->boundPath = *path;
  return true;
}

bool XmlDocument::hasDocument() const { return impl_->hasDocument; }

const std::u16string& XmlDocument::boundPath() const { return impl_->boundPath; }

XmlNode XmlDocument::documentElement(std::u16string_view tag) const {
  if (!impl_->hasDocument) return {};
  std::string name = toXmlUtf8(tag);
  for (pugi::xml_node node = firstElement(impl_->doc); node; node = nextElement(node)) {
    if (name.empty() || name == node.name()) return XmlDocumentImpl::wrap(impl_.get(), node);
  }
  return {};
}

XmlNode XmlDocument::documentElementWithAttribute(std::u16string_view tag,
                                                  std::u16string_view attribute,
                                                  std::u16string_view value) const {
  if (!impl_->hasDocument) return {};
  std::string name = toXmlUtf8(tag);
  std::string key = toXmlUtf8(attribute);
  std::string wanted = toXmlUtf8(value);
  for (pugi::xml_node node = firstElement(impl_->doc); node; node = nextElement(node)) {
    if (!name.empty() && name != node.name()) continue;
    pugi::xml_attribute found = node.attribute(key.c_str());
    if (found && wanted == found.value()) return XmlDocumentImpl::wrap(impl_.get(), node);
  }
  return {};
}

XmlNode XmlDocument::appendDocumentElement(std::u16string_view tag) {
  if (!impl_->hasDocument) fail("appendDocumentElement without a document");
  if (firstElement(impl_->doc)) fail("the document already has its element");
  std::string name = toXmlUtf8(tag);
  if (name.empty()) fail("appendDocumentElement without a tag");
  pugi::xml_node node = impl_->doc.append_child(name.c_str());
  if (!node) fail("appendDocumentElement failed");
  return XmlNode(impl_.get(), node.internal_object());
}

bool XmlDocument::openStore(const std::u16string& path, const std::u16string& encoding,
                            const std::function<void(XmlDocument&)>& buildSkeleton) {
  switch (open(path, encoding)) {
    case XmlOpenResult::Failed: return false;
    case XmlOpenResult::Loaded: return true;
    case XmlOpenResult::Created: break;
  }
  buildSkeleton(*this);
  save(path);
  return open(path, encoding) == XmlOpenResult::Loaded;
}

void XmlDocument::saveOnDestruction() noexcept {
  try {
    save();
  } catch (...) {
    // Destruction never fails; the explicit saves report errors.
  }
}

// ----- XmlNode: hot loops over ASCII names -----
//
// Names are looked up as the bytes they are (ASCII is its own UTF-8), numbers are formatted
// into a stack buffer and set in place: a rescan of thousands of siblings allocates nothing.

bool XmlNode::hasTag(std::string_view asciiTag) const {
  if (empty()) return false;
  return std::string_view(nodeOf(node_).name()) == asciiTag;
}

bool XmlNode::attributeEquals(const char* asciiName, std::string_view asciiValue) const {
  if (empty()) return false;
  pugi::xml_attribute attribute = nodeOf(node_).attribute(asciiName);
  return attribute && std::string_view(attribute.value()) == asciiValue;
}

double XmlNode::numberAttributeAscii(const char* asciiName) {
  if (empty()) return 0.0;
  pugi::xml_attribute attribute = nodeOf(node_).attribute(asciiName);
  if (attribute) {
    double value = parseDoublePrefix(std::string_view(attribute.value()));
    if (value - value == 0.0) return value;  // finite
  }
  setAttributeNumberAscii(asciiName, 0.0);
  return 0.0;
}

void XmlNode::setAttributeNumberAscii(const char* asciiName, double value) {
  if (empty()) fail("setAttribute on an empty element");
  if (asciiName == nullptr || *asciiName == '\0') fail("setAttribute with an empty attribute name");
  char text[kScientificCapacity];
  std::size_t size = formatScientificTo(text, sizeof text, value, 15);
  pugi::xml_node node = nodeOf(node_);
  pugi::xml_attribute attribute = node.attribute(asciiName);
  if (!attribute) attribute = node.append_attribute(asciiName);
  if (!attribute || !attribute.set_value(text, size)) fail("setAttribute failed");
  for (const std::string& key : doc_->keyAttributes) {
    if (key == asciiName) {
      doc_->keyChanged(node, key);
      break;
    }
  }
}

namespace {

// How many children ahead updateChildNumbers fetches an element. The children of a long list
// lie far apart in memory (each is followed by its own subtree), so without reading ahead
// the pass would wait for memory at every child.
constexpr std::size_t kAhead = 16;

// An element record and the attribute records allocated right after it (a few cache lines).
void prefetchElement(NodePtr node) {
  const char* p = reinterpret_cast<const char*>(node);
  __builtin_prefetch(p);
  __builtin_prefetch(p + 64);
  __builtin_prefetch(p + 128);
}

}  // namespace

void XmlNode::updateChildNumbers(std::string_view asciiTag, const char* asciiName,
                                 const XmlNode& skip, NumberUpdate update,
                                 const void* context) {
  if (empty()) return;
  if (asciiName == nullptr || *asciiName == '\0') fail("setAttribute with an empty attribute name");
  const std::string* keyName = nullptr;
  for (const std::string& key : doc_->keyAttributes) {
    if (key == asciiName) keyName = &key;
  }
  // One lookup of the attribute serves both the read and the write; the effects are those of
  // numberAttributeAscii followed by setAttributeNumberAscii.
  auto visit = [&](NodePtr child) {
    pugi::xml_node node(child);
    if (child == skip.node_ || std::string_view(node.name()) != asciiTag) return;
    pugi::xml_attribute attribute = node.attribute(asciiName);
    double value = 0.0;
    if (attribute) {
      value = parseDoublePrefix(std::string_view(attribute.value()));
      if (value - value != 0.0) value = 0.0;  // not finite
    } else {
      attribute = node.append_attribute(asciiName);
    }
    char text[kScientificCapacity];
    std::size_t size = formatScientificTo(text, sizeof text, update(value, context), 15);
    if (!attribute || !attribute.set_value(text, size)) fail("setAttribute failed");
    if (keyName != nullptr) doc_->keyChanged(node, *keyName);
  };
  pugi::xml_node parent = nodeOf(node_);
  const ChildIndex* index = doc_->existingIndex(parent);
  if (index == nullptr) {
    for (pugi::xml_node node = firstElement(parent); node; node = nextElement(node)) {
      visit(node.internal_object());
    }
    return;
  }
  // Setting a number never adds or removes an element, so the index stays as it is.
  const std::vector<NodePtr>& elements = index->elements;
  const std::size_t count = elements.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (i + kAhead < count) prefetchElement(elements[i + kAhead]);
    visit(elements[i]);
  }
}

}  // namespace zelka
