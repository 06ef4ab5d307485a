// Counts what a ghost has learned by reading the files of its learning directory without
// changing them: Bind nodes of bind.xml, words and aliases of index.xml, entries of
// journal.xml, neurons and synapses of neuron.xml, variables of reflex.txt. A file that is
// missing or does not parse is reported as such (the module would create or set it aside).
#pragma once

#include <cstddef>
#include <string>

namespace zelka::host {

enum class StoreState { kMissing, kUnreadable, kBroken, kRead };

struct StoreCount {
  StoreState state = StoreState::kMissing;
  std::size_t items = 0;   // Bind nodes, words, journal entries, neurons or variables
  std::size_t links = 0;   // index aliases, neuron synapses
};

struct LearnedStores {
  StoreCount bind, index, journal, neurons, reflex;
};

// learningDirectory ends with its separator.
LearnedStores countLearnedStores(const std::string& learningDirectory);

// One line per store, e.g. "bind.xml: 120 Bind nodes", each indented by `indent`.
std::string describeStores(const LearnedStores& stores, const std::string& indent);
// One line comparing two counts: "Bind nodes 0 -> 120, index words 0 -> 12, neurons 0 -> 12".
std::string compareStores(const LearnedStores& before, const LearnedStores& after);

}  // namespace zelka::host
