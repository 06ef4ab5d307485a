// Fuzz target: the neuron network file neuron.xml, loaded by the knowledge set, its neurons'
// expressions and links read and extended, new neurons created among the file's own, saved
// and read back.
#include <cstdint>
#include <set>
#include <string>

#include "learning/concept_learning.h"
#include "store_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zelka::fuzz::storeFixture().run("neuron.xml", zelka::fuzz::asText(data, size),
                                  [](zelka::KnowledgeSet& set) {
    zelka::NeuronNetwork& neurons = set.neuronNetwork();
    zelka::ConceptLearning learning(set);
    std::u16string previous;
    int visited = 0;
    for (zelka::XmlNode child = neurons.structureRoot().firstChild(); child && visited < 32;
         child = child.nextSibling(), ++visited) {
      zelka::Neuron neuron(child);
      const std::u16string name = neuron.name();
      (void)neuron.firstExpression();
      (void)neurons.findNeuron(name);
      std::set<std::u16string> links;
      for (int direction : {zelka::kUpward, zelka::kDownward}) {
        for (int kind : {zelka::kConceptLink, zelka::kBindLink}) {
          neuron.collectLinks(direction, kind, links);
        }
      }
      zelka::WordSet members;
      learning.members(name, {}, members);
      if (!previous.empty()) neuron.connect(zelka::kDownward, zelka::kConceptLink, previous);
      neuron.addExpressions({u"x", u"y"});
      previous = name;
    }
    zelka::Neuron created = neurons.createNeuron();
    created.addExpressions({u"fresh"});
    if (!previous.empty()) created.connect(zelka::kUpward, zelka::kConceptLink, previous);

    learning.learnCategory(u"cat", {{u"a", u"b"}});
    std::u16string word;
    std::uint64_t depth = 0;
    learning.associate(4, depth, u"(\"cat\")", word);
  });
  return 0;
}
