// The neuron network neuron.xml, the ghost's concept memory. "NeuronStructure" holds the
// "Neuron" elements sorted by id ("NEUR" + 16 upper-case hexadecimal digits). A neuron carries
// its expressions (newest first; the first is its display expression) and synapses to other
// neurons, grouped by direction ("UpwardNetowrk" toward the general, "DownwardNetowrk" toward
// the specific) and kind ("Concept" or "Bind"), each group sorted by target id.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_document.h"

namespace zelka {

// Direction codes: 0 upward, any other value downward.
inline constexpr int kUpward = 0;
inline constexpr int kDownward = 1;
// Kind codes: 1 the "Bind" group, any other value "Concept".
inline constexpr int kConceptLink = 0;
inline constexpr int kBindLink = 1;

// Seconds a neuron or synapse is given to live when it is created (written, never read).
inline constexpr std::int64_t kNeuronLifetimeSeconds = 432000;

// A light handle on one "Neuron" element, passed by value. On an empty handle every
// operation does nothing and answers false, 0 or an empty string.
class Neuron {
 public:
  Neuron() = default;
  explicit Neuron(XmlNode element) : element_(element) {}

  const XmlNode& element() const { return element_; }
  bool empty() const { return element_.empty(); }
  explicit operator bool() const { return !empty(); }

  std::u16string name() const;             // the id
  std::u16string firstExpression() const;  // the display expression, or empty
  // Every expression, newest first (the display expression first); a nameless one is skipped.
  std::vector<std::u16string> expressions() const;

  // Puts the texts at the front of the expressions in list order; an existing expression of
  // the same text is moved, never duplicated. Answers the number inserted.
  int addExpressions(const std::vector<std::u16string>& texts);

  // Links this neuron to the target id in the direction's group of that kind (created on
  // first use). A link to the same target stays as it was. False for an empty target.
  bool connect(int direction, int kind, std::u16string_view target);

  // Inserts the target id of every link of the group into out (creating the empty group when
  // it is missing) and answers the number of links visited.
  int collectLinks(int direction, int kind, std::set<std::u16string>& out);

  struct Link {
    std::u16string target;  // the target neuron's id
    double distance;        // as stored; missing, unreadable or not finite reads as 0
  };
  // The links of the group in document order, for reading only: a missing group is not
  // created and nothing is written back. A link without a target is skipped.
  std::vector<Link> links(int direction, int kind) const;

 private:
  XmlNode element_;
};

class NeuronNetwork : public XmlDocument {
 public:
  ~NeuronNetwork() override;   // saves to the loaded file

  // Opens the file; a missing one is created holding only an empty "NeuronStructure".
  bool load(const std::u16string& path, const std::u16string& encoding = u"Shift_JIS");

  XmlNode structureRoot() const;           // "NeuronStructure", or empty
  Neuron findNeuron(std::u16string_view name) const;
  // A new neuron with a fresh unique id, empty expressions and no links; empty when the
  // document has no "NeuronStructure".
  Neuron createNeuron();
};

}  // namespace zelka
