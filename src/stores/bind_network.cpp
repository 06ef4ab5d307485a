#include "stores/bind_network.h"

#include <cmath>
#include <limits>

namespace zelka {
namespace {

constexpr std::u16string_view kBind = u"Bind";
constexpr std::u16string_view kName = u"name";
constexpr std::u16string_view kRoot = u"root";

// The same names as bytes, for the loops over every sibling.
constexpr const char* kBindTag = "Bind";
constexpr const char* kNameAttribute = "name";
constexpr const char* kDistanceAttribute = "distance";
constexpr const char* kTotalAttribute = "total";
constexpr std::string_view kRootName = "root";

// Children farther than this are dropped when their parent is reinforced.
constexpr double kPruneDistance = 1.5;

// The distance written for a link whose share cannot be expressed (a count of zero or below,
// only reachable from a hand-edited total, or a distance edited to "inf" or "1e999"). Writing
// infinity or NaN would read back as 1 (the text of an infinity starts with "1."), reviving
// the dead link; a huge finite distance keeps it out of every lookup and lets the next prune
// remove it.
constexpr double kUnreachableDistance = 1.0e300;

double finiteDistance(double d) {
  return std::isfinite(d) ? d : kUnreachableDistance;
}

// A link's distance as the arithmetic uses it. A missing one is written back as 0; one that is
// not a finite number is a link never followed, written back as the unreachable distance.
// Reading such a text as 0 instead would make a hand-edited "inf" the strongest link.
double readDistance(XmlNode& node) {
  std::optional<double> d = node.numberAttributeAsciiAsRead(kDistanceAttribute);
  if (d && std::isfinite(*d)) return *d;
  const double value = d ? kUnreachableDistance : 0.0;
  node.setAttributeNumberAscii(kDistanceAttribute, value);
  return value;
}

double limitForMode(int mode) {
  switch (mode) {
    case 1: return 0.5;
    case 2: return 1.5;
    default: return 100.0;
  }
}

bool isBind(const XmlNode& e) { return e.hasTag(kBindTag); }

// Every count under a parent keeps its value while the parent's total grows from T to T + 1:
// each sibling's distance is recomputed against the new total. `skip` (the node whose own
// distance the caller sets afterwards) is left out.
void rescaleSiblings(XmlNode& parent, const XmlNode& skip, double T) {
  parent.updateChildNumbers(
      kBindTag, kDistanceAttribute, skip,
      [](double distance, const void* context) {
        const double T = *static_cast<const double*>(context);
        if (!std::isfinite(distance)) return kUnreachableDistance;  // as readDistance reads it
        double count = T * std::pow(10.0, -distance);
        return finiteDistance(std::fabs(std::log10(count / (T + 1.0))));
      },
      &T);
}

// Removes the children of node that have become too rare to follow. Removing one never
// changes another's distance, so one pass finds exactly the children a restarting walk would.
int pruneChildren(XmlNode& node) {
  int removed = 0;
  XmlNode c = node.firstChild();
  while (!c.empty()) {
    XmlNode next = c.nextSibling();
    if (isBind(c) && !c.attributeEquals(kNameAttribute, kRootName) &&
        readDistance(c) > kPruneDistance) {
      c.remove();
      ++removed;
    }
    c = next;
  }
  return removed;
}

// Registration and reinforcement share the rest: rescale the siblings, prune the node's
// children, count the passage in the parent's total, then give the node its new distance.
void registerPassage(XmlNode& node, XmlNode& parent, double T, double newDistance) {
  rescaleSiblings(parent, node, T);
  pruneChildren(node);
  parent.setAttributeNumberAscii(kTotalAttribute, T + 1.0);
  node.setAttributeNumberAscii(kDistanceAttribute, finiteDistance(newDistance));
}

}  // namespace

std::optional<std::u16string> BindNode::name() const {
  if (element_.empty()) return std::nullopt;
  try {
    return element_.attribute(kName);
  } catch (const XmlError&) {
    return std::nullopt;
  }
}

double BindNode::distance() {
  if (element_.empty()) return 0.0;
  return readDistance(element_);
}

double BindNode::total() {
  if (element_.empty()) return 0.0;
  return element_.numberAttributeAscii(kTotalAttribute);
}

bool BindNode::setDistance(double value) {
  if (element_.empty()) return false;
  element_.setAttributeNumberAscii(kDistanceAttribute, value);
  return true;
}

bool BindNode::setTotal(double value) {
  if (element_.empty()) return false;
  element_.setAttributeNumberAscii(kTotalAttribute, value);
  return true;
}

BindNode BindNode::findChild(std::u16string_view name, int mode) const {
  if (element_.empty()) return BindNode();
  XmlNode child = element_.findChildByKey(kName, name).match;
  if (child.empty() || readDistance(child) > limitForMode(mode)) {
    return BindNode();
  }
  return BindNode(child);
}

bool BindNode::addChild(const BindNode& parent, std::u16string_view name) {
  element_ = XmlNode();
  if (parent.empty()) return false;
  XmlNode p = parent.element();
  XmlNode child = p.insertSorted(kBind, kName, name);
  if (child.empty()) return false;  // a child of that name exists; nothing changed
  child.setAttributeNumberAscii(kDistanceAttribute, 1.0);
  child.setAttributeNumberAscii(kTotalAttribute, 0.0);
  element_ = child;
  double T = p.numberAttributeAscii(kTotalAttribute);
  registerPassage(child, p, T, std::fabs(std::log10(1.0 / (T + 1.0))));
  return true;
}

bool BindNode::reinforce() {
  if (element_.empty()) return false;
  XmlNode p = element_.parent();
  if (p.empty()) return false;  // the root hangs under the document
  double T = p.numberAttributeAscii(kTotalAttribute);
  double count = T * std::pow(10.0, -readDistance(element_));
  registerPassage(element_, p, T, std::fabs(std::log10((count + 1.0) / (T + 1.0))));
  return true;
}

BindNetworkStore::~BindNetworkStore() { saveOnDestruction(); }

bool BindNetworkStore::load(const std::u16string& path, const std::u16string& encoding) {
  return openStore(path, encoding, [](XmlDocument& d) {
    XmlNode root = d.appendDocumentElement(kBind);
    root.setAttribute(kName, kRoot);
    root.setAttributeNumberAscii(kTotalAttribute, 0.0);
  });
}

BindNode BindNetworkStore::root() const {
  if (!hasDocument()) return BindNode();
  return BindNode(documentElementWithAttribute(kBind, kName, kRoot));
}

}  // namespace zelka
