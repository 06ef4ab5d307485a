#include "stores/neuron_network.h"

#include <algorithm>
#include <cmath>

#include "platform/clock.h"
#include "util/number_text.h"

namespace zelka {
namespace {

constexpr std::u16string_view kNeuronStructure = u"NeuronStructure";
constexpr std::u16string_view kNeuron = u"Neuron";
constexpr std::u16string_view kExpressions = u"Expressions";
constexpr std::u16string_view kExpression = u"Expression";
constexpr std::u16string_view kUpwardNetwork = u"UpwardNetowrk";
constexpr std::u16string_view kDownwardNetwork = u"DownwardNetowrk";
constexpr std::u16string_view kConcept = u"Concept";
constexpr std::u16string_view kBind = u"Bind";
constexpr std::u16string_view kSynapse = u"Synapse";
constexpr std::u16string_view kName = u"name";
constexpr std::u16string_view kLifetime = u"lifetime";
constexpr std::u16string_view kDistance = u"distance";
constexpr std::u16string_view kNeuronPrefix = u"NEUR";

std::u16string_view directionName(int direction) {
  return direction == kUpward ? kUpwardNetwork : kDownwardNetwork;
}

std::u16string_view groupName(int kind) { return kind == kBindLink ? kBind : kConcept; }

long long lifetimeFromNow() { return secondsSinceEpoch() + kNeuronLifetimeSeconds; }

// The child with the tag, created at the end when it is missing.
XmlNode childOrAppend(const XmlNode& parent, std::u16string_view tag) {
  XmlNode found = parent.findChild(tag);
  if (!found.empty()) return found;
  XmlNode p = parent;
  return p.appendChild(tag);
}

// The link group of a direction and kind, created on first use (a hand-edited neuron that
// lost its direction element gets it back).
XmlNode linkGroup(const XmlNode& neuron, int direction, int kind) {
  return childOrAppend(childOrAppend(neuron, directionName(direction)), groupName(kind));
}

// Removes every child with the tag whose "name" equals the text, comparing attributes.
void removeNamed(const XmlNode& parent, std::u16string_view tag, std::u16string_view name) {
  for (XmlNode e = parent.findChildWithAttribute(tag, kName, name); !e.empty();
       e = parent.findChildWithAttribute(tag, kName, name)) {
    e.remove();
  }
}

}  // namespace

std::u16string Neuron::name() const {
  if (element_.empty()) return {};
  try {
    return element_.attribute(kName).value_or(std::u16string());
  } catch (const XmlError&) {
    return {};
  }
}

std::u16string Neuron::firstExpression() const {
  if (element_.empty()) return {};
  XmlNode expressions = element_.findChild(kExpressions);
  if (expressions.empty()) return {};
  XmlNode first = expressions.findChild(kExpression);
  if (first.empty()) return {};
  return first.attribute(kName).value_or(std::u16string());
}

std::vector<std::u16string> Neuron::expressions() const {
  std::vector<std::u16string> texts;
  if (element_.empty()) return texts;
  XmlNode expressions = element_.findChild(kExpressions);
  for (XmlNode e = expressions.firstChild(); !e.empty(); e = e.nextSibling()) {
    if (e.tagName() != kExpression) continue;
    if (std::optional<std::u16string> text = e.attribute(kName)) texts.push_back(std::move(*text));
  }
  return texts;
}

int Neuron::addExpressions(const std::vector<std::u16string>& texts) {
  if (element_.empty()) return 0;
  XmlNode expressions = element_.findChild(kExpressions);
  if (expressions.empty()) expressions = element_.prependChild(kExpressions);
  // The list is in recency order, not sorted, so an older copy of a text is looked for
  // linearly; it is moved to the front rather than left behind as a duplicate.
  for (const std::u16string& text : texts) removeNamed(expressions, kExpression, text);
  int inserted = 0;
  for (auto it = texts.rbegin(); it != texts.rend(); ++it) {
    // An empty text says nothing; a text repeated in the list is written once, at the place
    // of its first occurrence.
    if (it->empty() || std::find(it + 1, texts.rend(), *it) != texts.rend()) continue;
    XmlNode e = expressions.prependChild(kExpression);
    e.setAttribute(kName, *it);
    ++inserted;
  }
  return inserted;
}

bool Neuron::connect(int direction, int kind, std::u16string_view target) {
  if (element_.empty()) return false;
  XmlNode group = linkGroup(element_, direction, kind);
  // A synapse standing directly under the direction element (outside any group) is a stray
  // and goes; one inside the group is kept as it is.
  removeNamed(element_.findChild(directionName(direction)), kSynapse, target);
  if (target.empty()) return false;
  XmlNode synapse = group.insertSorted(kSynapse, kName, target);
  if (!synapse.empty()) {
    synapse.setAttributeNumber(kDistance, 1.0);
    synapse.setAttributeInteger(kLifetime, lifetimeFromNow());
  }
  return true;
}

int Neuron::collectLinks(int direction, int kind, std::set<std::u16string>& out) {
  if (element_.empty()) return 0;
  XmlNode group = linkGroup(element_, direction, kind);
  int visited = 0;
  for (XmlNode s = group.firstChild(); !s.empty(); s = s.nextSibling()) {
    if (s.tagName() != kSynapse) continue;
    ++visited;
    try {
      if (std::optional<std::u16string> n = s.attribute(kName)) out.insert(std::move(*n));
    } catch (const XmlError&) {
      // An unreadable link is skipped.
    }
  }
  return visited;
}

std::vector<Neuron::Link> Neuron::links(int direction, int kind) const {
  std::vector<Link> found;
  if (element_.empty()) return found;
  XmlNode group = element_.findChild(directionName(direction)).findChild(groupName(kind));
  for (XmlNode s = group.firstChild(); !s.empty(); s = s.nextSibling()) {
    if (s.tagName() != kSynapse) continue;
    std::optional<std::u16string> target = s.attribute(kName);
    if (!target || target->empty()) continue;
    double distance = parseDoublePrefix(s.attribute(kDistance).value_or(std::u16string()));
    found.push_back({std::move(*target), std::isfinite(distance) ? distance : 0.0});
  }
  return found;
}

NeuronNetwork::~NeuronNetwork() { saveOnDestruction(); }

bool NeuronNetwork::load(const std::u16string& path, const std::u16string& encoding) {
  return openStore(path, encoding,
                   [](XmlDocument& d) { d.appendDocumentElement(kNeuronStructure); });
}

XmlNode NeuronNetwork::structureRoot() const {
  if (!hasDocument()) return XmlNode();
  return documentElement(kNeuronStructure);
}

Neuron NeuronNetwork::findNeuron(std::u16string_view name) const {
  XmlNode root = structureRoot();
  if (root.empty() || name.empty()) return Neuron();
  return Neuron(root.findChildByKey(kName, name).match);
}

Neuron NeuronNetwork::createNeuron() {
  XmlNode root = structureRoot();
  if (root.empty()) return Neuron();
  std::u16string id = root.makeUniqueKey(kName, kNeuronPrefix);
  XmlNode neuron = root.insertSorted(kNeuron, kName, id);
  if (neuron.empty()) return Neuron();
  neuron.setAttributeInteger(kLifetime, lifetimeFromNow());
  neuron.appendChild(kExpressions);
  neuron.appendChild(kUpwardNetwork);
  neuron.appendChild(kDownwardNetwork);
  return Neuron(neuron);
}

}  // namespace zelka
