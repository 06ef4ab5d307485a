// The XML document wrapper every store and the configuration go through. It gives the stores
// a load that starts a fresh document when the file is missing, a crash-safe save back to the
// file the document came from, and element lists kept sorted by a key attribute, searched by
// bisection (the i-th element child is reached in O(1) through an index the wrapper keeps up
// to date) and extended by sorted insertion. Names and values are UTF-16; files are Shift_JIS
// (or UTF-8 when they declare no encoding). Data values are never pasted into query text:
// keyed lookups compare attributes directly.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zelka {

enum class XmlOpenResult : int { Failed = 0, Loaded = 1, Created = -1 };

// What open does with a file that exists but does not parse.
enum class BrokenFilePolicy {
  KeepAside,  // rename it aside ("<file>.broken-<time>") and start a fresh document (stores)
  Fail,       // leave it untouched and report Failed (the configuration)
};

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

  // ----- Hot loops: ASCII names, no conversion, no allocation -----
  // The answers and effects of the UTF-16 forms above, for names and values made of ASCII
  // characters, for the loops that touch every child of a long list (the bind network rewrites
  // every sibling's distance at each passage).
  bool hasTag(std::string_view asciiTag) const;
  // Whether the attribute is present and equal to the value.
  bool attributeEquals(const char* asciiName, std::string_view asciiValue) const;
  double numberAttributeAscii(const char* asciiName);                 // as numberAttribute
  void setAttributeNumberAscii(const char* asciiName, double value);  // as setAttributeNumber
  // For every element child with the tag, in document order, `skip` excepted: reads the
  // number attribute as numberAttributeAscii does and sets it to update(value, context) as
  // setAttributeNumberAscii does. A long list is read ahead in memory, so that the pass does
  // not wait for every child in turn.
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

// One XML document bound to the file it was loaded from.
class XmlDocument {
 public:
  XmlDocument();
  virtual ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Opens the file. Loaded: the file parsed; the document is bound to it. Created: the file
  // was missing (or broken and kept aside by the policy); the document holds only the
  // declaration version='1.0' encoding='<encoding>' and is bound to no file. Failed: no path,
  // a file that exists but cannot be read, or a broken file under BrokenFilePolicy::Fail.
  // Under KeepAside, leftover temporary files of an interrupted save of this path are
  // removed. The declared encoding is read: Shift_JIS and its aliases (decoded leniently as
  // code page 932), UTF-8, or none (UTF-8); invalid UTF-8 or any other encoding counts as a
  // file that does not parse. Document type declarations are skipped, never expanded.
  XmlOpenResult open(const std::u16string& path, const std::u16string& encoding = u"Shift_JIS",
                     BrokenFilePolicy policy = BrokenFilePolicy::KeepAside);
  // Same, from text already in memory (tests and tools); the document is bound to no file.
  XmlOpenResult openFromText(std::string_view bytes);

  // Writes the document crash-safely to the path, or without a path to the file it is bound
  // to; false when there is no document or no known file. The file is written in the encoding
  // its declaration names; characters that encoding cannot hold become character references
  // (in names '_', in comments and processing instructions '?', where XML has no way to write
  // them). A declaration naming an encoding we cannot write makes the save fail (false).
  // A save to a path binds the document to it.
  bool save(const std::optional<std::u16string>& path = std::nullopt);
  // The serialised bytes a save would write; empty when there is nothing we can write.
  std::string serialize() const;

  bool hasDocument() const;
  const std::u16string& boundPath() const;

  // Top-level elements of the document.
  XmlNode documentElement(std::u16string_view tag) const;  // first top-level with tag
  XmlNode documentElementWithAttribute(std::u16string_view tag, std::u16string_view attribute,
                                       std::u16string_view value) const;
  // Throws XmlError when there is no document or it already has its element.
  XmlNode appendDocumentElement(std::u16string_view tag);

 protected:
  // How every store opens its file: open; a fresh document gets its skeleton (its root element,
  // made by `buildSkeleton`), is saved to the path and opened again. True when the file ends up
  // loaded.
  bool openStore(const std::u16string& path, const std::u16string& encoding,
                 const std::function<void(XmlDocument&)>& buildSkeleton);
  // A store's destructor writes it back to its file; errors are left to the explicit saves.
  void saveOnDestruction() noexcept;

 private:
  std::unique_ptr<XmlDocumentImpl> impl_;
};

}  // namespace zelka
