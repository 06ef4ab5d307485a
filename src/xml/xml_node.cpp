#include "xml/xml_node.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include <pugixml.hpp>

#include "platform/clock.h"
#include "platform/text_codec.h"
#include "util/number_text.h"
#include "xml/xml_child_index.h"
#include "xml/xml_document_impl.h"
#include "xml/xml_encoding.h"

namespace zelka {

int compareKeys(std::u16string_view a, std::u16string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

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

std::vector<std::u16string> XmlNode::attributeNames() const {
  std::vector<std::u16string> names;
  if (empty()) return names;
  for (pugi::xml_attribute attribute : nodeOf(node_).attributes()) {
    names.push_back(utf8ToUtf16(attribute.name()));
  }
  return names;
}

void XmlNode::setAttribute(std::u16string_view name, std::u16string_view value) {
  if (empty()) fail("setAttribute on an empty element");
  std::string key = toXmlUtf8(name);
  if (key.empty()) fail("setAttribute with an empty attribute name");
  pugi::xml_node node = nodeOf(node_);
  pugi::xml_attribute attribute = node.attribute(key.c_str());
  if (!attribute) attribute = node.append_attribute(key.c_str());
  if (!attribute || !attribute.set_value(toXmlUtf8(value).c_str())) fail("setAttribute failed");
  ++doc_->edits;
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
  ++doc_->edits;
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
  ++doc_->edits;
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
  ++doc_->edits;
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
  ++doc_->edits;
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
  ++doc_->edits;
  node_ = nullptr;
  doc_ = nullptr;
  return true;
}

}  // namespace zelka
