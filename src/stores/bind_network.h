// The bind network bind.xml: a tree of "Bind" elements, one character per node, whose links
// carry a distance |log10(count / total(parent))| and whose nodes carry the total of their
// children's counts. Learning adds and reinforces paths one character at a time.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "xml/xml_document.h"

namespace zelka {

class BindNode {
 public:
  BindNode() = default;
  explicit BindNode(XmlNode element) : element_(element) {}

  const XmlNode& element() const { return element_; }
  bool empty() const { return element_.empty(); }
  explicit operator bool() const { return !empty(); }

  std::optional<std::u16string> name() const;
  // Missing or unreadable: written back as 0, answers 0. Not a finite number ("inf",
  // "1e999"): a link never followed, written back and answered as 1e300.
  double distance();
  double total();
  bool setDistance(double value);
  bool setTotal(double value);

  // The child with that name when its distance is within the mode's limit (mode 1: 0.5,
  // mode 2: 1.5, any other: 100.0); empty otherwise.
  BindNode findChild(std::u16string_view name, int mode) const;
  // Adds a child named `name` under parent and makes this node that child, registered with
  // count 1 (siblings rescaled, parent total + 1). False, and this node left empty, when the
  // parent already has a child of that name.
  bool addChild(const BindNode& parent, std::u16string_view name);
  // Counts one more passage through this node (siblings rescaled, parent total + 1).
  bool reinforce();

 private:
  XmlNode element_;
};

class BindNetworkStore : public XmlDocument {
 public:
  ~BindNetworkStore() override;   // saves to the loaded file
  // Opens the file; a missing one is created holding only the root.
  bool load(const std::u16string& path, const std::u16string& encoding = u"Shift_JIS");
  bool saveStore(const std::optional<std::u16string>& path = std::nullopt) { return save(path); }
  BindNode root() const;          // the Bind element named "root"
};

}  // namespace zelka
