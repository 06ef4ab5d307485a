// What an XmlDocument holds behind its handles: the DOM document, the buffer it was parsed
// from in place, the file it is bound to and the child indexes of its keyed lists. XmlNode
// handles point at it, so the node and document code share it. Used by the xml layer only.
#pragma once

#include <cstdint>
#include <string>

#include <pugixml.hpp>

#include "xml/xml_child_index.h"
#include "xml/xml_document.h"
#include "xml/xml_node.h"

namespace zelka {

struct XmlDocumentImpl {
  pugi::xml_document doc;
  std::string buffer;  // parsed in place: pugixml's strings point into it
  bool hasDocument = false;
  std::u16string boundPath;
  bool readOnly = false;  // opened with openReadOnly: every save is refused
  ChildIndexes indexes;
  XmlOpenProblem openProblem;  // of the last open; not cleared by reset
  // Edits made through the handles, and how many of them the bound file holds. Plain
  // counters: a document is edited by one thread at a time (the think thread edits the bind
  // network only while the owner leaves it alone and joins it before looking again).
  std::uint64_t edits = 0;
  std::uint64_t savedEdits = 0;

  static XmlNode wrap(XmlDocumentImpl* impl, pugi::xml_node node) {
    return node ? XmlNode(impl, node.internal_object()) : XmlNode();
  }

  void reset() {
    doc.reset();
    buffer.clear();
    buffer.shrink_to_fit();
    hasDocument = false;
    boundPath.clear();
    readOnly = false;
    indexes.clear();
    edits = 0;
    savedEdits = 0;
  }
};

inline pugi::xml_node nodeOf(void* node) {
  return pugi::xml_node(static_cast<pugi::xml_node_struct*>(node));
}

[[noreturn]] inline void fail(const char* what) { throw XmlError(what); }

}  // namespace zelka
