// The ASCII hot loops of XmlNode (declared in xml_node.h): names are looked up as the bytes
// they are (ASCII is its own UTF-8), numbers are formatted into a stack buffer and set in
// place: a rescan of thousands of siblings allocates nothing.
#include "xml/xml_node.h"

#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "util/number_text.h"
#include "xml/xml_child_index.h"
#include "xml/xml_document_impl.h"

namespace zelka {

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

std::optional<double> XmlNode::numberAttributeAsciiAsRead(const char* asciiName) const {
  if (empty()) return std::nullopt;
  pugi::xml_attribute attribute = nodeOf(node_).attribute(asciiName);
  if (!attribute) return std::nullopt;
  return parseDoublePrefix(std::string_view(attribute.value()));
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
  ++doc_->edits;
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
    } else {
      attribute = node.append_attribute(asciiName);
    }
    char text[kScientificCapacity];
    std::size_t size = formatScientificTo(text, sizeof text, update(value, context), 15);
    if (!attribute || !attribute.set_value(text, size)) fail("setAttribute failed");
    if (keyName != nullptr) doc_->indexes.keyChanged(node, *keyName);
  };
  pugi::xml_node parent = nodeOf(node_);
  ++doc_->edits;
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
