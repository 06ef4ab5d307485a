// A handle on one element of an XML document (XmlNode) and the key order of sorted lists.
// Names and values are UTF-16 on this side; the document holds UTF-8. Element lists can be
// kept sorted by a key attribute, searched by bisection (the i-th element child is reached in
// O(1) through an index the document keeps up to date) and extended by sorted insertion.
// Data values are never pasted into query text: keyed lookups compare attributes directly.
// Hot loops over long lists have ASCII forms that neither convert nor allocate.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zelka {

// A failing DOM operation: an edit through an empty handle, an empty tag or attribute name, a
// reference element that is not a child, exhausted memory. Queries on an empty handle never
// throw; they answer empty, nullopt or 0.
class XmlError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// UTF-16 code-unit order, unsigned, shorter prefix first (the key order of sorted lists).
int compareKeys(std::u16string_view a, std::u16string_view b);

class XmlDocument;
struct XmlDocumentImpl;
struct XmlKeyLookup;

// A small value handle on one element of a document, or on nothing. Copying is cheap; the
// handle stays valid while its element is in the document and the document lives (opening
// the document again invalidates every handle).
//
// Text XML cannot carry (C0 controls other than tab, line feed and carriage return, unpaired
// surrogates, U+FFFE, U+FFFF) is stored as U+FFFD; keys are cleaned the same way before they
// are compared, so what was stored is found again with the text it was stored with.
class XmlNode {
 public:
  XmlNode() = default;

  bool empty() const { return node_ == nullptr; }
  explicit operator bool() const { return !empty(); }
  bool operator==(const XmlNode& other) const { return node_ == other.node_; }

  std::u16string tagName() const;

  // Attribute access. attribute() answers nullopt when the attribute is missing.
  std::optional<std::u16string> attribute(std::u16string_view name) const;
  // The names of the element's attributes in document order.
  std::vector<std::u16string> attributeNames() const;
  void setAttribute(std::u16string_view name, std::u16string_view value);
  void setAttributeNumber(std::u16string_view name, double value);       // "%.15e"
  void setAttributeInteger(std::u16string_view name, long long value);   // "%d"
  // Reads a floating-point attribute with strtod semantics. A missing attribute, or one
  // whose value is not finite, is written back as 0 and 0 is answered.
  double numberAttribute(std::u16string_view name);

  // Tree walks over element children only (comments, text and processing instructions are
  // never returned). parent() is empty for the document's top-level elements.
  XmlNode parent() const;
  std::size_t childCount() const;
  XmlNode child(std::size_t index) const;  // O(1); empty when out of range
  XmlNode firstChild() const;
  XmlNode nextSibling() const;
  // The first element child with the tag (empty tag: any).
  XmlNode findChild(std::u16string_view tag) const;
  // The first element child with the tag (empty tag: any) whose attribute equals value.
  XmlNode findChildWithAttribute(std::u16string_view tag, std::u16string_view attribute,
                                 std::u16string_view value) const;

  // Keyed children: element children ordered ascending by keyAttribute in compareKeys order.
  // Lists a hand edit left in disorder are handled so that nothing stalls or gets lost: the
  // first keyed lookup on a parent whose keyed children are out of order stable-sorts its
  // element children in the document (comments and text stay in the parent); elements without
  // the key attribute sort after all keyed ones and are never matched; of equal keys the first
  // in document order is the one found, the others are kept untouched. Children inserted or
  // re-keyed out of order through the other edits are sorted again at the next keyed lookup.
  using KeyLookup = XmlKeyLookup;
  KeyLookup findChildByKey(std::u16string_view keyAttribute, std::u16string_view key) const;
  // Creates <tag keyAttribute="key"/> at its sorted place. Empty (and nothing inserted) when
  // a child with that key exists.
  XmlNode insertSorted(std::u16string_view tag, std::u16string_view keyAttribute,
                       std::u16string_view key);
  // A key that no child carries: prefix + "%08X" of the millisecond tick count + "%08X" of
  // the calendar second, counting the second up until it is free.
  std::u16string makeUniqueKey(std::u16string_view keyAttribute, std::u16string_view prefix) const;

  // Structural edits; each returns the new element.
  XmlNode appendChild(std::u16string_view tag);
  XmlNode prependChild(std::u16string_view tag);
  XmlNode insertChildBefore(std::u16string_view tag, const XmlNode& reference);
  // Removes this element (and its subtree) from its parent; the handle becomes empty.
  bool remove();

  // ----- Hot loops (xml_node_fast.cpp): ASCII names, no conversion, no allocation -----
  // The answers and effects of the UTF-16 forms above, for names and values made of ASCII
  // characters, for the loops that touch every child of a long list (the bind network rewrites
  // every sibling's distance at each passage).
  bool hasTag(std::string_view asciiTag) const;
  // Whether the attribute is present and equal to the value.
  bool attributeEquals(const char* asciiName, std::string_view asciiValue) const;
  double numberAttributeAscii(const char* asciiName);                 // as numberAttribute
  // The attribute read with strtod semantics and nothing written back: a value that is not
  // finite ("inf", "1e999", "nan") is answered as read; nullopt when the attribute is missing.
  std::optional<double> numberAttributeAsciiAsRead(const char* asciiName) const;
  void setAttributeNumberAscii(const char* asciiName, double value);  // as setAttributeNumber
  // For every element child with the tag, in document order, `skip` excepted: reads the
  // number attribute as numberAttributeAsciiAsRead does (a missing one as 0; a value that is
  // not finite is handed to update as read, for the caller to decide what it means) and sets
  // it to update(value, context) as setAttributeNumberAscii does. A long list is read ahead
  // in memory, so that the pass does not wait for every child in turn.
  using NumberUpdate = double (*)(double value, const void* context);
  void updateChildNumbers(std::string_view asciiTag, const char* asciiName,
                          const XmlNode& skip, NumberUpdate update, const void* context);

 private:
  friend class XmlDocument;
  friend struct XmlDocumentImpl;
  XmlNode(XmlDocumentImpl* doc, void* node) : doc_(doc), node_(node) {}
  XmlDocumentImpl* doc_ = nullptr;
  void* node_ = nullptr;  // pugi::xml_node_struct*
};

// The answer of a keyed lookup (XmlNode::KeyLookup).
struct XmlKeyLookup {
  XmlNode match;      // the child carrying the key, or empty
  XmlNode neighbour;  // without a match: the child before which the key belongs, or
                      // empty for the end of the list
};

}  // namespace zelka
