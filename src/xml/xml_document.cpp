#include "xml/xml_document.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/text_codec.h"
#include "util/number_text.h"
#include "xml/xml_child_index.h"
#include "xml/xml_document_impl.h"
#include "xml/xml_encoding.h"

namespace zelka {

namespace {

// Parse flags: keep the declaration (its encoding decides how the file is written back),
// comments and processing instructions (hand edits survive a save). Document type
// declarations are skipped, never interpreted: no entity is expanded or fetched.
constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_declaration |
                                 pugi::parse_comments | pugi::parse_pi;

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
  const auto& keys = doc_->indexes.keyAttributes();
  if (std::find(keys.begin(), keys.end(), key) != keys.end()) doc_->indexes.keyChanged(node, key);
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
  return doc_->indexes.indexOf(nodeOf(node_)).elements.size();
}

XmlNode XmlNode::child(std::size_t index) const {
  if (empty()) return {};
  const auto& elements = doc_->indexes.indexOf(nodeOf(node_)).elements;
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
  KeySearch found = doc_->indexes.search(nodeOf(node_), toXmlUtf8(keyAttribute), toXmlUtf8(key));
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
  KeySearch found = doc_->indexes.search(parent, attributeName, wanted);
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
    doc_->indexes.existingIndex(parent)->insertAt(found.position, node.internal_object(),
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
  doc_->indexes.inserted(parent, node);
  return XmlNode(doc_, node.internal_object());
}

XmlNode XmlNode::prependChild(std::u16string_view tag) {
  if (empty()) fail("prependChild on an empty element");
  std::string name = toXmlUtf8(tag);
  if (name.empty()) fail("prependChild without a tag");
  pugi::xml_node parent = nodeOf(node_);
  pugi::xml_node node = parent.prepend_child(name.c_str());
  if (!node) fail("prependChild failed");
  doc_->indexes.inserted(parent, node);
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
  doc_->indexes.inserted(parent, node);
  return XmlNode(doc_, node.internal_object());
}

bool XmlNode::remove() {
  if (empty()) return false;
  pugi::xml_node node = nodeOf(node_);
  pugi::xml_node parent = node.parent();
  if (!parent) return false;
  if (ChildIndex* index = doc_->indexes.existingIndex(parent)) index->erase(node.internal_object());
  doc_->indexes.destroyChildren(node);
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
  for (const std::string& key : doc_->indexes.keyAttributes()) {
    if (key == asciiName) {
      doc_->indexes.keyChanged(node, key);
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
  for (const std::string& key : doc_->indexes.keyAttributes()) {
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
    if (keyName != nullptr) doc_->indexes.keyChanged(node, *keyName);
  };
  pugi::xml_node parent = nodeOf(node_);
  const ChildIndex* index = doc_->indexes.existingIndex(parent);
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
